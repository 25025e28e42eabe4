#include "shell/DeleteUser.h"

#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "support/Changes.h"
#include "support/Text.h"
#include "store/Table.h"

namespace shell {

namespace {

// Walks one table from its first row and deletes the rows owned by userId.
// A deletion leaves the cursor on the following row, so only a kept row
// moves the cursor on.
void deleteUserRows(store::Table& table, const QString& userId)
{
    if (!table.active())
        table.open();
    table.first();
    store::Field& who = table.fieldByName(catalogue::fWho);
    while (!table.eof()) {
        // Exact comparison, letter case included: "abc" is not "ABC".
        if (who.asString() == userId)
            table.deleteRecord();
        else
            table.next();
    }
}

} // namespace

void deleteUserFromAllDB(const QString& userId, const QList<store::Table*>& tables)
{
    // Group the deletions into few transactions; rows deleted before an
    // error stay deleted, as without the batch.
    store::WriteBatch batch;
    for (store::Table* table : tables)
        deleteUserRows(*table, userId);
    batch.commit();
}

QString deleteCurrentUser(store::Table& userPref, const QList<store::Table*>& tables)
{
    const QString who = userPref.fieldByName(QStringLiteral("who")).asString();
    // Every table opened first: one that another program holds for itself
    // refuses the delete before anything has gone, rather than leaving the
    // user's rows behind a deleted user. Open, it cannot be taken from us.
    for (store::Table* table : tables)
        if (!table->active())
            table->open();
    {
        // A "deleted" row goes out only with the delete itself.
        store::ChangeUnit unit(userPref);
        support::journalrecord(userPref, support::ActionDeleted);
        userPref.deleteRecord();
        unit.commit();
    }
    deleteUserFromAllDB(who, tables);
    return who;
}

QString contactInUseMessage()
{
    return support::uiText(
        QStringLiteral("Could not get exclusive access to the contact.db table.  Somebody is using Kontiva"));
}

QString deleteQuestion(const QString& userId)
{
    return support::uiText(QStringLiteral("Really delete user \"%1\"?")).arg(userId);
}

QString deletedAdvice()
{
    return support::uiText(QStringLiteral("Now that this user is deleted, you may want to assign his marketing plans "
                                          "and pending events to other users."))
        + QLatin1Char(' ') + support::uiText(QStringLiteral("Use the Replace User button."));
}

} // namespace shell
