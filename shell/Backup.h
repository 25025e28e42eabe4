#pragma once

#include <QString>

namespace store { class Table; }

namespace shell {

// "backup1" on even day numbers, "backup2" on odd ones.
QString backupFolderName(qint64 dayNumber);

// Copies the user tables (user, per-database and permission rows, settings)
// into the day's backup folder under the alias directory, closing userPref
// and userDb first. Shows the folder error and
// returns false when the folder cannot be made; raises on a failed copy.
bool backupUserTables(store::Table& userPref, store::Table& userDb);

} // namespace shell
