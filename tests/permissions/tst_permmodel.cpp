// The permission model on a real installation: the position encoding of the
// two check lists, set-all by prefix, counts, and creating and completing
// permission rows with their journal entries; the check-list widget bound to
// a run.

#include "permissions/PermModel.h"
#include "permissions/PermTexts.h"
#include "store/Catalogue.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DataSource.h"
#include "ui/DbCheckList.h"

#include <QtTest>

using namespace permissions;

namespace {

const int kPermCode = 10;

// Every boolean field's value of the current row, by name.
QMap<QString, QVariant> booleans(store::Table& t)
{
    QMap<QString, QVariant> values;
    for (int i = 0; i < t.fieldCount(); ++i)
        if (t.field(i).dataType() == store::FieldType::Boolean)
            values.insert(t.field(i).fieldName(), t.field(i).value());
    return values;
}

// The names of the fields whose values differ.
QStringList changed(const QMap<QString, QVariant>& before, const QMap<QString, QVariant>& after)
{
    QStringList names;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (after.value(it.key()) != it.value())
            names << it.key();
    return names;
}

} // namespace

class TestPermModel : public QObject {
    Q_OBJECT

    std::unique_ptr<JournalledInstall> install;

private slots:
    void init()
    {
        install = std::make_unique<JournalledInstall>();
        QVERIFY(install->ok());
    }
    void cleanup()
    {
        install.reset();
    }

    void captionsMatchTheRuns()
    {
        QCOMPARE(actionCaptions().size(), catalogue::kActionFlagCount);
        QCOMPARE(systemCaptions().size(), catalogue::kSystemFlagCount);
        QCOMPARE(actionCaptions().at(20), QString("Setup date fields "));
        QCOMPARE(actionCaptions().at(25), QString("Setup date fields"));
        QCOMPARE(recordKindFields().size(), 32);
        QCOMPARE(tabFlags().size(), 13);
        QCOMPARE(countText(27, 0), QString("27 set, 0 clear"));

        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        const FlagRun actions = actionRun(perm);
        QCOMPARE(actions.size(), 27);
        QCOMPARE(perm.field(actions.first).fieldName().toLower(), QString("actbrowse"));
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        QCOMPARE(systemRun(users).size(), 49);
        // Every field the pages name exists.
        for (const QString& name : recordKindFields())
            QVERIFY2(perm.findField(name), qPrintable(name));
        for (const TabFlag& tab : tabFlags())
            QVERIFY2(perm.findField(tab.field), qPrintable(tab.field));
    }

    // Items 21 and 26 carry nearly the same caption but are two fields; a
    // partly blank run reads blank as false and is written whole.
    void runReadAndWrittenByPosition()
    {
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        perm.first();
        const FlagRun run = actionRun(perm);
        perm.edit();
        for (int i = run.first; i <= run.last; ++i)
            perm.field(i).setAsBoolean(true);
        perm.field(run.first + 20).setAsBoolean(false);
        perm.field(run.first + 3).clear();
        perm.post();

        QVector<bool> values = readRun(perm, run);
        QCOMPARE(countSet(values), 25);
        QVERIFY(!values[20] && values[25] && !values[3]);
        QVERIFY(perm.field(run.first + 3).isNull());

        values[20] = true;
        values[25] = false;
        writeRun(perm, run, values);
        QCOMPARE(perm.state(), store::TableState::Edit); // not saved
        perm.post();
        const QString key = perm.fieldByName("DB").asString();
        const QString who = perm.fieldByName("WHO").asString();

        // Read back through SQLite: the blank became false, 21 and 26 swapped.
        testkit::RawDb raw(install->dataDir() + "/perm.db");
        const QString where = QString(" FROM perm WHERE DB='%1' AND WHO='%2'").arg(key, who);
        const QStringList names = catalogue::actionFlagNames();
        QCOMPARE(raw.text("SELECT " + names[3] + where), QString("0"));
        QCOMPARE(raw.text("SELECT " + names[20] + where), QString("1"));
        QCOMPARE(raw.text("SELECT " + names[25] + where), QString("0"));

        QVERIFY_THROWS_EXCEPTION(store::StoreError, writeRun(perm, run, QVector<bool>(26, true)));
        QVERIFY_THROWS_EXCEPTION(store::StoreError, findRun(perm, "actSetupScreen", "actBrowse"));
        QVERIFY_THROWS_EXCEPTION(store::StoreError, findRun(perm, "DB", "actBrowse")); // text fields in the run
    }

    void setAllTouchesExactlyTheRun_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("expected");
        QTest::newRow("actions") << catalogue::kPerm << 27;
        QTest::newRow("system") << catalogue::kUserPref << 49;
    }
    void setAllTouchesExactlyTheRun()
    {
        QFETCH(QString, table);
        QFETCH(int, expected);
        const bool actions = table == catalogue::kPerm;
        store::Table t(catalogue::kAlias, table);
        t.open();
        t.first();
        t.edit();
        for (int i = 0; i < t.fieldCount(); ++i)
            if (t.field(i).dataType() == store::FieldType::Boolean)
                t.field(i).setAsBoolean(true);
        t.post();
        const QMap<QString, QVariant> before = booleans(t);

        const int touched = actions ? setAllActions(t, false) : setAllSystemFlags(t, false);
        QCOMPARE(touched, expected);
        QCOMPARE(t.state(), store::TableState::Edit);
        const FlagRun run = actions ? actionRun(t) : systemRun(t);
        QCOMPARE(countSet(readRun(t, run)), 0);
        const QStringList names = changed(before, booleans(t));
        QCOMPARE(names.size(), expected);
        for (const QString& name : names) {
            const int index = t.findField(name)->index();
            QVERIFY2(index >= run.first && index <= run.last, qPrintable(name));
        }
        t.cancel();
    }

    void newAndPartlyBlankRows()
    {
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        installPermHooks(perm);
        store::Table database(catalogue::kAlias, catalogue::kDatabase);
        database.open();
        database.first();
        const QString db = database.fieldByName("DB").asString();
        const int journalBefore = testkit::journalEntries().size();

        // A new pair: every boolean true, a syncwellno, journalled as added.
        QCOMPARE(initializePermRow(perm, db, "ZZ"), RowFix::Created);
        QVERIFY(perm.findKey({db, "ZZ"}));
        for (const QVariant& v : booleans(perm))
            QCOMPARE(v, QVariant(true));
        const QString id = perm.fieldByName("syncwellno").asString();
        QCOMPARE(id.size(), 24);
        QCOMPARE(countSet(readRun(perm, actionRun(perm))), 27);

        // Partly blank: only the blanks become true; journalled as changed.
        perm.edit();
        perm.fieldByName("Access").setAsBoolean(false);
        perm.fieldByName("PAdd").clear();
        perm.fieldByName("actExport").clear();
        perm.post();
        support::resetJournal(); // the journal drops an immediate repeat of the same row
        QCOMPARE(initializePermRow(perm, db, "ZZ"), RowFix::Completed);
        QVERIFY(!perm.fieldByName("Access").asBoolean());
        QVERIFY(perm.fieldByName("PAdd").asBoolean());
        QVERIFY(perm.fieldByName("actExport").asBoolean());
        // A complete row is left alone.
        QCOMPARE(initializePermRow(perm, db, "ZZ"), RowFix::None);

        const QList<testkit::JournalEntry> added = testkit::journalEntries().mid(journalBefore);
        // The edit that blanked the fields is journalled by the hook too.
        QCOMPARE(added.size(), 3);
        QCOMPARE(added[0].action, 2);
        QCOMPARE(added[0].table, kPermCode);
        QCOMPARE(added[0].recno, id);
        QCOMPARE(added[2].action, 6);
        QCOMPARE(added[2].recno, id);
    }

    void everyPairGetsItsRow()
    {
        testkit::deleteAllRows(catalogue::kPerm);
        const int journalBefore = testkit::journalEntries().size();
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        store::Table database(catalogue::kAlias, catalogue::kDatabase);
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        users.open();
        database.open();
        perm.open();
        installPermHooks(perm);
        const int pairs = users.recordCount() * database.recordCount();
        QCOMPARE(initializeAllPairs(users, database, perm).created, pairs);
        QCOMPARE(testkit::rowCount(catalogue::kPerm), pairs);
        QCOMPARE(testkit::journalEntries().size() - journalBefore, pairs);
        const InitCounts again = initializeAllPairs(users, database, perm);
        QCOMPARE(again.created + again.completed, 0);
    }

    void checkListLoadsAndStoresByPosition()
    {
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        perm.first();
        perm.edit();
        setAllActions(perm, true);
        perm.fieldByName("actSetupDateFields").clear(); // item 26 blank
        perm.post();
        ui::DataSource source;
        source.setTable(&perm);
        ui::DbCheckList list;
        list.setDataSource(&source);
        list.setRunFields(catalogue::fFirstAction, catalogue::fLastAction);
        list.setCaptions(actionCaptions());
        QSignalSpy toggled(&list, &ui::DbCheckList::itemToggled);
        list.loadFromRow();
        QCOMPARE(toggled.count(), 0);
        QCOMPARE(list.checkedCount(), 26);
        QVERIFY(list.isChecked(20) && !list.isChecked(25));

        list.setChecked(20, false);
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.at(0).at(0).toInt(), 20);
        list.storeToRow();
        QCOMPARE(perm.state(), store::TableState::Edit);
        perm.post();
        QVERIFY(!perm.fieldByName("actSetupDates").asBoolean());
        QVERIFY(!perm.fieldByName("actSetupDateFields").isNull()); // written as false
        QVERIFY(!perm.fieldByName("actSetupDateFields").asBoolean());

        // A list whose length is not the run's is refused.
        list.setCaptions(actionCaptions().mid(1));
        QVERIFY_THROWS_EXCEPTION(store::StoreError, list.loadFromRow());
    }
};

QTEST_MAIN(TestPermModel)
#include "tst_permmodel.moc"
