// The permission model on a real installation: the position encoding of the
// two check lists, set-all by prefix and the check-list widget bound to a
// run. Creating and completing rows is tested through the database dialog.

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

#include <QStyle>
#include <QStyleOptionViewItem>
#include <QtTest>

using namespace permissions;

namespace {

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

    // The runs have their sizes, and every field the pages name exists.
    void runsAndNamedFields()
    {
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        const FlagRun actions = actionRun(perm);
        QCOMPARE(actions.size(), 27);
        QCOMPARE(perm.field(actions.first).fieldName().toLower(), QString("actbrowse"));
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        QCOMPARE(systemRun(users).size(), 49);
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
        const FlagRun run = actionRun(perm);
        list.setRun(run.first, run.last);
        list.setCaptions(actionCaptions());
        QSignalSpy clicks(&list, &ui::DbCheckList::itemClick);
        list.loadFromRow();
        QCOMPARE(clicks.count(), 0);
        QCOMPARE(list.checkedCount(), 26);
        QVERIFY(list.isChecked(20) && !list.isChecked(25));

        list.setChecked(20, false);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks.at(0).at(0).toInt(), 20);
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

    // With the mouse: a click on an item's text only selects it, a click on
    // its box flips it; each is one click for the window, told once the tick
    // is in place. A reload keeps the first visible item on top and makes it
    // the current item.
    void checkListClicksAndReloads()
    {
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        perm.first();
        ui::DataSource source;
        source.setTable(&perm);
        ui::DbCheckList list;
        list.setDataSource(&source);
        const FlagRun run = actionRun(perm);
        list.setRun(run.first, run.last);
        list.setCaptions(actionCaptions());
        list.resize(300, list.sizeHintForRow(0) * 8);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.loadFromRow();

        QVector<QPair<int, bool>> clicks; // item, its tick when told
        connect(&list, &ui::DbCheckList::itemClick, &list, [&](int item) { clicks.append({item, list.isChecked(item)}); });
        const bool before = list.isChecked(2);
        const QRect rect = list.visualItemRect(list.item(2));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 4, rect.center().y()));
        QCOMPARE(clicks, (QVector<QPair<int, bool>>{{2, before}}));
        QCOMPARE(list.currentRow(), 2);

        QStyleOptionViewItem option;
        option.initFrom(&list);
        option.rect = rect;
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect box = list.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &list);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, box.center());
        QCOMPARE(clicks, (QVector<QPair<int, bool>>{{2, before}, {2, !before}}));

        list.setCurrentRow(list.count() - 1);
        list.scrollToItem(list.item(15), QAbstractItemView::PositionAtTop);
        const QModelIndex top = list.indexAt(QPoint(1, 1));
        QVERIFY(top.row() > 2);
        list.loadFromRow();
        QCOMPARE(list.indexAt(QPoint(1, 1)).row(), top.row());
        QCOMPARE(list.currentRow(), top.row());
        QCOMPARE(clicks.size(), 2);
    }
};

QTEST_MAIN(TestPermModel)
#include "tst_permmodel.moc"
