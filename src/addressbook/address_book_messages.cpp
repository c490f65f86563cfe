#include "addressbook/address_book_messages.h"

#include "ui/message_service.h"

namespace qarsilo {

bool openAddressBook(AddressDatabase& db) {
    if (db.open())
        return true;
    MessageService::message(db.lastError());
    return false;
}

void reportReadFailure(const AddressDatabase& db) {
    MessageService::message(
        QStringLiteral("The address book could not be read completely:\n%1").arg(db.lastError()),
        {}, MessageService::Icon::Warning);
}

void reportWriteFailure(const AddressDatabase& db) {
    MessageService::message(QStringLiteral("The change could not be saved in the address book:\n%1")
                                .arg(db.lastError()),
                            {}, MessageService::Icon::Warning);
}

} // namespace qarsilo
