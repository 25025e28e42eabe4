#pragma once

#include <QList>
#include <QString>

namespace store { class Table; }

namespace shell {

// Removes every row whose Who equals userId exactly (letter case included)
// from each table in turn: USERDB.DB, PERM.DB, holiday.DB, inout.DB,
// marks.DB, userson.DB. Each object is opened if closed and left open.
void deleteUserFromAllDB(const QString& userId, const QList<store::Table*>& tables);

// Deletes the user of userPref's current row, journalled (about to be
// deleted) in one unit with the delete, then the user's rows of the other
// tables as deleteUserFromAllDB does. The tables are opened before anything
// is deleted, so that a table another program holds refuses the whole delete. Returns the user ID. The caller holds
// CONTACT.DB exclusively meanwhile, so that no client starts.
QString deleteCurrentUser(store::Table& userPref, const QList<store::Table*>& tables);

// Why a delete or a replace is refused: somebody has the contact table open.
QString contactInUseMessage();
// The question before a delete, and the advice after it.
QString deleteQuestion(const QString& userId);
QString deletedAdvice();

} // namespace shell
