// The bound controls: the grid follows its table both ways, shows a new or
// edited row live, saves a row it leaves, flips check boxes when editable;
// the edit box shows and writes its field.

#include "store/Catalogue.h"
#include "store/Table.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DataSource.h"
#include "ui/DbCheckBox.h"
#include "ui/DbEdit.h"
#include "ui/DbGrid.h"
#include "ui/DialogTestKit.h"

#include <QHeaderView>
#include <QDir>
#include <QSignalSpy>
#include <QtTest>

class TestDbGrid : public QObject {
    Q_OBJECT

    std::unique_ptr<TestInstall> install;

    static void clickCell(ui::DbGrid& grid, int row, int column)
    {
        const QRect cell = grid.visualRect(grid.model()->index(row, column));
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    }

private slots:
    void init()
    {
        install = std::make_unique<TestInstall>();
        QVERIFY(install->ok());
    }
    void cleanup() { install.reset(); }

    void gridAndTableMoveTogether()
    {
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        ui::DataSource source;
        source.setTable(&users);
        ui::DbGrid grid;
        grid.setColumns({{"Who", "Who", 10}, {"FullName", "Full Name", 46}, {"SuperUser", "Supervisor?", 15}});
        grid.setDataSource(&source);
        grid.show();
        QCOMPARE(grid.model()->rowCount(), users.recordCount());
        QVERIFY(grid.gridModel()->isCheckColumn(2));
        QVERIFY(grid.columnWidth(1) > grid.columnWidth(0) * 4);

        users.next();
        QCOMPARE(grid.currentLine(), 1);
        QCOMPARE(grid.currentIndex().row(), 1);

        clickCell(grid, 3, 1);
        QCOMPARE(users.fieldByName("Who").asString(), grid.model()->index(3, 0).data().toString());
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(users.fieldByName("Who").asString(), grid.model()->index(2, 0).data().toString());

        users.close();
        QCOMPARE(grid.model()->rowCount(), 0);
        QCOMPARE(grid.currentLine(), -1);
    }

    void newAndEditedRowsShowLive()
    {
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        ui::DataSource source;
        source.setTable(&users);
        ui::DbGrid grid;
        grid.setColumns({{"Who", "Who", 10}, {"FullName", "Full Name", 46}});
        grid.setDataSource(&source);
        const int rows = grid.model()->rowCount();
        users.next();

        // A new row is an extra line where the current row was.
        users.insert();
        QCOMPARE(grid.model()->rowCount(), rows + 1);
        QCOMPARE(grid.currentLine(), 1);
        QCOMPARE(grid.model()->index(1, 0).data().toString(), QString());
        users.fieldByName("Who").setAsString("AAB");
        QCOMPARE(grid.model()->index(1, 0).data().toString(), QStringLiteral("AAB"));
        users.cancel();
        QCOMPARE(grid.model()->rowCount(), rows);
        QCOMPARE(grid.currentLine(), 1);

        // Leaving an edited row in the grid saves it first.
        const QString who = users.fieldByName("Who").asString();
        users.edit();
        users.fieldByName("FullName").setAsString("Changed Name");
        QCOMPARE(grid.model()->index(1, 1).data().toString(), QStringLiteral("Changed Name"));
        grid.show();
        clickCell(grid, 0, 0);
        QCOMPARE(users.state(), store::TableState::Browse);
        QCOMPARE(grid.currentLine(), 0);
        bool saved = false;
        for (const QVariantMap& row : testkit::tableRows(catalogue::kUserPref))
            saved |= row.value("who").toString() == who && row.value("fullname").toString() == "Changed Name";
        QVERIFY(saved);
    }

    void checkBoxesFlipOnlyWhenEditable()
    {
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        ui::DataSource source;
        source.setTable(&perm);
        ui::DbGrid grid;
        grid.setColumns({{"DB", "DB", 12, true}, {"Who", "WHO", 3, true}, {"Access", "Access", 5}});
        grid.setDataSource(&source);
        grid.setCellColour([](int, const ui::GridColumn& c) {
            return c.fieldName == "Access" ? QColor(Qt::green) : QColor();
        });
        grid.show();
        QCOMPARE(grid.model()->index(0, 2).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::green));
        QVERIFY(!grid.model()->index(0, 1).data(Qt::BackgroundRole).isValid());

        const bool before = grid.model()->index(1, 2).data(Qt::CheckStateRole).toInt() == Qt::Checked;
        clickCell(grid, 1, 2);
        QCOMPARE(perm.state(), store::TableState::Browse); // read-only: nothing changes
        QCOMPARE(grid.currentLine(), 1);

        grid.setReadOnly(false);
        clickCell(grid, 1, 2);
        QCOMPARE(perm.state(), store::TableState::Edit);
        QCOMPARE(perm.fieldByName("Access").asBoolean(), !before);
        QCOMPARE(grid.model()->index(1, 2).data(Qt::CheckStateRole).toInt() == Qt::Checked, !before);
        perm.cancel();
        QCOMPARE(grid.model()->index(1, 2).data(Qt::CheckStateRole).toInt() == Qt::Checked, before);
    }

    // A grid over many rows reads its lines a few hundred at a time: the
    // first ones at once, up to the table's current row when it moves far
    // down, the rest as the view asks. A save keeps the lines in place.
    void largeTablesAreReadOnDemand()
    {
        testkit::RawDb raw(QDir(install->dataDir()).filePath("perm.db"));
        QVERIFY(raw.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 900) "
                         "INSERT INTO perm (DB, WHO, Access) SELECT 'Z' || printf('%04d', i), 'AB', 1 FROM n"));
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        ui::DataSource source;
        source.setTable(&perm);
        ui::DbGridModel model; // without a view, which would ask for more lines as it scrolls
        model.setColumns({{"DB", "DB", 12}, {"Who", "WHO", 3}, {"Access", "Access", 5}});
        model.setDataSource(&source);
        const int total = perm.recordCount();
        QVERIFY(model.rowCount() >= ui::DbGridModel::kFetchStep);
        QVERIFY(model.rowCount() < total);
        QVERIFY(model.canFetchMore({}));

        QVERIFY(perm.findKey({"Z0600", "AB"}));
        QCOMPARE(model.index(model.currentRow(), 0).data().toString(), QStringLiteral("Z0600"));
        QVERIFY(model.rowCount() < total);

        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        const int lines = model.rowCount();
        perm.edit();
        perm.fieldByName("Access").setAsBoolean(false);
        perm.post();
        QCOMPARE(resets.count(), 0);
        QCOMPARE(model.rowCount(), lines);
        QCOMPARE(model.index(model.currentRow(), 2).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

        while (model.canFetchMore({}))
            model.fetchMore({});
        QCOMPARE(model.rowCount(), total);
        QCOMPARE(model.index(total - 1, 0).data().toString(), testkit::column(catalogue::kPerm, "DB").last());
    }

    void editBoxShowsAndWritesItsField()
    {
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        ui::DataSource source;
        source.setTable(&users);
        ui::DbEdit who;
        who.setDataSource(&source);
        who.setDataField("Who");
        who.setCharCase(ui::CharCase::Upper);
        ui::DbEdit name;
        name.setDataSource(&source);
        name.setDataField("FullName");
        QCOMPARE(name.maxLength(), 20); // the field's size
        QCOMPARE(who.text(), users.fieldByName("Who").asString());
        users.next();
        QCOMPARE(who.text(), users.fieldByName("Who").asString());

        int changes = 0;
        connect(&source, &ui::DataSource::dataChange, this, [&](int) { ++changes; });
        name.setReadOnly(true);
        QTest::keyClicks(&name, "x");
        QCOMPARE(users.state(), store::TableState::Browse);

        name.setReadOnly(false);
        name.selectAll();
        QTest::keyClicks(&name, "New Name");
        QCOMPARE(users.state(), store::TableState::Edit);
        QCOMPARE(users.fieldByName("FullName").asString(), QStringLiteral("New Name"));
        QVERIFY(changes > 0);
        users.cancel();
        QVERIFY(name.text() != QStringLiteral("New Name")); // the stored value is back

        users.insert();
        QCOMPARE(who.text(), QString());
        QTest::keyClicks(&who, "ab");
        QCOMPARE(users.fieldByName("Who").asString(), QStringLiteral("AB"));
        users.cancel();
        users.close();
        QCOMPARE(who.text(), QString());
    }

    void checkBoxShowsAndWritesItsField()
    {
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        ui::DataSource source;
        source.setTable(&users);
        ui::DbCheckBox box("Supervisor");
        box.setDataSource(&source);
        box.setDataField("SuperUser");
        box.show();
        for (int i = 0; i < 2; ++i, users.next())
            QCOMPARE(box.isChecked(), users.fieldByName("SuperUser").asBoolean());
        const bool before = box.isChecked();
        QTest::mouseClick(&box, Qt::LeftButton);
        QCOMPARE(users.state(), store::TableState::Edit);
        QCOMPARE(users.fieldByName("SuperUser").asBoolean(), !before);
        users.cancel();
        QCOMPARE(box.isChecked(), before);
    }
};

QTEST_MAIN(TestDbGrid)
#include "tst_dbgrid.moc"
