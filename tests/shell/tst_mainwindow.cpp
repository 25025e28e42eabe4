// The main window on a real installation: the user list, the contact-table
// test against a second program, the commands' preconditions, deleting a
// user, the table hooks, help, and an error at closing (a whole close is in
// tst_cleanup).

#include "shell/Main.h"
#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DbGrid.h"
#include "ui/DialogTestKit.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QPushButton>
#include <QtTest>

using testkit::OtherProgram;

namespace {

const QString kInUseAtShow =
    QStringLiteral("You cannot delete or replace existing users while others are accessing Kontiva.");
const QString kInUseNow =
    QStringLiteral("Could not get exclusive access to the contact.db table.  Somebody is using Kontiva");
const QString kDeleted = QStringLiteral("Now that this user is deleted, you may want to assign his marketing plans "
                                        "and pending events to other users. Use the Replace User button.");
const int kUserPrefCode = 12;
const QStringList kPerUserTables{catalogue::kUserDb, catalogue::kPerm,  catalogue::kHoliday,
                                 catalogue::kInOut,  catalogue::kMarks, catalogue::kUsersOn};

// Every row's Who in each per-user table and the user table, sorted.
QMap<QString, QStringList> owners()
{
    QMap<QString, QStringList> result;
    for (const QString& name : kPerUserTables + QStringList{catalogue::kUserPref}) {
        QStringList who = testkit::column(name, catalogue::fWho);
        who.sort();
        result.insert(name, who);
    }
    return result;
}

// A row of the user's own in a per-user table or the user table.
void addUserRow(const QString& tableName, const QString& who)
{
    store::Table t(catalogue::kAlias, tableName);
    t.open();
    t.insert();
    t.fieldByName(catalogue::fWho).setAsString(who);
    if (store::Field* db = t.findField(catalogue::fDb))
        db->setAsString(QStringLiteral("D%1").arg(t.recordCount()));
    if (store::Field* id = t.findField(catalogue::fSyncwellNo))
        id->setAsString(shell::newRecordId());
    t.post();
}

// The window holds the contact table shared: another program can open it,
// but not for itself alone.
void verifyContactHeldShared(TfrmMain& window, const OtherProgram& other)
{
    QVERIFY(window.tblContact.active());
    QVERIFY(!window.tblContact.exclusive());
    QCOMPARE(other.tryOpen(catalogue::kContact), QString("opened"));
    QVERIFY(other.tryOpen(catalogue::kContact, true).startsWith("failed"));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<TestInstall> install;

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(OtherProgram::path()), "build the hold_table helper"); }
    void init()
    {
        support::resetJournal();
        install = std::make_unique<TestInstall>();
        QVERIFY(install->ok());
    }
    void cleanup() { install.reset(); }

    void showsTheUsersWithItsCommands()
    {
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
        OtherProgram other(*install);
        QVERIFY(other.hold(catalogue::kContact));
        const auto before = owners();
        const int journal = testkit::journalEntries().size();

        support::MessageScript script;
        TfrmMain w;
        w.show();
        QCOMPARE(script.texts(), QStringList{kInUseAtShow});
        // The details say which table and why, in the store's words.
        QVERIFY2(script.details().first().contains(catalogue::kContact, Qt::CaseInsensitive),
                 qPrintable(script.details().first()));
        QVERIFY(!w.btDelete->isEnabled());
        QVERIFY(!w.btReplace->isEnabled());
        for (QPushButton* b : {w.btAdd, w.btModify, w.btCopy, w.btPermission, w.btForce, w.btHelp, w.btClose})
            QVERIFY(b->isEnabled());
        QVERIFY(w.DeleteUser1->isEnabled() && w.ReplaceUsers1->isEnabled());

        // The menu items stay, repeat the test each time and change nothing.
        script.clear();
        w.ReplaceUsers1->trigger();
        w.DeleteUser1->trigger();
        QCOMPARE(script.texts(), (QStringList{kInUseNow, kInUseNow}));
        QCOMPARE(script.shown().last().kind, support::BoxKind::Error);
        QCOMPARE(owners(), before);
        QCOMPARE(testkit::journalEntries().size(), journal);
    }

    void userTableThatCannotOpenTurnsButtonsOff()
    {
        // Without the table passwords the protected user table does not open.
        testkit::useStore(install->configPath(), install->netDir(), false);

        support::MessageScript script;
        TfrmMain w;
        w.show();
        QCOMPARE(script.texts(), QStringList{"Could not open the userpref database."});
        QVERIFY2(script.details().first().contains(QLatin1String("password")), qPrintable(script.details().first()));
        for (QPushButton* b : {w.btAdd, w.btDelete, w.btModify, w.btCopy, w.btReplace})
            QVERIFY(!b->isEnabled());
        for (QPushButton* b : {w.btPermission, w.btForce, w.btHelp, w.btClose})
            QVERIFY(b->isEnabled());
        for (QAction* a : {w.AddUser1, w.DeleteUser1, w.ModifyUser1, w.CopySettings1, w.ReplaceUsers1})
            QVERIFY(a->isEnabled());
        QVERIFY(w.grid->model()->rowCount() == 0);
    }

    void userTableThatIsNoTableSaysWhich()
    {
        if (install->onServer()) {
            // A server table the store cannot use: it lacks the row identity.
            testkit::RawDb other(install->dataDir() + QStringLiteral("/userpref.db"));
            QVERIFY(other.exec(QStringLiteral("ALTER TABLE userpref DROP COLUMN rowid")));
            support::MessageScript script;
            TfrmMain w;
            w.show();
            QCOMPARE(script.texts(), QStringList{"Could not open the userpref database."});
            QVERIFY2(script.details().first().contains(QLatin1String("no rowid column")), qPrintable(script.details().first()));
            return;
        }
        const QString path = QDir(install->dataDir()).filePath(QStringLiteral("userpref.db"));
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(path + suffix);
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();

        support::MessageScript script;
        TfrmMain w;
        w.show();
        QCOMPARE(script.texts(), QStringList{"Could not open the userpref database."});
        const QString detail = script.details().first();
        QVERIFY2(detail.contains(catalogue::kUserPref, Qt::CaseInsensitive)
                     && detail.contains(QDir::toNativeSeparators(path)) && detail.contains(QLatin1String("not a valid table file")),
                 qPrintable(detail));
    }

    void deleteAsksThenRemovesOnlyThatUser_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("No") << false;
        QTest::newRow("Yes") << true;
    }

    // Two users whose IDs differ only in letter case, each with rows in every
    // per-user table: the one asked about goes everywhere, the other stays.
    void deleteAsksThenRemovesOnlyThatUser()
    {
        QFETCH(bool, yes);
        for (const QString who : {"ABC", "abc"})
            for (const QString& table : kPerUserTables + QStringList{catalogue::kUserPref})
                addUserRow(table, who);
        auto expected = owners();
        const int journal = testkit::journalEntries().size();

        OtherProgram other(*install);
        support::MessageScript script;
        TfrmMain w;
        w.show();
        QVERIFY(script.shown().isEmpty());
        verifyContactHeldShared(w, other);
        QVERIFY(w.tblUserPref.findKey({"ABC"}));
        const int lines = w.grid->model()->rowCount();

        // While the question is up nobody else can open the contact table.
        QString otherWhileAsked;
        script.answerWith([&](const QString&) {
            otherWhileAsked = other.tryOpen(catalogue::kContact);
            return yes;
        });
        QTest::mouseClick(w.btDelete, Qt::LeftButton);
        QVERIFY2(otherWhileAsked.startsWith("failed"), qPrintable(otherWhileAsked));
        QCOMPARE(script.shown().first().text, QStringLiteral("Really delete user \"ABC\"?"));
        QCOMPARE(script.shown().first().kind, support::BoxKind::Question);

        if (yes) {
            QCOMPARE(script.texts().mid(1), QStringList{kDeleted});
            QCOMPARE(script.shown().last().kind, support::BoxKind::Information);
            for (QStringList& who : expected) {
                QCOMPARE(who.count("ABC"), 1);
                QCOMPARE(who.count("abc"), 1);
                who.removeAll("ABC");
            }
        } else {
            QCOMPARE(script.shown().size(), 1);
        }
        QCOMPARE(owners(), expected);
        QCOMPARE(w.grid->model()->rowCount(), yes ? lines - 1 : lines);
        // Only the user row's deletion is journalled.
        const auto entries = testkit::journalEntries().mid(journal);
        QCOMPARE(entries.size(), yes ? 1 : 0);
        if (yes) {
            QCOMPARE(entries[0].recno, QStringLiteral("ABC"));
            QCOMPARE(entries[0].table, kUserPrefCode);
            QCOMPARE(entries[0].action, 3); // deleted
        }
        verifyContactHeldShared(w, other); // released again, shared, on both answers
    }

    void commandsOnAnEmptyListDoNothing()
    {
        testkit::deleteAllRows(catalogue::kUserPref);
        const auto before = owners();
        OtherProgram other(*install);
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
        QCOMPARE(owners(), before);
        verifyContactHeldShared(w, other); // Delete on an empty list gave the table back
    }

    void tableHooksStampAndJournalNewRows()
    {
        TfrmMain w;
        const int journal = testkit::journalEntries().size();

        w.tblUserDB.open();
        w.tblUserDB.insert();
        const QString id = w.tblUserDB.fieldByName("syncwellno").asString();
        QVERIFY2(QRegularExpression("^[A-Y]{24}$").match(id).hasMatch(), qPrintable(id));
        w.tblUserDB.cancel();

        // An edited row is not journalled by the hook, a new one is.
        w.tblPerm.open();
        w.tblPerm.first();
        w.tblPerm.edit();
        w.tblPerm.fieldByName("Access").setAsBoolean(false);
        w.tblPerm.post();
        w.tblPerm.insert();
        w.tblPerm.fieldByName("DB").setAsString("NEWDB");
        w.tblPerm.fieldByName("Who").setAsString("QQ");
        w.tblPerm.fieldByName("syncwellno").setAsString("ABCDEFGHIJKLMNOPQRSTUVWX");
        w.tblPerm.post();

        const auto entries = testkit::journalEntries().mid(journal);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].recno, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWX"));
        QCOMPARE(entries[0].action, 2); // added
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
