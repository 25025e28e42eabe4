#pragma once

#include <QString>

namespace store { class Table; }

// One flag of a permission row or of a user row set from outside the
// permission dialogs (the command-line program), with the same journalling,
// and the supervisor warnings the dialogs show on OK.
namespace permissions {

// True when the open table has a boolean field of that name (any case).
bool isFlagField(store::Table& table, const QString& field);

// Sets one flag of the permission row (db, who), creating or completing the
// row first as opening the database dialog does. The edited row is saved and
// journalled (changed) as the dialog's OK saves it; perm must carry the
// hooks of installPermHooks. False (nothing written) when the flag already
// had the value and the row needed no completion.
bool setPermFlag(store::Table& perm, const QString& db, const QString& who, const QString& field, bool on);

// Sets one flag of the current user row and saves it, journalled (changed)
// as the system permissions dialog's OK saves it. False when it already had
// the value (nothing written).
bool setUserFlag(store::Table& userPref, const QString& field, bool on);

// True when a supervisor's permission row holds a false flag that the
// database dialog's warning counts: an action, the access, a record kind
// (but "view contacts"), a tab.
bool permRowHasClearFlag(store::Table& perm);
// True when a user row holds a false system flag.
bool userRowHasClearSystemFlag(store::Table& userPref);

// The system permission dialog's warning to a supervisor with some system
// flags false (the database dialog's is databaseSupervisorWarning, PermTexts.h).
QString sysSupervisorWarning();

} // namespace permissions
