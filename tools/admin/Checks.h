#pragma once

#include "tools/admin/Command.h"

#include <QString>

namespace store { class Table; }

// The checks the commands share. Each refusal is told through
// support::showError (the console, in this program) and returns false.
namespace admin {

// A user ID the way the windows take it: not blank, two or three characters.
bool checkUserId(const QString& who);
// Positions an open USERPREF.DB table on the user; tells when there is none.
bool findUser(store::Table& userPref, const QString& who);
// A text that must fit its field (the store refuses longer ones).
bool checkFits(store::Table& table, const QString& field, const QString& value, const QString& what);

// "on" or "off", any case; anything else is a usage error (false).
bool parseOnOff(const QString& value, bool* on);
// A comma-separated list of names from allowed; false on an unknown name.
bool parseList(const QString& value, const QStringList& allowed, QStringList* names, QString* unknown);

// The message of an unknown user (the copy dialog's words).
QString userNotFoundMessage(const QString& who);

} // namespace admin
