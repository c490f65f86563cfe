#include "addressbook/address_book_messages.h"

#include "ui/message_service.h"

namespace qarsilo {

bool openAddressBook(AddressDatabase& db) {
    if (db.open())
        return true;
    MessageService::message(db.lastError());
    return false;
}

namespace {

// Failures to set up a statement have texts of their own, shown as they are.
bool reportSetupFailure(const AddressDatabase& db) {
    switch (db.lastFailure()) {
    case AddressDatabase::Failure::Connection:
    case AddressDatabase::Failure::Open:
    case AddressDatabase::Failure::Command:
    case AddressDatabase::Failure::Recordset:
        MessageService::message(db.lastError());
        return true;
    case AddressDatabase::Failure::None:
    case AddressDatabase::Failure::Engine:
        break;
    }
    return false;
}

} // namespace

void reportReadFailure(const AddressDatabase& db) {
    if (reportSetupFailure(db))
        return;
    MessageService::message(
        QStringLiteral("The address book could not be read completely:\n%1").arg(db.lastError()),
        {}, MessageService::Icon::Warning);
}

void reportWriteFailure(const AddressDatabase& db) {
    if (reportSetupFailure(db))
        return;
    MessageService::message(QStringLiteral("The change could not be saved in the address book:\n%1")
                                .arg(db.lastError()),
                            {}, MessageService::Icon::Warning);
}

} // namespace qarsilo
