// The database permissions dialog, the kind chooser and the shortcut dialog,
// driven offscreen on a demo installation: which PERM.DB and USERPREF.DB rows
// change and which journal entries merge.db gains, in order; the shortcuts
// against a second program holding PERM.DB.

#include "permissions/Chperm.h"
#include "permissions/PermModel.h"
#include "permissions/permSel.h"
#include "permissions/shortcut.h"
#include "shell/Main.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Screenshots.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DbCheckBox.h"
#include "ui/DbCheckList.h"
#include "ui/DbGrid.h"
#include "ui/DialogTestKit.h"
#include "ui/HidePanel.h"
#include "ui/Notebook.h"
#include "ui/ProgressWindow.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QtTest>


namespace {

const int kPermCode = 10;
const int kUserPrefCode = 12;
const QString kSupervisorWarning = QStringLiteral(
    "Note that you have set this user to be a Supervisor but there are some permissions set to FALSE.\r\r"
    "The Supervisor setting will override any negative permissions.\r\r"
    "Thus allowing this user full access to all Data, Tabs and Functions.");

QVariant permValue(const QString& db, const QString& who, const QString& field)
{
    store::Table perm(catalogue::kAlias, catalogue::kPerm);
    perm.open();
    if (!perm.findKey({db, who}))
        return QStringLiteral("<no row>");
    return perm.fieldByName(field).value();
}

// Sets (or, with a null value, clears) one field of the row with that key.
void setValue(const QString& tableName, const QVariantList& key, const QString& field, const QVariant& value)
{
    store::Table t(catalogue::kAlias, tableName);
    t.open();
    QVERIFY(t.findKey(key));
    t.edit();
    if (value.isNull())
        t.fieldByName(field).clear();
    else
        t.fieldByName(field).setValue(value);
    t.post();
}

void setPermValue(const QString& db, const QString& who, const QString& field, const QVariant& value)
{
    setValue(catalogue::kPerm, {db, who}, field, value);
}

// Sets every boolean of the pair's row.
void setAllPerm(const QString& db, const QString& who, bool value)
{
    store::Table perm(catalogue::kAlias, catalogue::kPerm);
    perm.open();
    QVERIFY(perm.findKey({db, who}));
    perm.edit();
    for (int i = 0; i < perm.fieldCount(); ++i)
        if (perm.field(i).dataType() == store::FieldType::Boolean)
            perm.field(i).setAsBoolean(value);
    perm.post();
}

void setUserValue(const QString& who, const QString& field, const QVariant& value)
{
    setValue(catalogue::kUserPref, {who}, field, value);
}

// The demo's last user has no rows; opening the dialog would make them.
// Tests that look at the journal make them first, so that they see only the
// entries of their own flow.
void completeAllPairs()
{
    store::Table u(catalogue::kAlias, catalogue::kUserPref), d(catalogue::kAlias, catalogue::kDatabase),
        p(catalogue::kAlias, catalogue::kPerm);
    u.open(), d.open(), p.open();
    permissions::installPermHooks(p);
    permissions::initializeAllPairs(u, d, p);
}

QString syncwellNo(const QString& db, const QString& who)
{
    return permValue(db, who, catalogue::fSyncwellNo).toString();
}

QString permEntry(int action, const QString& db, const QString& who)
{
    return QStringLiteral("%1/%2/%3").arg(kPermCode).arg(action).arg(syncwellNo(db, who));
}

} // namespace

class TestDbPermissions : public QObject {
    Q_OBJECT

    std::unique_ptr<JournalledInstall> install;
    QStringList users;     // Who in key order
    QStringList databases; // DB in key order
    std::unique_ptr<store::Table> userTable;

    // Opens the dialog for who on a user table of the test's own (as the
    // main window's), runs action inside exec(); prepare sees the dialog
    // before it opens.
    void runDialog(const QString& who, const std::function<void(TfrmPerm*)>& action,
                   const std::function<void(TfrmPerm&)>& prepare = {})
    {
        userTable = std::make_unique<store::Table>(catalogue::kAlias, catalogue::kUserPref);
        userTable->open();
        QVERIFY(userTable->findKey({who}));
        TfrmPerm dialog(*userTable);
        dialog.userId = who;
        if (prepare)
            prepare(dialog);
        bool ran = false;
        testkit::whenModal<TfrmPerm>(action, &ran);
        dialog.exec();
        QVERIFY(ran);
    }
    // Opens the short cut window for who and db, runs action inside exec().
    void runShortcut(const QString& who, const QString& db, const std::function<void(TfrmShortCut*)>& action)
    {
        TfrmShortCut dialog;
        dialog.userId = who;
        dialog.database = db;
        bool ran = false;
        testkit::whenModal<TfrmShortCut>(action, &ran);
        dialog.exec();
        QVERIFY(ran);
    }
    static void toAllUsers(TfrmShortCut* s)
    {
        QTest::mouseClick(s->btAllUsers, Qt::LeftButton);
        s->reject();
    }

private slots:
    void init()
    {
        install = std::make_unique<JournalledInstall>();
        QVERIFY(install->ok());
        users = testkit::column(catalogue::kUserPref, catalogue::fWho);
        databases = testkit::column(catalogue::kDatabase, catalogue::fDb);
        QCOMPARE(users.size(), 4);
        QCOMPARE(databases.size(), 2);
    }
    void cleanup()
    {
        userTable.reset();
        install.reset();
    }

    // Double-click a user, database permissions, untick "Export data",
    // choose the other database, OK: the row of the first database is saved
    // and journalled when it is left; nothing else is written.
    void fromTheMainWindow()
    {
        support::MessageScript script;
        TfrmMain main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        const QString who = users[1];
        main.tblUserPref.findKey({who});
        const QString fullName = main.tblUserPref.fieldByName(catalogue::fFullName).asString();
        setPermValue(databases[0], who, "actExport", true);
        setUserValue(who, catalogue::fSuperUser, false);
        completeAllPairs();
        main.tblUserPref.refresh();
        const int journalBefore = testkit::journalEntries().size();

        bool chooserRan = false, dialogRan = false;
        testkit::whenModal<TfrmSelectPermission>(
            [&](TfrmSelectPermission* chooser) {
                QCOMPARE(chooser->Who, who);
                testkit::whenModal<TfrmPerm>(
                    [&](TfrmPerm* d) {
                        QCOMPARE(d->windowTitle(), QString("Permissions for user %1 %2").arg(who, fullName));
                        QCOMPARE(d->lblTitle->text(), "User: " + who);
                        QCOMPARE(d->lblDB->text(), "Database: " + databases[0]);
                        QCOMPARE(d->nbook->currentWidget(), d->DatePage);
                        d->nbook->showPage(d->ActionsPage);
                        QCOMPARE(d->lbPerm->item(4)->text(), QString("Export data"));
                        QVERIFY(d->lbPerm->isChecked(4));
                        const int setBefore = d->lbPerm->checkedCount();
                        d->lbPerm->setChecked(4, false);
                        QCOMPARE(d->lblNset->text(), QString("%1 set, %2 clear").arg(setBefore - 1).arg(28 - setBefore));
                        QTest::keyClick(d->grDatabase, Qt::Key_Down);
                        QCOMPARE(d->lblDB->text(), "Database: " + databases[1]);
                        QTest::mouseClick(d->OKBtn, Qt::LeftButton);
                    },
                    &dialogRan);
                QTest::mouseClick(chooser->btDatabase, Qt::LeftButton);
                QTest::mouseClick(chooser->Button1, Qt::LeftButton);
            },
            &chooserRan);
        testkit::doubleClickLine(main.grid, 1);
        QVERIFY(chooserRan && dialogRan);
        QCOMPARE(permValue(databases[0], who, "actExport"), QVariant(false));
        QCOMPARE(testkit::journalLines(journalBefore), QStringList{permEntry(6, databases[0], who)});
        QVERIFY(script.shown().isEmpty());
    }

    // Opening creates the missing rows of every user (action 2), completes
    // partly blank rows (action 6), fixes a blank SuperUser (field entry),
    // and leaves complete rows and set SuperUser values alone.
    void openingBringsEveryPairUpToDate()
    {
        const QString lastUser = users.last(); // the demo gives it no rows
        QCOMPARE(permValue(databases[0], lastUser, "Access").toString(), QString("<no row>"));
        setPermValue(databases[1], users[0], "NAdd", QVariant());
        setPermValue(databases[1], users[0], "Access", false);
        setUserValue(users[2], catalogue::fSuperUser, QVariant());
        setUserValue(users[0], catalogue::fSuperUser, true);
        const int before = testkit::journalEntries().size();
        const int rowsBefore = testkit::rowCount(catalogue::kPerm);

        // The opening takes a while: half a second after it began, at the
        // first new row, the progress window shows, without Cancel.
        support::MessageScript script;
        const QDateTime start(QDate(2024, 3, 1), QTime(9, 0));
        support::ClockOverride clock(start);
        int made = 0;
        QString countShown;
        bool cancelOffered = true;
        auto slowOpening = [&](TfrmPerm& dialog) {
            dialog.tblPerm.onNewRecord = [&, inner = dialog.tblPerm.onNewRecord](store::Table& t) {
                if (++made == 1)
                    clock.set(start.addMSecs(ui::ProgressWindow::kShowAfterMs));
                auto* progress = dialog.findChild<ui::ProgressWindow*>();
                if (made == 2 && progress && progress->isVisible()) {
                    countShown = progress->countText();
                    cancelOffered = progress->findChild<QPushButton*>() != nullptr;
                }
                inner(t);
            };
        };
        runDialog(users[2], [](TfrmPerm* d) {
            QVERIFY(d->opened());
            QVERIFY(!d->findChild<ui::ProgressWindow*>());
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        }, slowOpening);
        // The demo's last user lacks both rows: the first is the 7th pair.
        QCOMPARE(countShown, QString("7 of 8 pairs"));
        QVERIFY(!cancelOffered);
        QCOMPARE(testkit::rowCount(catalogue::kPerm), rowsBefore + 2);
        QCOMPARE(permValue(databases[1], users[0], "NAdd"), QVariant(true));
        QCOMPARE(permValue(databases[1], users[0], "Access"), QVariant(false));
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        QVERIFY(perm.findKey({databases[0], lastUser})); // a new row: every flag true, a fresh key
        for (int i = 0; i < perm.fieldCount(); ++i)
            if (perm.field(i).dataType() == store::FieldType::Boolean)
                QVERIFY2(perm.field(i).asBoolean(), qPrintable(perm.field(i).fieldName()));
        QCOMPARE(syncwellNo(databases[0], lastUser).size(), 24);
        QCOMPARE(testkit::findRow(catalogue::kUserPref, "Who", users[2]).value("superuser"), QVariant(false));
        QCOMPARE(testkit::findRow(catalogue::kUserPref, "Who", users[0]).value("superuser"), QVariant(true));

        QStringList expected{permEntry(6, databases[1], users[0]), permEntry(2, databases[0], lastUser),
                             permEntry(2, databases[1], lastUser)};
        expected << QString("%1/0/%2 SuperUser").arg(kUserPrefCode).arg(users[2]);
        QCOMPARE(testkit::journalLines(before), expected);
        QVERIFY(script.shown().isEmpty());

        // A second opening writes nothing.
        const int after = testkit::journalEntries().size();
        runDialog(users[2], [](TfrmPerm* d) { QTest::mouseClick(d->CancelBtn, Qt::LeftButton); });
        QCOMPARE(testkit::journalEntries().size(), after);
    }

    // Access: the panel covers the page and the two other tabs go; changes
    // left behind by choosing another database stay saved after Cancel.
    void accessHidesAndLeavingSaves()
    {
        const QString who = users[1];
        setPermValue(databases[0], who, "Access", true);
        setPermValue(databases[1], who, "Access", false);
        setPermValue(databases[0], who, "LAdd", true);
        runDialog(who, [&](TfrmPerm* d) {
            QVERIFY(!d->pnlHide->covering());
            QVERIFY(d->nbook->isPageVisible(d->VisiblePage) && d->nbook->isPageVisible(d->ActionsPage));
            QTest::keyClick(d->grDatabase, Qt::Key_Down);
            QVERIFY(d->pnlHide->covering());
            QCOMPARE(d->pnlHide->caption(), QString("%1 has no access to database %2").arg(who, databases[1]));
            QVERIFY(!d->nbook->isPageVisible(d->VisiblePage) && !d->nbook->isPageVisible(d->ActionsPage));
            QTest::mouseClick(d->cbAccess, Qt::LeftButton);
            QVERIFY(!d->pnlHide->covering());
            QVERIFY(d->nbook->isPageVisible(d->ActionsPage));
            QTest::keyClick(d->grDatabase, Qt::Key_Up); // saves database 1's access
            QVERIFY(!d->pnlHide->covering());
            d->kindBoxes[3 * 4 + 1 - 1]->click(); // Correspondence / Add
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        QCOMPARE(permValue(databases[1], who, "Access"), QVariant(true));
        QCOMPARE(permValue(databases[0], who, "LAdd"), QVariant(true)); // dropped by Cancel
    }

    // "Set all" pages: the data page's covers CVisible and not Access; the
    // actions' only the 27 action fields. OK saves and journals once.
    void setAllAndOk()
    {
        const QString who = users[1];
        setAllPerm(databases[0], who, true);
        setPermValue(databases[0], who, "Access", false);
        completeAllPairs();
        const int before = testkit::journalEntries().size();
        runDialog(who, [&](TfrmPerm* d) {
            QVERIFY(!d->btClearData->isEnabled()); // under the hide panel
            d->cbAccess->click();                 // access back: the page and the tabs show
            QTest::mouseClick(d->btClearData, Qt::LeftButton);
            QVERIFY(!d->kindBoxes[0]->isChecked());
            d->nbook->showPage(d->ActionsPage);
            QTest::mouseClick(d->btClearAct, Qt::LeftButton);
            QCOMPARE(d->lblNset->text(), QString("0 set, 27 clear"));
            QTest::mouseClick(d->btSetAct, Qt::LeftButton);
            QCOMPARE(d->lblNset->text(), QString("27 set, 0 clear"));
            QTest::mouseClick(d->btClearAct, Qt::LeftButton);
            d->nbook->showPage(d->VisiblePage);
            QTest::mouseClick(d->btClrAllTab, Qt::LeftButton);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        const QVariantMap row = testkit::findRow(catalogue::kPerm, "syncwellno", syncwellNo(databases[0], who));
        QCOMPARE(row.value("access"), QVariant(true));
        QCOMPARE(row.value("cvisible"), QVariant(false));
        QCOMPARE(row.value("sdelete"), QVariant(false));
        QCOMPARE(row.value("cattab"), QVariant(false));
        QCOMPARE(row.value("actbrowse"), QVariant(false));
        QCOMPARE(row.value("actsetupscreen"), QVariant(false));
        QCOMPARE(testkit::journalLines(before), QStringList{permEntry(6, databases[0], who)});
    }

    void supervisorWarning_data()
    {
        QTest::addColumn<QString>("falseField");
        QTest::addColumn<bool>("warned");
        QTest::newRow("all true") << QString() << false;
        QTest::newRow("phone calls add") << QString("PAdd") << true;
        QTest::newRow("an action") << QString("actSetupDates") << true;
        QTest::newRow("only CVisible") << QString("CVisible") << false;
    }
    void supervisorWarning()
    {
        QFETCH(QString, falseField);
        QFETCH(bool, warned);
        const QString who = users[0];
        setUserValue(who, catalogue::fSuperUser, true);
        setAllPerm(databases[0], who, true);
        if (!falseField.isEmpty())
            setPermValue(databases[0], who, falseField, false);
        support::MessageScript script;
        runDialog(who, [](TfrmPerm* d) { QTest::mouseClick(d->OKBtn, Qt::LeftButton); });
        QCOMPARE(script.texts(), warned ? QStringList{kSupervisorWarning} : QStringList{});
        if (warned)
            QCOMPARE(script.shown().first().kind, support::BoxKind::Warning);
    }

    // With no database no permission row shows, so there is nothing to
    // warn a supervisor about.
    void noDatabaseNoWarning()
    {
        const QString who = users[0];
        setUserValue(who, catalogue::fSuperUser, true);
        testkit::deleteAllRows(catalogue::kDatabase);
        testkit::deleteAllRows(catalogue::kPerm);
        support::MessageScript script;
        runDialog(who, [](TfrmPerm* d) {
            QVERIFY(!d->nbook->isEnabled());
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QVERIFY(script.shown().isEmpty());
        QCOMPARE(testkit::rowCount(catalogue::kPerm), 0);
    }

    // A tick in the Actions list goes into the row as it is now: another
    // workstation's change to another action, made after the list was
    // loaded, is kept and shows.
    void aTickKeepsAnotherProgramsChange()
    {
        const QString who = users[1], db = databases[0];
        setAllPerm(db, who, true);
        completeAllPairs();
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        perm.open();
        const permissions::FlagRun run = permissions::actionRun(perm);
        const QString email = perm.field(run.first + 1).fieldName(), exportData = perm.field(run.first + 4).fieldName();
        runDialog(who, [&](TfrmPerm* d) {
            d->nbook->showPage(d->ActionsPage);
            QVERIFY(d->lbPerm->isChecked(4));
            QVERIFY(testkit::OtherProgram::runSql(
                QDir(install->dataDir()).filePath("perm.db"),
                QStringLiteral("UPDATE perm SET \"%1\" = FALSE WHERE \"DB\" = '%2' AND \"Who\" = '%3';")
                    .arg(exportData, db, who)));
            d->lbPerm->setChecked(1, false);
            QVERIFY(!d->lbPerm->isChecked(4)); // the list shows the newer row
            QCOMPARE(d->lblNset->text(), QString("25 set, 2 clear"));
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QCOMPARE(permValue(db, who, email), QVariant(false));
        QCOMPARE(permValue(db, who, exportData), QVariant(false));
    }

    // A row that another program deleted is made again only while its
    // database and user exist; with the database gone the grid is read
    // again, with the user gone the supervisor is told.
    void deletedRowWithItsDatabaseOrUser()
    {
        completeAllPairs();
        support::MessageScript script;
        const QString dir = install->dataDir();
        const int before = testkit::journalEntries().size();
        runDialog(users[1], [&](TfrmPerm* d) {
            QVERIFY(testkit::OtherProgram::runSql(QDir(dir).filePath("database.db"),
                                                  QStringLiteral("DELETE FROM database WHERE \"DB\" = '%1';").arg(databases[1])));
            QVERIFY(testkit::OtherProgram::runSql(QDir(dir).filePath("perm.db"),
                                                  QStringLiteral("DELETE FROM perm WHERE \"DB\" = '%1';").arg(databases[1])));
            QTest::keyClick(d->grDatabase, Qt::Key_Down);
            QCOMPARE(d->tblDatabase.fieldByName(catalogue::fDb).asString(), databases[0]);
            QCOMPARE(d->lblDB->text(), QString("Database: %1").arg(databases[0]));
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QCOMPARE(permValue(databases[1], users[1], "Access"), QVariant("<no row>"));
        QCOMPARE(testkit::journalEntries().size(), before);
        QVERIFY(script.shown().isEmpty());

        testkit::addRow(catalogue::kDatabase, {{"DB", databases[1]}});
        completeAllPairs();
        const int from = testkit::journalEntries().size();
        runDialog(users[2], [&](TfrmPerm* d) {
            QVERIFY(testkit::OtherProgram::runSql(QDir(dir).filePath("userpref.db"),
                                                  QStringLiteral("DELETE FROM userpref WHERE \"Who\" = '%1';").arg(users[2])));
            QVERIFY(testkit::OtherProgram::runSql(QDir(dir).filePath("perm.db"),
                                                  QStringLiteral("DELETE FROM perm WHERE \"Who\" = '%1';").arg(users[2])));
            QTest::keyClick(d->grDatabase, Qt::Key_Down);
            QCOMPARE(script.texts(), QStringList{QString("User %1 was deleted by another program.").arg(users[2])});
            QVERIFY(!d->nbook->isEnabled());
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QCOMPARE(permValue(databases[1], users[2], "Access"), QVariant("<no row>"));
        QCOMPARE(testkit::journalEntries().size(), from);
    }

    // Shortcuts from the dialog: the pending change is saved and journalled
    // first; "all databases" rewrites that user's rows only.
    void shortcutAllDatabases()
    {
        const QString who = users[1];
        setAllPerm(databases[1], who, true);
        setAllPerm(databases[0], users[2], true);
        completeAllPairs();
        const int before = testkit::journalEntries().size();
        support::MessageScript script;
        script.answerYes();
        runDialog(who, [&](TfrmPerm* d) {
            d->nbook->showPage(d->ActionsPage);
            d->lbPerm->setChecked(20, false); // item 21, not 26
            testkit::whenModal<TfrmShortCut>([&](TfrmShortCut* s) {
                QCOMPARE(s->lblTitle->text(), QString("Current user: %1 Database: %2").arg(who, databases[0]));
                QCOMPARE(s->btUsers->text(), "All &databases for user " + who);
                QCOMPARE(s->btAllUsers->text(), "All &users in database " + databases[0]);
                QTest::mouseClick(s->btUsers, Qt::LeftButton);
                QTest::mouseClick(s->btClose, Qt::LeftButton);
            });
            QTest::mouseClick(d->Shortcuts, Qt::LeftButton);
            QVERIFY(!d->lbPerm->isChecked(20) && d->lbPerm->isChecked(25) == permValue(databases[0], who, "actSetupDateFields").toBool());
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        QCOMPARE(script.texts(), (QStringList{"Are you sure?", "Completed"}));
        QCOMPARE(permValue(databases[1], who, "actSetupDates"), QVariant(false));
        QCOMPARE(permValue(databases[1], who, "actSetupDateFields"), permValue(databases[0], who, "actSetupDateFields"));
        QCOMPARE(permValue(databases[1], who, "Access"), permValue(databases[0], who, "Access"));
        QCOMPARE(permValue(databases[0], users[2], "actSetupDates"), QVariant(true)); // other users untouched
        // The save, then (the journal drops the immediate repeat of the same
        // row) the two rows of the walk.
        QCOMPARE(testkit::journalLines(before), (QStringList{permEntry(6, databases[0], who), permEntry(6, databases[1], who)}));
    }

    // "All users" copies Access too and keeps DB, WHO and syncwellno; while
    // another program holds PERM.DB shared it works; exclusively, a clear
    // error and nothing written.
    void shortcutAllUsersBesideAnotherProgram()
    {
        const QString db = databases[0];
        setAllPerm(db, users[0], true);
        setPermValue(db, users[0], "QChange", false);
        setAllPerm(db, users[1], false);
        const QString targetId = syncwellNo(db, users[1]);
        testkit::OtherProgram other(*install);

        auto toAllUsersAnsweringYes = [&](support::MessageScript& script) {
            script.answerYes();
            runShortcut(users[0], db, toAllUsers);
        };

        QVERIFY(other.hold(catalogue::kPerm, "exclusive"));
        {
            support::MessageScript script;
            const int before = testkit::journalEntries().size();
            toAllUsersAnsweringYes(script);
            QCOMPARE(script.shown().size(), 2);
            QCOMPARE(script.shown().at(1).kind, support::BoxKind::Error);
            QVERIFY2(script.texts().at(1).contains("PERM", Qt::CaseInsensitive), qPrintable(script.texts().at(1)));
            QCOMPARE(testkit::journalEntries().size(), before);
        }
        other.release();
        QCOMPARE(permValue(db, users[1], "Access"), QVariant(false));

        QVERIFY(other.hold(catalogue::kPerm, "shared"));
        {
            support::MessageScript script;
            const int before = testkit::journalEntries().size();
            toAllUsersAnsweringYes(script);
            QCOMPARE(script.texts(), (QStringList{"Are you sure?", "Completed"}));
            QCOMPARE(testkit::journalEntries().size() - before, 3); // the three users with rows
        }
        other.release();
        QCOMPARE(permValue(db, users[1], "Access"), QVariant(true));
        QCOMPARE(permValue(db, users[1], "QChange"), QVariant(false));
        QCOMPARE(permValue(db, users[1], "actBrowse"), QVariant(true));
        QCOMPARE(syncwellNo(db, users[1]), targetId);
        QCOMPARE(permValue(db, users[1], "WHO"), QVariant(users[1]));
    }

    // A row written by another program with odd contents stops the walk with
    // an error; the rows before it stay written and journalled.
    void shortcutStopsAtAnOddRow()
    {
        const QString db = databases[0];
        setAllPerm(db, users[0], false);
        setAllPerm(db, users[1], true);
        setAllPerm(db, users[2], true);
        {
            // Another program's rule refuses every change to the third row.
            testkit::RawDb raw(install->dataDir() + "/perm.db");
            if (raw.onServer())
                QVERIFY(raw.exec(QString("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                                         "$$BEGIN RAISE EXCEPTION 'row locked by the other office'; END$$; "
                                         "CREATE TRIGGER refuse BEFORE UPDATE ON perm FOR EACH ROW "
                                         "WHEN (OLD.\"Who\" = '%1') EXECUTE FUNCTION refuse()")
                                     .arg(users[2])));
            else
                QVERIFY(raw.exec(QString("CREATE TRIGGER refuse BEFORE UPDATE ON perm WHEN OLD.WHO = '%1' "
                                         "BEGIN SELECT RAISE(ABORT, 'row locked by the other office'); END")
                                     .arg(users[2])));
        }
        const int before = testkit::journalEntries().size();
        support::MessageScript script;
        script.answerYes();
        runShortcut(users[0], db, toAllUsers);
        QCOMPARE(script.shown().size(), 2);
        QCOMPARE(script.shown().at(1).kind, support::BoxKind::Error);
        QVERIFY2(script.texts().at(1).contains("row locked by the other office"), qPrintable(script.texts().at(1)));
        QCOMPARE(permValue(db, users[1], "Access"), QVariant(false));
        QCOMPARE(permValue(db, users[2], "Access"), QVariant(true));
        QCOMPARE(testkit::journalLines(before), (QStringList{permEntry(6, db, users[0]), permEntry(6, db, users[1])}));
    }

    void shortcutNoAndMissingRow()
    {
        support::MessageScript script;
        script.answerNo();
        script.answerYes();
        const int before = testkit::journalEntries().size();
        runShortcut("QQ", databases[0], [](TfrmShortCut* s) {
            QTest::mouseClick(s->btUsers, Qt::LeftButton);
            QTest::mouseClick(s->btUsers, Qt::LeftButton);
            s->reject();
        });
        QCOMPARE(script.texts(), (QStringList{"Are you sure?", "Are you sure?",
                                              "Could not position the database!  Operation aborted."}));
        QCOMPARE(script.beeps(), 0);
        QCOMPARE(testkit::journalEntries().size(), before);
    }

    // While another program holds PERM.DB for itself the dialog cannot make
    // its rows: a clear error, the dialog closes, nothing is written; Esc
    // on an open dialog drops a pending change like Cancel.
    void openingBesideAnExclusiveHolder()
    {
        const QString who = users[1];
        const int before = testkit::journalEntries().size();
        testkit::OtherProgram other(*install);
        QVERIFY(other.hold(catalogue::kPerm, "exclusive"));
        {
            support::MessageScript script;
            store::Table userTable(catalogue::kAlias, catalogue::kUserPref);
            userTable.open();
            QVERIFY(userTable.findKey({who}));
            TfrmPerm dialog(userTable);
            dialog.userId = who;
            dialog.show();
            QVERIFY(!dialog.opened());
            QCOMPARE(script.shown().size(), 1);
            QCOMPARE(script.shown().first().kind, support::BoxKind::Error);
            QVERIFY2(script.texts().first().contains("PERM", Qt::CaseInsensitive), qPrintable(script.texts().first()));
            QTRY_VERIFY(!dialog.isVisible());
        }
        other.release();
        QCOMPARE(testkit::journalEntries().size(), before);

        completeAllPairs();
        setPermValue(databases[0], who, "MAdd", true);
        runDialog(who, [](TfrmPerm* d) {
            d->kindBoxes[3 + 4 + 4 + 4 + 1]->click(); // Meetings / Add
            QTest::keyClick(d, Qt::Key_Escape);
        });
        QCOMPARE(permValue(databases[0], who, "MAdd"), QVariant(true));
        QCOMPARE(testkit::journalEntries().size(), before + 2); // the last user's two new rows
    }

    void chooserHelpAndScreenshots()
    {
        auto save = [](QWidget* w, const QString& name) {
            QTest::qWait(20);
            testkit::saveScreenshot(w, name);
        };
        support::HelpRecorder help;
        support::MessageScript script;
        userTable = std::make_unique<store::Table>(catalogue::kAlias, catalogue::kUserPref);
        userTable->open();
        userTable->findKey({users[1]});
        TfrmSelectPermission chooser;
        chooser.Who = users[1];
        chooser.FullName = "Someone";
        chooser.userTable = userTable.get();
        testkit::whenModal<TfrmSelectPermission>([&](TfrmSelectPermission* c) {
            save(c, "permission-chooser.png");
            QTest::mouseClick(c->HelpBtn, Qt::LeftButton);
            testkit::whenModal<TfrmPerm>([&](TfrmPerm* d) {
                save(d, "database-permissions-data.png");
                d->nbook->showPage(d->ActionsPage);
                save(d, "database-permissions-actions.png");
                d->nbook->showPage(d->DatePage);
                d->cbAccess->click();
                save(d, "database-permissions-no-access.png");
                QTest::mouseClick(d->HelpBtn, Qt::LeftButton);
                testkit::whenModal<TfrmShortCut>([&](TfrmShortCut* s) {
                    save(s, "permission-shortcuts.png");
                    s->reject();
                });
                QTest::mouseClick(d->Shortcuts, Qt::LeftButton);
                QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
            });
            QTest::mouseClick(c->btDatabase, Qt::LeftButton);
            c->reject();
        });
        chooser.exec();
        QCOMPARE(help.contexts(), (QList<int>{1400, 1420}));
    }
};

QTEST_MAIN(TestDbPermissions)
#include "tst_dbpermissions.moc"
