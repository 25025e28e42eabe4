#pragma once

#include <QList>
#include <QString>

namespace store { class Table; }

namespace shell {

// Removes every row whose Who equals userId exactly (letter case included)
// from each table in turn: USERDB.DB, PERM.DB, holiday.DB, inout.DB,
// marks.DB, userson.DB. Each object is opened if closed and left open.
void deleteUserFromAllDB(const QString& userId, const QList<store::Table*>& tables);

} // namespace shell
