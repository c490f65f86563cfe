#pragma once

#include "core/addressbook/address_database.h"

namespace qarsilo {

/// Opens `db`, telling the operator why (and which file) when it cannot be opened.
bool openAddressBook(AddressDatabase& db);
/// Tells the operator, when `db` was opened read-only, that changes cannot be saved.
void noteReadOnly(const AddressDatabase& db);
/// Tells the operator that a listing stopped early, with the engine's reason;
/// a statement that could not be set up is reported with its own text ("Can't
/// create an instance of Command", "... of Recordset").
void reportReadFailure(const AddressDatabase& db);
/// Tells the operator that a change was not stored, with the engine's reason
/// (or the set-up text, as above).
void reportWriteFailure(const AddressDatabase& db);

} // namespace qarsilo
