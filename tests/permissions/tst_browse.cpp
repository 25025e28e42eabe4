// The permission browser on a demo installation: the colour rule (and the
// highlighted cell), the fixed columns, the two filter lines, "&Set row" and
// "&Clear row", no rows added or removed, and the journal of every save of an
// edited line, read back from PERM.DB and merge.db.

#include "permissions/Browse.h"
#include "permissions/Chperm.h"
#include "permissions/PermTexts.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DataSource.h"
#include "ui/DbGrid.h"
#include "ui/DialogTestKit.h"
#include "ui/RowState.h"

#include <QComboBox>
#include <QPushButton>
#include <QDir>
#include <QHeaderView>
#include <QScrollBar>
#include <QToolButton>
#include <QtTest>

class TestBrowse : public QObject {
    Q_OBJECT

    std::unique_ptr<JournalledInstall> install;
    int permCode = 0;

    static void clickCell(ui::DbGrid& grid, int row, int column)
    {
        grid.scrollTo(grid.model()->index(row, column));
        const QRect cell = grid.visualRect(grid.model()->index(row, column));
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    }
    static int columnOf(const TfrmBrowse& b, const QString& field)
    {
        const auto& columns = b.grid->gridModel()->columns();
        for (int c = 0; c < columns.size(); ++c)
            if (columns[c].fieldName == field)
                return c;
        return -1;
    }
    static QString cellText(const TfrmBrowse& b, int row, const QString& field)
    {
        return b.grid->model()->index(row, columnOf(b, field)).data().toString();
    }
    static bool checked(const TfrmBrowse& b, int row, const QString& field)
    {
        return b.grid->model()->index(row, columnOf(b, field)).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    }
    // The stored flag of one permission row, straight from the file.
    QString storedFlag(const QString& db, const QString& who, const QString& field)
    {
        testkit::RawDb raw(QDir(install->dataDir()).filePath("perm.db"));
        return raw.text(QStringLiteral("SELECT \"%1\" FROM perm WHERE DB = '%2' AND WHO = '%3'").arg(field, db, who));
    }
    QString syncNo(const QString& db, const QString& who) { return storedFlag(db, who, "syncwellno"); }

private slots:
    void init()
    {
        install = std::make_unique<JournalledInstall>();
        QVERIFY(install->ok());
        permCode = support::tablecode(catalogue::kPerm);
    }
    void cleanup()
    {
        install.reset();
    }

    void columnsAndColours()
    {
        const QList<ui::GridColumn> columns = permissions::browseColumns();
        QCOMPARE(columns.size(), 35);
        QCOMPARE(columns[34].fieldName, QStringLiteral("SDelete"));
        QVERIFY(columns[0].readOnly && columns[1].readOnly && !columns[2].readOnly);
        // Widths in characters: DB 12, WHO 3, every flag 5.
        QCOMPARE(columns[0].widthChars, 12);
        QCOMPARE(columns[1].widthChars, 3);
        for (int c = 2; c < columns.size(); ++c)
            QCOMPARE(columns[c].widthChars, 5);
        QCOMPARE(permissions::recordKindFields().size(), 32);
        const QList<QPair<QString, QRgb>> kinds{{"CVisible", 0x00FF00}, {"nadd", 0xFFFF00}, {"PChange", 0xFF00FF},
                                                {"LDelete", 0x00FFFF}, {"MVisible", 0x0000FF}, {"TAdd", 0xFF0000},
                                                {"QChange", 0x008000}, {"SDelete", 0xFFFFFF}};
        for (const auto& [field, rgb] : kinds)
            QCOMPARE(permissions::browseCellColour(field), QColor(rgb));
        QVERIFY(!permissions::browseCellColour("DB").isValid());
        QVERIFY(!permissions::browseCellColour("WHO").isValid());
        QVERIFY(!permissions::browseCellColour("Access").isValid());

        // On screen: a cell is painted in its kind's colour unless it is the
        // highlighted one; DB keeps the button face.
        TfrmBrowse b;
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        const int lime = columnOf(b, "CAdd");
        clickCell(*b.grid, 1, lime); // flips it and makes it the highlighted cell
        QTest::qWait(20);
        const QImage shot = b.grid->viewport()->grab().toImage();
        auto corner = [&](int row, int column) {
            const QRect r = b.grid->visualRect(b.grid->model()->index(row, column));
            return QColor(shot.pixel(r.left() + 2, r.top() + 2));
        };
        QCOMPARE(corner(0, lime), QColor(0x00FF00));
        QCOMPARE(corner(2, lime), QColor(0x00FF00));
        // The style may shade the highlight a little.
        const QColor highlight = b.grid->palette().color(QPalette::Active, QPalette::Highlight);
        const QColor selected = corner(1, lime);
        QVERIFY2(qAbs(selected.red() - highlight.red()) < 16 && qAbs(selected.green() - highlight.green()) < 16
                     && qAbs(selected.blue() - highlight.blue()) < 16,
                 qPrintable(selected.name()));
        QCOMPARE(corner(0, columnOf(b, "Access")), b.grid->palette().color(QPalette::Button));
        QVERIFY(b.grid->verticalHeader()->defaultSectionSize() > b.grid->fontMetrics().height() + 6);
    }

    void fixedColumnsStayWhenScrolledSideways()
    {
        TfrmBrowse b;
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        QScrollBar* bar = b.grid->horizontalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        QTest::qWait(20);
        // The DB column scrolled out of the grid's own view, yet the left
        // edge still shows the database codes in the button face colour.
        QVERIFY(b.grid->columnViewportPosition(0) < 0);
        const QImage shot = b.grid->grab().toImage();
        const int x = b.grid->verticalHeader()->width() + b.grid->columnWidth(0) / 2;
        const int y = b.grid->horizontalHeader()->height() + b.grid->rowHeight(0) + 3;
        QCOMPARE(QColor(shot.pixel(x, y)), b.grid->palette().color(QPalette::Button));
        QCOMPARE(b.grid->fixedColumns(), 2);
        // A click on the fixed part chooses that line; the codes cannot be edited.
        QVERIFY(!(b.grid->model()->flags(b.grid->model()->index(0, 0)) & Qt::ItemIsUserCheckable));
    }

    void filtersCombineAsTwoLines()
    {
        TfrmBrowse b;
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        const int all = testkit::rowCount(catalogue::kPerm);
        QCOMPARE(b.grid->model()->rowCount(), all);
        QCOMPARE(b.cbUsers->count(), 1 + testkit::rowCount(catalogue::kUserPref));
        QCOMPARE(b.cbDB->count(), 1 + testkit::rowCount(catalogue::kDatabase));

        const QString who = b.cbUsers->itemText(2);
        const QString db = b.cbDB->itemText(2);
        b.cbUsers->setCurrentIndex(2);
        QCOMPARE(b.tblPerm->filterLines(), QStringList{QStringLiteral("Who = \"%1\"").arg(who)});
        for (int r = 0; r < b.grid->model()->rowCount(); ++r)
            QCOMPARE(cellText(b, r, "WHO"), who);
        b.cbDB->setCurrentIndex(2);
        QCOMPARE(b.tblPerm->filterLines(),
                 (QStringList{QStringLiteral("Who = \"%1\"").arg(who), QStringLiteral("DB = \"%1\"").arg(db)}));
        QCOMPARE(b.grid->model()->rowCount(), 1);
        QCOMPARE(cellText(b, 0, "DB"), db);

        // Back to every user: the database condition stays.
        b.cbUsers->setCurrentIndex(0);
        QCOMPARE(b.tblPerm->filterLines(), QStringList{QStringLiteral("DB = \"%1\"").arg(db)});
        QCOMPARE(b.grid->model()->rowCount(), all / (b.cbDB->count() - 1));
        for (int r = 0; r < b.grid->model()->rowCount(); ++r)
            QCOMPARE(cellText(b, r, "DB"), db);
        b.cbDB->setCurrentIndex(0);
        QCOMPARE(b.grid->model()->rowCount(), all);
    }

    void setAndClearRow()
    {
        TfrmBrowse b;
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        // A line whose Access is false.
        store::Table& perm = *b.tblPerm;
        perm.first();
        perm.edit();
        perm.fieldByName("Access").setAsBoolean(false);
        perm.fieldByName("NAdd").setAsBoolean(false);
        perm.post();
        const QString db = perm.fieldByName("DB").asString(), who = perm.fieldByName("WHO").asString();
        const QStringList before = testkit::journalLines();

        // The row buttons are reached by their mnemonics, not by Tab.
        b.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&b));
        QTest::keyClick(b.grid, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(storedFlag(db, who, "NAdd"), QStringLiteral("1")); // a mnemonic clicks a moment later
        for (const QString& f : permissions::recordKindFields())
            QCOMPARE(storedFlag(db, who, f), QStringLiteral("1"));
        QCOMPARE(storedFlag(db, who, "Access"), QStringLiteral("0"));
        QTest::mouseClick(b.sbClear, Qt::LeftButton);
        for (const QString& f : permissions::recordKindFields())
            QCOMPARE(storedFlag(db, who, f), QStringLiteral("0"));
        QVERIFY(!checked(b, 0, "CVisible"));
        QCOMPARE(storedFlag(db, who, "Access"), QStringLiteral("0"));
        // Each is saved and journalled at once (the journal writes one row
        // for a repeated change of the same row).
        QCOMPARE(testkit::journalLines().mid(before.size()), QStringList{QStringLiteral("%1/6/%2").arg(permCode).arg(syncNo(db, who))});

        // The last user of the demo has no permission rows: nothing shows,
        // and the buttons change nothing.
        b.cbUsers->setCurrentIndex(b.cbUsers->count() - 1);
        QCOMPARE(b.grid->model()->rowCount(), 0);
        const QList<QVariantMap> rows = testkit::tableRows(catalogue::kPerm);
        const int entries = testkit::journalLines().size();
        QTest::mouseClick(b.sbSet, Qt::LeftButton);
        QTest::mouseClick(b.sbClear, Qt::LeftButton);
        QCOMPARE(testkit::tableRows(catalogue::kPerm), rows);
        QCOMPARE(testkit::journalLines().size(), entries);
    }

    void noRowsAddedOrRemoved()
    {
        support::MessageScript script;
        TfrmBrowse b;
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        const int all = testkit::rowCount(catalogue::kPerm);
        QTest::keyClick(b.grid, Qt::Key_Insert);
        QTest::keyClick(b.grid, Qt::Key_Delete);
        b.tblPerm->insert(); // a new row is abandoned at once
        QCOMPARE(b.tblPerm->state(), store::TableState::Browse);
        QVERIFY_THROWS_EXCEPTION(std::exception, b.tblPerm->deleteRecord());
        QCOMPARE(testkit::rowCount(catalogue::kPerm), all);
        QCOMPARE(b.grid->model()->rowCount(), all);
    }

    // The fault fixed here: a line saved because the grid moved off it is
    // journalled like every other save.
    void everySaveOfAnEditedLineIsJournalled()
    {
        TfrmBrowse b;
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        const QStringList before = testkit::journalLines();
        const int cadd = columnOf(b, "CAdd");
        auto key = [&](int row) { return QStringLiteral("%1/6/%2").arg(permCode).arg(syncNo(cellText(b, row, "DB"), cellText(b, row, "WHO"))); };
        auto stored = [&](int row) { return storedFlag(cellText(b, row, "DB"), cellText(b, row, "WHO"), "CAdd"); };
        const QStringList keys{key(0), key(2), key(3)};
        const QString was0 = stored(0), was2 = stored(2), was3 = stored(3);

        clickCell(*b.grid, 0, cadd);
        QCOMPARE(stored(0), was0); // flipped, not saved yet
        QCOMPARE(testkit::journalLines(), before);
        clickCell(*b.grid, 2, cadd); // leaves line 0 by a click
        QVERIFY(stored(0) != was0);
        QCOMPARE(testkit::journalLines().mid(before.size()), keys.mid(0, 1));
        QTest::keyClick(b.grid, Qt::Key_Down); // leaves line 2 by the keyboard
        QVERIFY(stored(2) != was2);
        QCOMPARE(testkit::journalLines().mid(before.size()), keys.mid(0, 2));
        clickCell(*b.grid, 3, cadd);
        b.cbDB->setCurrentIndex(1); // narrowing saves the line being edited
        QVERIFY(stored(3) != was3);
        QCOMPARE(testkit::journalLines().mid(before.size()), keys);

        // The narrowed grid's first line is line 0 again; Esc closes like
        // "Cl&ose" and saves it.
        const QString now0 = stored(0);
        clickCell(*b.grid, 0, cadd);
        QTest::keyClick(b.grid, Qt::Key_Escape);
        QVERIFY(!b.isVisible());
        QVERIFY(stored(0) != now0);
        QCOMPARE(testkit::journalLines().mid(before.size()), keys + keys.mid(0, 1));
    }

    // Another program changed the line being edited, so it can never be
    // saved: closing says so and offers to close without it.
    void closingWhenTheLineCannotBeSaved()
    {
        support::MessageScript script;
        TfrmBrowse b;
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        const QString db = cellText(b, 0, "DB"), who = cellText(b, 0, "WHO");
        const QString was = storedFlag(db, who, "CAdd");
        clickCell(*b.grid, 0, columnOf(b, "CAdd"));
        QVERIFY(testkit::OtherProgram::runSql(
            QDir(install->dataDir()).filePath("perm.db"),
            QStringLiteral("UPDATE perm SET \"NAdd\" = FALSE WHERE \"DB\" = '%1' AND \"Who\" = '%2';").arg(db, who)));
        const QStringList before = testkit::journalLines();

        script.answerNo();
        QTest::keyClick(b.grid, Qt::Key_Escape);
        QVERIFY(b.isVisible());
        QCOMPARE(script.shown().size(), 1);
        QCOMPARE(script.shown()[0].kind, support::BoxKind::Question);
        QCOMPARE(script.texts()[0], QStringLiteral("The changes to the permissions of user %1 in database %2 could "
                                                   "not be saved.  Close without them?").arg(who, db));
        QVERIFY2(script.details()[0].contains("changed or deleted by another program"), qPrintable(script.details()[0]));

        script.answerYes();
        QTest::mouseClick(b.btClose, Qt::LeftButton);
        QVERIFY(!b.isVisible());
        QCOMPARE(script.shown().size(), 2);
        QCOMPARE(storedFlag(db, who, "CAdd"), was);
        QCOMPARE(storedFlag(db, who, "NAdd"), QStringLiteral("0"));
        QCOMPARE(testkit::journalLines(), before);
    }

    // The database dialog saves its pending row before the browser opens:
    // both changes to the same row are kept, each journalled, and OK works.
    void databaseDialogSavesBeforeBrowsing()
    {
        support::MessageScript script;
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        users.first();
        users.edit(); // no supervisor warning on OK
        users.fieldByName(catalogue::fSuperUser).setAsBoolean(false);
        users.post();
        const QString who = users.fieldByName(catalogue::fWho).asString();
        bool permRan = false, browserRan = false;
        QString db, accessWas;
        int from = 0;
        testkit::whenModal<TfrmPerm>(
            [&](TfrmPerm* d) {
                db = d->tblDatabase.fieldByName(catalogue::fDb).asString();
                from = testkit::journalLines().size();
                d->setAllDB(false); // pending in the dialog
                testkit::whenModal<TfrmBrowse>(
                    [&](TfrmBrowse* b) {
                        b->cbUsers->setCurrentText(who);
                        b->cbDB->setCurrentText(db);
                        QCOMPARE(b->grid->model()->rowCount(), 1);
                        QVERIFY(!checked(*b, 0, "CAdd")); // the dialog's change is there
                        accessWas = storedFlag(db, who, "Access");
                        clickCell(*b->grid, 0, columnOf(*b, "Access"));
                        QTest::mouseClick(b->btClose, Qt::LeftButton);
                    },
                    &browserRan);
                QTest::mouseClick(d->btBrowse, Qt::LeftButton);
                QTest::mouseClick(d->OKBtn, Qt::LeftButton);
                QVERIFY(!d->isVisible());
            },
            &permRan);
        TfrmPerm dialog(users);
        dialog.userId = who;
        dialog.exec();
        QVERIFY(permRan && browserRan);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(storedFlag(db, who, "CAdd"), QStringLiteral("0"));
        QVERIFY(storedFlag(db, who, "Access") != accessWas);
        const QString key = QStringLiteral("%1/6/%2").arg(permCode).arg(syncNo(db, who));
        QVERIFY(!testkit::journalLines().mid(from).isEmpty());
        for (const QString& line : testkit::journalLines().mid(from))
            QCOMPARE(line, key);
        QVERIFY(script.shown().isEmpty());
    }

    // Reached from the database permissions dialog's "&Browse": a flipped
    // cell is saved and journalled on "Cl&ose".
    void openedFromTheDatabaseDialog()
    {
        support::MessageScript script;
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        users.first();
        bool permRan = false, browserRan = false;
        int from = 0;
        QString db, who, was;
        testkit::whenModal<TfrmPerm>(
            [&](TfrmPerm* d) {
                from = testkit::journalLines().size();
                testkit::whenModal<TfrmBrowse>(
                    [&](TfrmBrowse* b) {
                        db = cellText(*b, 1, "DB");
                        who = cellText(*b, 1, "WHO");
                        was = storedFlag(db, who, "QDelete");
                        clickCell(*b->grid, 1, columnOf(*b, "QDelete"));
                        QTest::mouseClick(b->btClose, Qt::LeftButton);
                    },
                    &browserRan);
                QTest::mouseClick(d->btBrowse, Qt::LeftButton);
                d->reject();
            },
            &permRan);
        TfrmPerm dialog(users);
        dialog.userId = users.fieldByName(catalogue::fWho).asString();
        dialog.exec();
        QVERIFY(permRan && browserRan);
        QVERIFY(storedFlag(db, who, "QDelete") != was);
        QCOMPARE(testkit::journalLines().mid(from), QStringList{QStringLiteral("%1/6/%2").arg(permCode).arg(syncNo(db, who))});
        QVERIFY(script.shown().isEmpty());
    }
};

QTEST_MAIN(TestBrowse)
#include "tst_browse.moc"
