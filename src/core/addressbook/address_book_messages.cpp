#include "core/addressbook/address_book_messages.h"

#include "core/app/message_service.h"

namespace qarsilo {

namespace {

// Which file (or server book, without its password) the operator has to look at.
QString fileLine(const AddressDatabase& db) {
    return QStringLiteral("\n\nAddress book: ") + AddressDatabase::displayLocation(db.fileName());
}

// Failures to set up a statement have texts of their own, shown as they are.
bool reportSetupFailure(const AddressDatabase& db) {
    switch (db.lastFailure()) {
    case AddressDatabase::Failure::Connection:
    case AddressDatabase::Failure::Open:
    case AddressDatabase::Failure::Command:
    case AddressDatabase::Failure::Recordset:
        MessageService::message(db.lastError() + fileLine(db), {}, MessageService::Icon::Error);
        return true;
    case AddressDatabase::Failure::None:
    case AddressDatabase::Failure::Engine:
        break;
    }
    return false;
}

} // namespace

bool openAddressBook(AddressDatabase& db) {
    if (db.open())
        return true;
    MessageService::message(db.lastError() + fileLine(db), {}, MessageService::Icon::Error);
    return false;
}

void noteReadOnly(const AddressDatabase& db) {
    if (!db.isOpen() || !db.isReadOnly())
        return;
    MessageService::message(
        QStringLiteral("The address book is opened read-only: the file or its folder cannot be "
                       "written to, so changes cannot be saved.") +
            fileLine(db),
        {}, MessageService::Icon::Information);
}

void reportReadFailure(const AddressDatabase& db) {
    if (reportSetupFailure(db))
        return;
    MessageService::message(
        QStringLiteral("The address book could not be read completely:\n%1").arg(db.lastError()) +
            fileLine(db),
        {}, MessageService::Icon::Warning);
}

void reportWriteFailure(const AddressDatabase& db) {
    if (reportSetupFailure(db))
        return;
    MessageService::message(QStringLiteral("The change could not be saved in the address book:\n%1")
                                    .arg(db.lastError()) +
                                fileLine(db),
                            {}, MessageService::Icon::Warning);
}

} // namespace qarsilo
