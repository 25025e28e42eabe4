#include "shell/CleanDb.h"

#include "shell/Paths.h"
#include "shell/Records.h"
#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Progress.h"
#include "support/Text.h"
#include "ui/ControlsPaused.h"

#include <QList>
#include <QSet>

namespace shell {

namespace {

const QString kArial = QStringLiteral("Arial");

void openIfClosed(store::Table& table)
{
    if (!table.active())
        table.open();
}

void setFontDefaults(store::Table& userDb, const QString& prefix)
{
    userDb.fieldByName(prefix + QStringLiteral("Size")).setAsInteger(9);
    userDb.fieldByName(prefix + QStringLiteral("Color")).setAsInteger(0);
    userDb.fieldByName(prefix + QStringLiteral("Style")).setAsInteger(0);
    userDb.fieldByName(prefix + QStringLiteral("Name")).setAsString(kArial);
}

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

// Every (database, user) pair gets its row in target. Reports each pair to
// progress; returns false when it asked to stop (the pairs done stay done).
template <typename Ensure>
bool ensureAllPairs(store::Table& database, store::Table& userPref, store::Table& target, Ensure ensure,
                    support::Progress* progress, const QString& what)
{
    support::beginProgress(progress, what, qint64(database.recordCount()) * userPref.recordCount());
    store::Field& db = database.fieldByName(catalogue::fDb);
    store::Field& who = userPref.fieldByName(catalogue::fWho);
    qint64 done = 0;
    for (database.first(); !database.eof(); database.next()) {
        const QString code = db.asString();
        for (userPref.first(); !userPref.eof(); userPref.next()) {
            ensure(target, code, who.asString());
            if (!support::advanceProgress(progress, ++done))
                return false;
        }
    }
    return true;
}

// Looks a key up unless it was found before in this pass. A database or user
// deleted meanwhile keeps its rows until the next clean-up, which is
// harmless; a key not found is looked up again every time, so that no row
// is deleted on an old answer.
bool present(store::Table& table, QSet<QString>& found, const QString& key)
{
    if (found.contains(key))
        return true;
    if (!table.findKey({key}))
        return false;
    found.insert(key);
    return true;
}

// Deletes the rows of target whose database or user no longer exists.
// Returns false when progress asked to stop.
bool deleteOrphans(store::Table& target, store::Table& database, store::Table& userPref,
                   support::Progress* progress, const QString& what)
{
    support::beginProgress(progress, what, target.recordCount());
    store::Field& db = target.fieldByName(catalogue::fDb);
    store::Field& who = target.fieldByName(catalogue::fWho);
    QSet<QString> databases, users;
    qint64 done = 0;
    target.first();
    while (!target.eof()) {
        const bool dbFound = present(database, databases, db.asString());
        const bool userFound = present(userPref, users, who.asString());
        if (!dbFound || !userFound)
            target.deleteRecord(); // the cursor moves to the following row
        else
            target.next();
        if (!support::advanceProgress(progress, ++done))
            return false;
    }
    return true;
}

} // namespace

bool ensureUserDbRow(store::Table& userDb, const QString& db, const QString& who)
{
    if (userDb.findKey({db, who}))
        return false;
    userDb.insert();
    setTableBooleans(userDb, false);
    userDb.fieldByName(catalogue::fDb).setAsString(db);
    userDb.fieldByName(catalogue::fWho).setAsString(who);
    userDb.fieldByName(QStringLiteral("ntimes")).setAsInteger(0);
    setFontDefaults(userDb, QStringLiteral("FontData"));
    setFontDefaults(userDb, QStringLiteral("FontLabel"));
    setFontDefaults(userDb, QStringLiteral("FontGrid"));
    userDb.fieldByName(catalogue::fSyncwellNo).setAsString(newRecordId());
    store::ChangeUnit unit(userDb);
    userDb.post();
    support::journalrecord(userDb, support::ActionAdded);
    unit.commit();
    return true;
}

bool ensurePermRow(store::Table& perm, const QString& db, const QString& who)
{
    if (perm.findKey({db, who}))
        return false;
    perm.insert();
    setTableBooleans(perm, true);
    perm.fieldByName(catalogue::fDb).setAsString(db);
    perm.fieldByName(catalogue::fWho).setAsString(who);
    perm.fieldByName(catalogue::fSyncwellNo).setAsString(newRecordId());
    perm.post(); // the caller's BeforePost hook journals the new row
    return true;
}

bool cleanUp(store::Table& database, store::Table& userDb, store::Table& userPref, store::Table& perm,
             support::Progress* progress)
{
    openIfClosed(database);
    openIfClosed(userDb);
    openIfClosed(userPref);
    openIfClosed(perm);

    // Many small writes: group them into transactions that are committed
    // often enough not to keep other programs waiting. A stop comes between
    // two rows, so what is committed is whole; the next run does the rest.
    store::WriteBatch batch;
    bool finished = false;
    {
        ui::ControlsPaused paused({&userPref, &userDb, &database});
        finished = ensureAllPairs(database, userPref, userDb, ensureUserDbRow, progress,
                                  text("Step 1 of 4: adding the missing user settings"))
                   && deleteOrphans(userDb, database, userPref, progress,
                                    text("Step 2 of 4: removing the settings of deleted users and databases"));
    }
    if (finished) {
        ui::ControlsPaused paused({&userPref, &perm, &database});
        finished = ensureAllPairs(database, userPref, perm, ensurePermRow, progress,
                                  text("Step 3 of 4: adding the missing permissions"))
                   && deleteOrphans(perm, database, userPref, progress,
                                    text("Step 4 of 4: removing the permissions of deleted users and databases"));
    }
    batch.commit();
    return finished;
}

} // namespace shell
