#pragma once

#include <QString>

namespace store { class Table; }

// A user's row of USERPREF.DB as the user dialog and the main window make and
// save it, without the windows: the command-line program does the same.
namespace accounts {

// Starts a new row with the values every new user gets: every boolean true
// (a supervisor with every system permission), the hint, animation, status
// and button views on, the automatic follow-ups off.
void startNewUser(store::Table& userPref);

// The message of the first check of a user ID that fails (blank, one
// character), or an empty text when it may be saved.
QString userIdProblem(const QString& who);

// Saves the row being added or changed with its journal rows as one unit: a
// new row journalled whole (added), a changed one by its full name and
// password. Raises the store's error when the save is refused.
void saveUserRow(store::Table& userPref);

// What the user dialog says when the save is refused (a duplicate ID).
QString userIdInUseMessage();

// A password as it is stored: lower case, without trailing blanks.
QString storedPassword(const QString& typed);

} // namespace accounts
