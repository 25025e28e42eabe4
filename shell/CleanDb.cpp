#include "shell/CleanDb.h"

#include "shell/Paths.h"
#include "shell/Records.h"
#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "ui/ControlsPaused.h"

#include <QList>

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

// Every (database, user) pair gets its row in target.
template <typename Ensure>
void ensureAllPairs(store::Table& database, store::Table& userPref, store::Table& target, Ensure ensure)
{
    store::Field& db = database.fieldByName(catalogue::fDb);
    store::Field& who = userPref.fieldByName(catalogue::fWho);
    for (database.first(); !database.eof(); database.next()) {
        const QString code = db.asString();
        for (userPref.first(); !userPref.eof(); userPref.next())
            ensure(target, code, who.asString());
    }
}

// Deletes the rows of target whose database or user no longer exists. Both
// lookups are made for every row.
void deleteOrphans(store::Table& target, store::Table& database, store::Table& userPref)
{
    store::Field& db = target.fieldByName(catalogue::fDb);
    store::Field& who = target.fieldByName(catalogue::fWho);
    target.first();
    while (!target.eof()) {
        const bool dbFound = database.findKey({db.asString()});
        const bool userFound = userPref.findKey({who.asString()});
        if (!dbFound || !userFound)
            target.deleteRecord(); // the cursor moves to the following row
        else
            target.next();
    }
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

void cleanUp(store::Table& database, store::Table& userDb, store::Table& userPref, store::Table& perm)
{
    openIfClosed(database);
    openIfClosed(userDb);
    openIfClosed(userPref);
    openIfClosed(perm);

    // Many small writes: group them into transactions that are committed
    // often enough not to keep other programs waiting.
    store::WriteBatch batch;
    {
        ui::ControlsPaused paused({&userPref, &userDb, &database});
        ensureAllPairs(database, userPref, userDb, ensureUserDbRow);
        deleteOrphans(userDb, database, userPref);
    }
    {
        ui::ControlsPaused paused({&userPref, &perm, &database});
        ensureAllPairs(database, userPref, perm, ensurePermRow);
        deleteOrphans(perm, database, userPref);
    }
    batch.commit();
}

} // namespace shell
