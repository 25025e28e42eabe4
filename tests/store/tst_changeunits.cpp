// A change and its journal rows stand or fall together, on either engine,
// whatever goes wrong: another program's lock, a refused key, a journal that
// is busy or held, a rollback, a transaction SQLite ended on its own. The
// other program is a second connection or a process of its own.
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/Saves.h"
#include "testkit/TestInstall.h"

#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "store/TablePrivate.h"
#include "store/pg/PgConnection.h"
#include "store/sqlite/SqliteConnection.h"
#include "support/Changes.h"

#include <QtTest>

#include <libpq-fe.h>
#include <sqlite3.h>

using namespace support;
using testkit::openAtFirst;
using testkit::journalLines;
using testkit::ReportedErrors;
using testkit::saveFullName;

namespace {

QString fullNameOf(const QString& who)
{
    return testkit::findRow(catalogue::kUserPref, catalogue::fWho, who).value(catalogue::fFullName.toLower()).toString();
}

// Saves the next user as well: the journal rows of the first user's save,
// which had to wait, and of this one reach merge in that order.
void saveNextUserAndExpectBoth(store::Table& users, const QString& first)
{
    users.next();
    const QString second = users.fieldByName(catalogue::fWho).asString();
    saveFullName(users, QStringLiteral("Next"));
    QCOMPARE(journalLines(), QStringList({QStringLiteral("12/0/%1 Fullname").arg(first),
                                          QStringLiteral("12/0/%1 Fullname").arg(second)}));
}

} // namespace

class ChangeUnitTest : public QObject {
    Q_OBJECT
    std::unique_ptr<JournalledInstall> m_install;

    bool setUp()
    {
        m_install.reset();
        m_install = std::make_unique<JournalledInstall>();
        store::Session::instance().setBusyTimeout(300);
        return m_install->ok();
    }
    QString path(const QString& file) const { return m_install->dataDir() + QLatin1Char('/') + file; }
    QString journalCount() { return testkit::RawDb(path(QStringLiteral("merge.db"))).text(QStringLiteral("SELECT count(*) FROM merge")); }

private slots:
    void cleanup() { m_install.reset(); }

    // A "deleted" row is written ahead of the delete; when another program's
    // write keeps the delete out, the row goes with it.
    void failedDeleteTakesItsJournalRowBack()
    {
        QVERIFY(setUp());
        auto users = openAtFirst(catalogue::kUserPref);
        const QString who = users->fieldByName(catalogue::fWho).asString();
        auto deleteUser = [&] {
            store::ChangeUnit unit(*users);
            journalrecord(*users, ActionDeleted);
            users->deleteRecord();
            unit.commit();
        };
        {
            testkit::RawDb other(path(QStringLiteral("userpref.db")));
            QVERIFY(other.exec(QStringLiteral("BEGIN IMMEDIATE")));
            QVERIFY_THROWS_EXCEPTION(store::StoreError, deleteUser());
            QVERIFY(other.exec(QStringLiteral("COMMIT")));
        }
        QCOMPARE(journalLines(), QStringList());
        QVERIFY(!testkit::findRow(catalogue::kUserPref, catalogue::fWho, who).isEmpty());

        users->refresh();
        deleteUser();
        QCOMPARE(journalLines(), QStringList(QStringLiteral("12/3/") + who));
        QVERIFY(testkit::findRow(catalogue::kUserPref, catalogue::fWho, who).isEmpty());
    }

    // In a batch, an insert refused on a key that another program took
    // meanwhile takes its "added" row back, and nothing else of the batch.
    void refusedKeyTakesItsJournalRowBack()
    {
        QVERIFY(setUp());
        auto perm = openAtFirst(catalogue::kPerm);
        const QString db = perm->fieldByName(catalogue::fDb).asString();
        const QString who = perm->fieldByName(catalogue::fWho).asString();
        const QString id = perm->fieldByName(catalogue::fSyncwellNo).asString();
        store::WriteBatch batch;
        {
            store::ChangeUnit unit(*perm);
            perm->edit();
            store::Field& flag = perm->fieldByName(QStringLiteral("Access"));
            flag.setAsBoolean(!flag.asBoolean());
            perm->post();
            journalrecord(*perm, ActionChanged);
            unit.commit();
        }
        perm->insert();
        perm->fieldByName(catalogue::fDb).setAsString(db);
        perm->fieldByName(catalogue::fWho).setAsString(who);
        perm->fieldByName(catalogue::fSyncwellNo).setAsString(QStringLiteral("NEWROW"));
        QVERIFY_THROWS_EXCEPTION(store::StoreError, [&] {
            store::ChangeUnit unit(*perm);
            journalrecord(*perm, ActionAdded);
            perm->post();
            unit.commit();
        }());
        perm->cancel();
        batch.commit();
        QCOMPARE(journalLines(), QStringList(QStringLiteral("10/6/") + id));
    }

    // On a server the journal row goes into merge in the change's own
    // transaction: when it cannot be written (another program has merge
    // locked), the change is taken back and the error says so; the batch's
    // other changes stay.
    void unwritableJournalRowTakesItsChangeBack()
    {
        if (!TestInstall::onServer())
            QSKIP("on table files the journal row goes into the changed table's own file, which the change holds");
        QVERIFY(setUp());
        auto users = openAtFirst(catalogue::kUserPref);
        const QString first = users->fieldByName(catalogue::fWho).asString();
        const QString firstName = users->fieldByName(catalogue::fFullName).asString();
        store::WriteBatch batch;
        {
            testkit::RawDb other(path(QStringLiteral("merge.db")));
            QVERIFY(other.exec(QStringLiteral("BEGIN; LOCK TABLE merge IN EXCLUSIVE MODE")));
            try {
                saveFullName(*users, QStringLiteral("Lost"));
                QFAIL("the save went through while its journal row could not be written");
            } catch (const store::StoreError& e) {
                QVERIFY2(e.message().contains(QStringLiteral("was not saved")), qPrintable(e.message()));
            }
            users->cancel();
            QVERIFY(other.exec(QStringLiteral("COMMIT")));
        }
        users->next();
        const QString second = users->fieldByName(catalogue::fWho).asString();
        saveFullName(*users, QStringLiteral("Kept")); // in the same transaction
        batch.commit();
        QCOMPARE(fullNameOf(first), firstName);
        QCOMPARE(fullNameOf(second), QStringLiteral("Kept"));
        QCOMPARE(journalLines(), QStringList(QStringLiteral("12/0/%1 Fullname").arg(second)));
    }

    // On a server, a row opened for editing in a batch is read for update:
    // another program cannot change it until the batch commits, so the save
    // need not read it again. A rollback gives that lock back, and the next
    // try of the same edit must then find the other program's change.
    void rowInEditIsHeldUntilARollbackGivesItBack()
    {
        if (!TestInstall::onServer())
            QSKIP("on table files a batch's write transaction keeps every other writer out");
        QVERIFY(setUp());
        auto users = openAtFirst(catalogue::kUserPref);
        const QString who = users->fieldByName(catalogue::fWho).asString();
        const QString theirs = QStringLiteral("UPDATE userpref SET \"FullName\" = '%1' WHERE \"Who\" = '%2'").arg("%1", who);
        testkit::RawDb other(path(QStringLiteral("userpref.db")));
        QVERIFY(other.exec(QStringLiteral("SET lock_timeout = 200")));
        {
            store::WriteBatch batch;
            saveFullName(*users, QStringLiteral("Opens a transaction"));
            users->edit();
            QVERIFY(!other.exec(theirs.arg(QStringLiteral("Theirs, too early"))));
            users->fieldByName(catalogue::fFullName).setAsString(QStringLiteral("Mine"));
            store::ChangeUnit unit(*users);
            users->post();
            journalfield(*users, QStringLiteral("Fullname"), ActionField);
            unit.commit();
            batch.commit();
        }
        QCOMPARE(fullNameOf(who), QStringLiteral("Mine"));

        store::WriteBatch batch;
        users->next(); // the transaction opens on another row: an update would hold this one
        saveFullName(*users, QStringLiteral("Opens another"));
        users->first();
        {
            store::ChangeUnit unit(*users); // left without a commit: rolled back
            users->edit();
            users->fieldByName(catalogue::fFullName).setAsString(QStringLiteral("Mine again"));
        }
        QVERIFY(other.exec(theirs.arg(QStringLiteral("Theirs"))));
        QVERIFY_THROWS_EXCEPTION(store::StoreError, [&] {
            store::ChangeUnit unit(*users);
            users->post();
            unit.commit();
        }());
        users->cancel();
        batch.commit();
        QCOMPARE(fullNameOf(who), QStringLiteral("Theirs"));
    }

    // Another program has merge open exclusively. On table files the change
    // lands and its journal row waits in the file until merge can be opened;
    // on a server the change waits like a busy write, then is refused.
    void exclusiveJournalIsNotWrittenPast()
    {
        QVERIFY(setUp());
        ReportedErrors reported;
        auto users = openAtFirst(catalogue::kUserPref);
        const QString first = users->fieldByName(catalogue::fWho).asString();
        const QString firstName = users->fieldByName(catalogue::fFullName).asString();
        {
            testkit::OtherProgram other(*m_install);
            QVERIFY(other.hold(catalogue::kMerge, QStringLiteral("exclusive")));
            if (TestInstall::onServer()) {
                QVERIFY_THROWS_EXCEPTION(store::StoreError, saveFullName(*users, QStringLiteral("While held")));
                users->cancel();
                QCOMPARE(fullNameOf(first), firstName);
            } else {
                saveFullName(*users, QStringLiteral("While held"));
                QCOMPARE(reported.messages.size(), 1);
                QVERIFY2(reported.messages[0].contains(QStringLiteral("kept")), qPrintable(reported.messages[0]));
            }
            QCOMPARE(journalCount(), QStringLiteral("0"));
        }
        QVERIFY(journalActive());
        users->next();
        const QString second = users->fieldByName(catalogue::fWho).asString();
        saveFullName(*users, QStringLiteral("After"));
        QStringList expected;
        if (!TestInstall::onServer())
            expected << QStringLiteral("12/0/%1 Fullname").arg(first);
        expected << QStringLiteral("12/0/%1 Fullname").arg(second);
        QCOMPARE(journalLines(), expected);
    }

    // A busy merge.db keeps the journal on: the change lands, its row waits
    // in the changed table's file and goes with the next change, in order.
    void busyJournalKeepsTheJournalOn()
    {
        if (TestInstall::onServer())
            QSKIP("a busy journal on a server is the unwritable row above");
        QVERIFY(setUp());
        ReportedErrors reported;
        auto users = openAtFirst(catalogue::kUserPref);
        const QString first = users->fieldByName(catalogue::fWho).asString();
        {
            testkit::RawDb other(path(QStringLiteral("merge.db")));
            QVERIFY(other.exec(QStringLiteral("BEGIN IMMEDIATE")));
            saveFullName(*users, QStringLiteral("While busy"));
            QVERIFY(other.exec(QStringLiteral("COMMIT")));
        }
        QCOMPARE(fullNameOf(first), QStringLiteral("While busy"));
        QCOMPARE(reported.messages.size(), 1);
        QVERIFY(journalActive());
        saveNextUserAndExpectBoth(*users, first);
    }

    // The filter that drops an immediate repeat remembers only rows that
    // stand: after a rollback the same change is journalled again. Rows of
    // two tables with the same key text are two rows.
    void repeatFilterForgetsRolledBackRows()
    {
        QVERIFY(setUp());
        auto users = openAtFirst(catalogue::kUserPref);
        const QString who = users->fieldByName(catalogue::fWho).asString();
        const QString name = users->fieldByName(catalogue::fFullName).asString();
        {
            store::ChangeUnit unit(*users);
            users->edit();
            users->fieldByName(catalogue::fFullName).setAsString(QStringLiteral("Again"));
            users->post();
            journalfield(*users, QStringLiteral("Fullname"), ActionField);
        } // not committed
        QCOMPARE(fullNameOf(who), name);
        QCOMPARE(journalLines(), QStringList());
        users->refresh();
        saveFullName(*users, QStringLiteral("Again"));
        QCOMPARE(journalLines(), QStringList(QStringLiteral("12/0/%1 Fullname").arg(who)));

        for (const QString& file : {QStringLiteral("perm.db"), QStringLiteral("userdb.db")}) {
            const QString table = QFileInfo(file).baseName();
            QVERIFY(testkit::RawDb(path(file)).exec(QStringLiteral("UPDATE %1 SET syncwellno = 'SAME' WHERE rowid = (SELECT min(rowid) FROM %1)").arg(table)));
        }
        auto perm = openAtFirst(catalogue::kPerm);
        auto userDb = openAtFirst(catalogue::kUserDb);
        QCOMPARE(perm->fieldByName(catalogue::fSyncwellNo).asString(), QStringLiteral("SAME"));
        QCOMPARE(userDb->fieldByName(catalogue::fSyncwellNo).asString(), QStringLiteral("SAME"));
        journalrecord(*perm, ActionChanged);
        journalrecord(*userDb, ActionChanged);
        QCOMPARE(journalLines(1), QStringList({QStringLiteral("10/6/SAME"), QStringLiteral("13/6/SAME")}));
    }

    // SQLite reuses the rowid of a deleted row. A table without a key has
    // nothing else to tell its rows by: when another program replaced the
    // row in view by a new one with the same rowid, neither an edit nor a
    // delete may land on the new row.
    void keylessRowReplacedUnderTheCursorIsLeftAlone()
    {
        if (TestInstall::onServer())
            QSKIP("a server never gives a row's identity to another row");
        QVERIFY(setUp());
        auto usersOn = openAtFirst(catalogue::kUsersOn);
        QVERIFY(!usersOn->eof());
        QVERIFY(!usersOn->fieldByName(QStringLiteral("MachineName")).asString().isEmpty()); // the whole row is read
        const qint64 id = usersOn->rowId();
        testkit::RawDb other(path(QStringLiteral("userson.db")));
        QVERIFY(other.exec(QStringLiteral("CREATE TEMP TABLE t AS SELECT * FROM userson WHERE rowid = %1; "
                                          "DELETE FROM userson WHERE rowid = %1; "
                                          "UPDATE t SET MachineName = 'OTHER-PC'; "
                                          "INSERT INTO userson (rowid, Who, DB, MachineName, datelogin, timelogin) "
                                          "SELECT %1, Who, DB, MachineName, datelogin, timelogin FROM t")
                               .arg(id)));
        QVERIFY_THROWS_EXCEPTION(store::StoreError, usersOn->edit());
        QVERIFY_THROWS_EXCEPTION(store::StoreError, usersOn->deleteRecord());
        QCOMPARE(other.text(QStringLiteral("SELECT MachineName FROM userson WHERE rowid = %1").arg(id)), QStringLiteral("OTHER-PC"));
    }

    // One program at a time moves a file's journal rows: while another one
    // moves them, this one leaves them in the file, and the next move takes
    // them, once.
    void oneMoverAtATime()
    {
        if (TestInstall::onServer())
            QSKIP("a server has no journal rows to move");
        QVERIFY(setUp());
        ReportedErrors reported;
        auto users = openAtFirst(catalogue::kUserPref);
        const QString first = users->fieldByName(catalogue::fWho).asString();
        {
            testkit::OtherProgram mover(*m_install);
            QVERIFY(mover.hold(catalogue::kUserPref, QStringLiteral("moving")));
            saveFullName(*users, QStringLiteral("While moving"));
            QCOMPARE(journalCount(), QStringLiteral("0"));
            QCOMPARE(testkit::RawDb(path(QStringLiteral("userpref.db"))).text(QStringLiteral("SELECT count(*) FROM brisel_outbox")),
                     QStringLiteral("1"));
        }
        QCOMPARE(reported.messages.size(), 1);
        saveNextUserAndExpectBoth(*users, first);
    }

    // SQLite rolls a transaction back on its own after a full disk or an I/O
    // error. What the batch wrote is then lost: that is said, and no later
    // change runs on without a transaction, apart from its journal row.
    void transactionEndedBySqliteIsNeverSilent()
    {
        if (TestInstall::onServer())
            QSKIP("the server engine's spoilt transactions are tested with the server's faults");
        QVERIFY(setUp());
        auto users = openAtFirst(catalogue::kUserPref);
        const QString first = users->fieldByName(catalogue::fWho).asString();
        const QString firstName = users->fieldByName(catalogue::fFullName).asString();
        {
            ReportedErrors reported;
            store::WriteBatch batch;
            saveFullName(*users, QStringLiteral("Lost"));
            sqlite3* db = static_cast<store::SqliteConnection&>(*store::TableAccess::of(*users).conn).db();
            QCOMPARE(sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK); // as SQLite does by itself
            try {
                users->next();
                saveFullName(*users, QStringLiteral("After the loss"));
                QFAIL("a change after the loss was made as if nothing had happened");
            } catch (const store::StoreError& e) {
                QVERIFY2(e.message().contains(QStringLiteral("rolled back")), qPrintable(e.message()));
            }
            users->cancel();
            batch.commit();
            QCOMPARE(reported.messages, QStringList());
        }
        QCOMPARE(fullNameOf(first), firstName);
        QCOMPARE(testkit::column(catalogue::kUserPref, catalogue::fFullName).filter(QStringLiteral("After")), QStringList());
        QCOMPARE(journalLines(), QStringList());
    }

    // Journal rows reach merge.db in the order their changes committed, also
    // when the older ones had to wait.
    void journalRowsKeepTheirCommitOrder()
    {
        if (TestInstall::onServer())
            QSKIP("on a server the rows are written in the changes' own transactions");
        QVERIFY(setUp());
        ReportedErrors reported;
        auto users = openAtFirst(catalogue::kUserPref);
        auto perm = openAtFirst(catalogue::kPerm);
        const QString who = users->fieldByName(catalogue::fWho).asString();
        const QString id = perm->fieldByName(catalogue::fSyncwellNo).asString();
        store::WriteBatch batch;
        {
            testkit::RawDb other(path(QStringLiteral("merge.db")));
            QVERIFY(other.exec(QStringLiteral("BEGIN IMMEDIATE")));
            saveFullName(*users, QStringLiteral("Older"));
            batch.commit(); // committed; its row cannot move yet
            QVERIFY(other.exec(QStringLiteral("COMMIT")));
        }
        {
            store::ChangeUnit unit(*perm);
            perm->edit();
            store::Field& flag = perm->fieldByName(QStringLiteral("Access"));
            flag.setAsBoolean(!flag.asBoolean());
            perm->post();
            journalrecord(*perm, ActionChanged);
            unit.commit();
        }
        batch.commit();
        QCOMPARE(journalLines(), QStringList({QStringLiteral("12/0/%1 Fullname").arg(who), QStringLiteral("10/6/") + id}));
        QCOMPARE(reported.messages, QStringList());
    }

    // The server ends this program's connection in the middle of a change.
    // Outside a batch the change was a transaction of its own: it alone is
    // lost, and the error says no more than that. Inside a batch the
    // transaction held the batch's other changes since its last commit: the
    // error says that they were not saved either.
    void lostServerTransactionSaysWhatWasLost()
    {
        if (!TestInstall::onServer())
            QSKIP("a server connection's loss");
        for (const bool batched : {false, true}) {
            QVERIFY(setUp());
            auto users = openAtFirst(catalogue::kUserPref);
            const QString first = users->fieldByName(catalogue::fWho).asString();
            const QString firstName = users->fieldByName(catalogue::fFullName).asString();
            std::unique_ptr<store::WriteBatch> batch;
            if (batched) {
                batch = std::make_unique<store::WriteBatch>();
                saveFullName(*users, QStringLiteral("Earlier in the batch"));
                users->next();
            }
            const int pid = PQbackendPID(
                static_cast<store::PgConnection&>(*store::TableAccess::of(*users).conn).session().conn());
            QString message;
            try {
                users->edit();
                users->fieldByName(catalogue::fFullName).setAsString(QStringLiteral("Lost"));
                store::ChangeUnit unit(*users); // the transaction or savepoint is open now
                QVERIFY(testkit::RawDb(path(QStringLiteral("userpref.db")))
                            .exec(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(pid)));
                users->post();
                journalfield(*users, QStringLiteral("Fullname"), ActionField);
                unit.commit();
                QFAIL("a change went through on a lost connection");
            } catch (const store::StoreError& e) {
                message = e.message();
            }
            QVERIFY2(message.contains(QStringLiteral("connection to the database server was lost")), qPrintable(message));
            QCOMPARE(message.contains(QStringLiteral("The changes of the last moments of this work were not saved.")),
                     batched);
            batch.reset();
            users->cancel();
            // Read by a connection of its own: this program's is gone. The
            // batch's earlier change stands only if the batch window had
            // committed it before the loss.
            testkit::RawDb other(path(QStringLiteral("userpref.db")));
            const QString stored = other.text(QStringLiteral("SELECT \"FullName\" FROM userpref WHERE \"Who\" = '%1'").arg(first));
            QVERIFY2(stored == firstName || (batched && stored == QStringLiteral("Earlier in the batch")), qPrintable(stored));
            QCOMPARE(other.text(QStringLiteral("SELECT count(*) FROM userpref WHERE \"FullName\" = 'Lost'")), QStringLiteral("0"));
            users.reset();
        }
    }
};

QTEST_MAIN(ChangeUnitTest)
#include "tst_changeunits.moc"
