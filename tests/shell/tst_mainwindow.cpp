// The main window on a real installation: the user list, the contact-table
// test against a second program, the commands' preconditions, deleting a
// user, the table hooks, help, and what closing the window does.

#include "accounts/User.h"
#include "shell/Backup.h"
#include "shell/Main.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/TestInstall.h"
#include "ui/DbGrid.h"
#include "ui/DialogTestKit.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kInUseAtShow =
    QStringLiteral("You cannot delete or replace existing users while others are accessing Kontiva.");
const QString kInUseNow =
    QStringLiteral("Could not get exclusive access to the contact.db table.  Somebody is using Kontiva");

// A second program holding a table open (shared or exclusive) until stopped.
class TableHolder {
public:
    TableHolder(const TestInstall& install, const QString& table, const QString& mode = "shared")
    {
        m_process.start(QDir(QCoreApplication::applicationDirPath()).filePath("hold_table"),
                        {install.configPath(), install.netDir(), table, mode});
        m_ready = m_process.waitForStarted(10000) && m_process.waitForReadyRead(10000)
            && m_process.readLine().trimmed() == "ready";
    }
    ~TableHolder()
    {
        m_process.write("\n");
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
    bool ready() const { return m_ready; }

private:
    QProcess m_process;
    bool m_ready = false;
};

// Whether another program can open the table right now ("opened"/"failed").
bool otherProgramCanOpen(const TestInstall& install, const QString& table, bool exclusive)
{
    QProcess p;
    p.start(QDir(QCoreApplication::applicationDirPath()).filePath("hold_table"),
            {install.configPath(), install.netDir(), table, exclusive ? "tryexclusive" : "try"});
    p.waitForFinished(10000);
    return p.readAllStandardOutput().startsWith("opened");
}

int rowsOf(const QString& table, const QString& who)
{
    int n = 0;
    for (const QVariantMap& row : testkit::tableRows(table))
        n += row.value("who").toString() == who ? 1 : 0;
    return n;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFile::exists(QDir(QCoreApplication::applicationDirPath()).filePath("hold_table")))
            QSKIP("the hold_table helper is not built");
    }

    void showsTheUsersWithItsCommands()
    {
        TestInstall install;
        QVERIFY(install.ok());
        support::MessageScript script;
        TfrmMain w;
        w.show();
        QVERIFY(script.shown().isEmpty());

        const auto users = testkit::tableRows(catalogue::kUserPref);
        QAbstractItemModel* model = w.grid->model();
        QCOMPARE(model->rowCount(), users.size());
        QCOMPARE(model->columnCount(), 3);
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Full Name"));
        for (int r = 0; r < users.size(); ++r) {
            QCOMPARE(model->index(r, 0).data().toString(), users[r].value("who").toString());
            QCOMPARE(model->index(r, 1).data().toString(), users[r].value("fullname").toString());
            QCOMPARE(model->index(r, 2).data(Qt::CheckStateRole).toInt(),
                     users[r].value("superuser").toBool() ? int(Qt::Checked) : int(Qt::Unchecked));
        }
        QCOMPARE(w.grid->currentLine(), 0);
        QCOMPARE(w.grid->selectionBehavior(), QAbstractItemView::SelectRows);

        support::HelpRecorder help;
        QTest::mouseClick(w.btHelp, Qt::LeftButton);
        w.Help1->trigger();
        QCOMPARE(help.contexts(), (QList<int>{1000, 1000}));
    }

    void contactTableInUseByAnotherProgram()
    {
        TestInstall install;
        QVERIFY(install.ok());
        TableHolder holder(install, catalogue::kContact);
        QVERIFY(holder.ready());
        const int users = testkit::rowCount(catalogue::kUserPref);

        support::MessageScript script;
        TfrmMain w;
        w.show();
        QCOMPARE(script.texts(), QStringList{kInUseAtShow});
        QVERIFY(!w.btDelete->isEnabled());
        QVERIFY(!w.btReplace->isEnabled());
        for (QPushButton* b : {w.btAdd, w.btModify, w.btCopy, w.btPermission, w.btForce, w.btHelp, w.btClose})
            QVERIFY(b->isEnabled());
        QVERIFY(w.DeleteUser1->isEnabled() && w.ReplaceUsers1->isEnabled());

        // The menu items stay and repeat the test each time.
        script.clear();
        w.ReplaceUsers1->trigger();
        w.DeleteUser1->trigger();
        QCOMPARE(script.texts(), (QStringList{kInUseNow, kInUseNow}));
        QCOMPARE(testkit::rowCount(catalogue::kUserPref), users);
    }

    void contactTableIsHeldSharedWhileTheWindowRuns()
    {
        TestInstall install;
        QVERIFY(install.ok());
        support::MessageScript script;
        TfrmMain w;
        w.show();
        QVERIFY(script.shown().isEmpty());
        QVERIFY(w.tblContact.active());
        QVERIFY(!w.tblContact.exclusive());
        // Kontiva can start beside it, but nobody can take the table alone.
        QVERIFY(otherProgramCanOpen(install, catalogue::kContact, false));
        QVERIFY(!otherProgramCanOpen(install, catalogue::kContact, true));
    }

    void userTableThatCannotOpenTurnsButtonsOff()
    {
        TestInstall install;
        QVERIFY(install.ok());
        // Without the table passwords the protected user table does not open.
        store::Session& session = store::Session::instance();
        session.reset();
        session.setConfigPath(install.configPath());
        session.setNetFileDir(install.netDir());

        support::MessageScript script;
        TfrmMain w;
        w.show();
        QCOMPARE(script.texts(), QStringList{"Could not open the userpref database."});
        for (QPushButton* b : {w.btAdd, w.btDelete, w.btModify, w.btCopy, w.btReplace})
            QVERIFY(!b->isEnabled());
        for (QPushButton* b : {w.btPermission, w.btForce, w.btHelp, w.btClose})
            QVERIFY(b->isEnabled());
        for (QAction* a : {w.AddUser1, w.DeleteUser1, w.ModifyUser1, w.CopySettings1, w.ReplaceUsers1})
            QVERIFY(a->isEnabled());
        QVERIFY(w.grid->model()->rowCount() == 0);
    }

    void deleteRemovesTheUserEverywhere_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }

    void deleteRemovesTheUserEverywhere()
    {
        QFETCH(bool, yes);
        TestInstall install;
        QVERIFY(install.ok());
        support::MessageScript script;
        TfrmMain w;
        w.show();
        w.tblUserPref.next(); // the second user
        const QString who = w.tblUserPref.fieldByName("Who").asString();
        QCOMPARE(w.grid->currentLine(), 1);
        const int users = testkit::rowCount(catalogue::kUserPref);
        const int perm = rowsOf(catalogue::kPerm, who);
        QVERIFY(perm > 0);
        const int journal = testkit::journalEntries().size();

        // While the question is up nobody else can open the contact table.
        bool lockedDuringQuestion = false;
        script.answerWith([&](const QString&) {
            lockedDuringQuestion = !otherProgramCanOpen(install, catalogue::kContact, false);
            return yes;
        });
        w.DeleteUser1->trigger();
        QVERIFY(lockedDuringQuestion);
        QCOMPARE(script.shown().first().text, QStringLiteral("Really delete user \"%1\"?").arg(who));

        const QStringList perUser = {catalogue::kPerm, catalogue::kUserDb, catalogue::kHoliday,
                                     catalogue::kInOut, catalogue::kMarks, catalogue::kUsersOn};
        if (yes) {
            QCOMPARE(testkit::rowCount(catalogue::kUserPref), users - 1);
            for (const QString& t : perUser)
                QCOMPARE(rowsOf(t, who), 0);
            QCOMPARE(w.grid->model()->rowCount(), users - 1);
            QCOMPARE(script.shown().size(), 2);
            QCOMPARE(script.shown().last().kind, support::BoxKind::Information);
            QCOMPARE(script.shown().last().text,
                     QStringLiteral("Now that this user is deleted, you may want to assign his marketing plans "
                                    "and pending events to other users. Use the Replace User button."));
            const auto entries = testkit::journalEntries().mid(journal);
            QCOMPARE(entries.size(), 1);
            QCOMPARE(entries[0].recno, who);
            QCOMPARE(entries[0].action, 3);
        } else {
            QCOMPARE(testkit::rowCount(catalogue::kUserPref), users);
            QCOMPARE(rowsOf(catalogue::kPerm, who), perm);
            QCOMPARE(script.shown().size(), 1);
            QCOMPARE(testkit::journalEntries().size(), journal);
        }
        // Released again, shared, on both answers.
        QVERIFY(w.tblContact.active() && !w.tblContact.exclusive());
        QVERIFY(otherProgramCanOpen(install, catalogue::kContact, false));
    }

    void commandsOnAnEmptyListDoNothing()
    {
        TestInstall install;
        QVERIFY(install.ok());
        {
            store::Table users(catalogue::kAlias, catalogue::kUserPref);
            users.open();
            while (!users.isEmpty()) {
                users.first();
                users.deleteRecord();
            }
        }
        support::MessageScript script;
        TfrmMain w;
        w.show();
        QCOMPARE(w.tblUserPref.recordCount(), 0);
        bool dialogShown = false;
        testkit::whenModal<QDialog>([&](QDialog* d) { dialogShown = true; d->reject(); });
        for (QPushButton* b : {w.btModify, w.btReplace, w.btCopy, w.btPermission, w.btDelete})
            QTest::mouseClick(b, Qt::LeftButton);
        QTest::qWait(50);
        QVERIFY(!dialogShown);
        QVERIFY(script.shown().isEmpty());
        QVERIFY(w.tblContact.active()); // Delete on an empty list gave the table back
    }

    void tableHooksStampAndJournalNewRows()
    {
        TestInstall install;
        QVERIFY(install.ok());
        TfrmMain w;
        const int journal = testkit::journalEntries().size();

        w.tblUserDB.open();
        w.tblUserDB.insert();
        const QString id = w.tblUserDB.fieldByName("syncwellno").asString();
        QCOMPARE(id.size(), 24);
        QVERIFY(QRegularExpression("^[A-Y]{24}$").match(id).hasMatch());
        w.tblUserDB.cancel();

        w.tblPerm.open();
        w.tblPerm.insert();
        w.tblPerm.fieldByName("DB").setAsString("NEWDB");
        w.tblPerm.fieldByName("Who").setAsString("QQ");
        w.tblPerm.fieldByName("syncwellno").setAsString("ABCDEFGHIJKLMNOPQRSTUVWX");
        w.tblPerm.post();
        // An edited row is not journalled by the hook.
        w.tblPerm.edit();
        w.tblPerm.fieldByName("Access").setAsBoolean(false);
        w.tblPerm.post();

        const auto entries = testkit::journalEntries().mid(journal);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].recno, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWX"));
        QCOMPARE(entries[0].action, 2);
    }

    void closingCleansUpAndBacksUp()
    {
        TestInstall install;
        QVERIFY(install.ok());
        support::MessageScript script;
        TfrmMain w;
        w.show();
        // A user added in this run gets a permission row per database at exit.
        w.tblUserPref.insert();
        w.tblUserPref.fieldByName("Who").setAsString("NU");
        w.tblUserPref.post();
        QVERIFY(w.close());
        QVERIFY(script.shown().isEmpty());
        QCOMPARE(rowsOf(catalogue::kPerm, "NU"), testkit::rowCount(catalogue::kDatabase));
        const QString folder = QDir(install.dataDir())
                                   .filePath(shell::backupFolderName(support::todayDayNumber()));
        QVERIFY(QFile::exists(QDir(folder).filePath("userpref.db")));
    }

    void anErrorAtCloseKeepsTheWindowOpen()
    {
        TestInstall install;
        QVERIFY(install.ok());
        support::MessageScript script;
        TfrmMain w;
        w.show();
        QVERIFY(QFile::remove(QDir(install.dataDir()).filePath("database.db")));
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QCOMPARE(script.shown().size(), 1);
        QCOMPARE(script.shown().first().kind, support::BoxKind::Error);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
