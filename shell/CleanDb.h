#pragma once

#include <QString>

namespace store { class Table; }
namespace support { class Progress; }

// The exit-time clean-up: every (contact database, user) pair gets its
// USERDB.DB and PERM.DB row, and rows of databases or users that no longer
// exist go.
namespace shell {

// Creates the pair's row when FindKey (db, who) does not find it. Returns
// true when a row was made.
bool ensureUserDbRow(store::Table& userDb, const QString& db, const QString& who);
bool ensurePermRow(store::Table& perm, const QString& db, const QString& who);

// The whole clean-up over the main window's table objects. New PERM.DB rows
// are journalled by perm's BeforePost hook (the caller installs it). Each
// pair and each orphan is reported to progress, which may stop the walk
// between two of them: then what is done is committed and false returned.
// Running it again finishes the work.
bool cleanUp(store::Table& database, store::Table& userDb, store::Table& userPref, store::Table& perm,
             support::Progress* progress = nullptr);

} // namespace shell
