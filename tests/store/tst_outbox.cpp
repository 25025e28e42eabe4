// The outbox of a table file on its way to merge.db: what a crash left
// behind moves once on the next start, and rows that had to wait for a busy
// merge.db move within the same batch, without waiting for a restart.
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/Saves.h"
#include "testkit/TestInstall.h"

#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/Outbox.h"
#include "store/Session.h"
#include "store/Table.h"
#include "support/Changes.h"

#include <QTimer>
#include <QtTest>

namespace {

// The journal rows a test writes: a key and a field name tell them apart;
// the other fields stay blank, as a row copied across keeps them.
struct Row {
    QString recno, fieldname;
};

QString values(const Row& r)
{
    return QStringLiteral("'%1', 12, 0, '%2'").arg(r.recno, r.fieldname);
}

} // namespace

using testkit::ReportedErrors;
using testkit::saveFullName;

class OutboxTest : public QObject {
    Q_OBJECT
    std::unique_ptr<JournalledInstall> m_install;

    QString path(const QString& file) const { return m_install->dataDir() + QLatin1Char('/') + file; }
    QStringList journal()
    {
        return testkit::RawDb(path(QStringLiteral("merge.db")))
            .column(QStringLiteral("SELECT recno || ' ' || coalesce(fieldname, '') FROM merge ORDER BY rowid"));
    }
    QString outboxCount(const QString& file)
    {
        return testkit::RawDb(path(file)).text(QStringLiteral("SELECT count(*) FROM brisel_outbox"));
    }

private slots:
    void init()
    {
        if (TestInstall::onServer())
            QSKIP("on a server the journal rows commit with their changes: there is no outbox");
        m_install = std::make_unique<JournalledInstall>();
        QVERIFY(m_install->ok());
        store::Session::instance().setBusyTimeout(300);
    }
    void cleanup() { m_install.reset(); }

    // Three moves were cut short: the first after merge.db had committed its
    // rows (they are there, beyond the point it recorded), the second after
    // recording its point only, the third never began. Other programs wrote
    // merge.db in between. The next start writes what is missing, once, in
    // the outbox's order: a leftover identical to a row that stood in
    // merge.db before the earliest recorded point is still written, and so
    // is a leftover identical to one already matched.
    void leftoversOfSeveralInterruptedMoves()
    {
        const Row other1{QStringLiteral("OTHER1"), QStringLiteral("A")}, other2{QStringLiteral("OTHER2"), QStringLiteral("B")},
            other3{QStringLiteral("OTHER3"), QStringLiteral("C")};
        const Row moved1{QStringLiteral("MOVED1"), QStringLiteral("D")}, moved2{QStringLiteral("MOVED2"), QStringLiteral("E")};
        const Row c1{QStringLiteral("NEVER1"), QStringLiteral("F")};
        {
            testkit::RawDb merge(path(QStringLiteral("merge.db")));
            const QString insert = QStringLiteral("INSERT INTO merge (recno, database, action, fieldname) VALUES (%1)");
            // merge.db: two rows of another program (1, 2), the first move's
            // two rows (3, 4), another program's row (5).
            for (const Row& r : {other1, other2, moved1, moved2, other3})
                QVERIFY(merge.exec(insert.arg(values(r))));
        }
        {
            testkit::RawDb file(path(QStringLiteral("userpref.db")));
            QVERIFY(file.exec(QStringLiteral(
                "CREATE TABLE brisel_outbox (brisel_seq INTEGER PRIMARY KEY, brisel_after INTEGER, recno VARCHAR(25), "
                "dateGMT DATETIME, time DATETIME, who VARCHAR(3), database SMALLINT, action SMALLINT, "
                "fieldname VARCHAR(40), \"to\" VARCHAR(255), memo TEXT, DB VARCHAR(8))")));
            const QString insert = QStringLiteral(
                "INSERT INTO brisel_outbox (brisel_seq, brisel_after, recno, database, action, fieldname) VALUES (%1, %2, %3)");
            // First move: recorded point 2, its rows in merge.db as 3 and 4.
            QVERIFY(file.exec(insert.arg(1).arg(2).arg(values(moved1))));
            QVERIFY(file.exec(insert.arg(2).arg(2).arg(values(moved2))));
            // Second move: recorded point 5, nothing written. Its rows are
            // the same as row 1 (before the earliest point) and row 3 (which
            // the first move's own row accounts for).
            QVERIFY(file.exec(insert.arg(3).arg(5).arg(values(other1))));
            QVERIFY(file.exec(insert.arg(4).arg(5).arg(values(moved1))));
            // Never started.
            QVERIFY(file.exec(insert.arg(5).arg(QStringLiteral("NULL")).arg(values(c1))));
        }

        store::moveLeftoverOutboxes(catalogue::kAlias);
        QCOMPARE(journal(), (QStringList{QStringLiteral("OTHER1 A"), QStringLiteral("OTHER2 B"), QStringLiteral("MOVED1 D"),
                                         QStringLiteral("MOVED2 E"), QStringLiteral("OTHER3 C"), QStringLiteral("OTHER1 A"),
                                         QStringLiteral("MOVED1 D"), QStringLiteral("NEVER1 F")}));
        QCOMPARE(outboxCount(QStringLiteral("userpref.db")), QStringLiteral("0"));

        // Nothing is left for another start to write again.
        store::moveLeftoverOutboxes(catalogue::kAlias);
        QCOMPARE(journal().size(), 8);
    }

    // merge.db is busy when the batch commits a change: its journal row
    // waits in the file. It moves with the next commit of the batch, here
    // one of another table file, ahead of that file's row; and a row that
    // waits when the batch ends moves at its end, also when merge.db stays
    // busy for a while after the last commit. Nothing waits for a restart.
    void waitingRowsMoveWithinTheBatch()
    {
        ReportedErrors reported;
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        users.first();
        const QString first = users.fieldByName(catalogue::fWho).asString();
        {
            store::WriteBatch batch;
            {
                testkit::RawDb busy(path(QStringLiteral("merge.db")));
                QVERIFY(busy.exec(QStringLiteral("BEGIN IMMEDIATE")));
                saveFullName(users, QStringLiteral("At a busy commit"));
                batch.commit();
                QCOMPARE(journal(), QStringList());
                QCOMPARE(outboxCount(QStringLiteral("userpref.db")), QStringLiteral("1"));
                QVERIFY(busy.exec(QStringLiteral("COMMIT")));
            }
            store::Table perm(catalogue::kAlias, catalogue::kPerm);
            perm.open();
            perm.first();
            const QString id = perm.fieldByName(catalogue::fSyncwellNo).asString();
            {
                store::ChangeUnit unit(perm);
                perm.edit();
                store::Field& flag = perm.fieldByName(QStringLiteral("Access"));
                flag.setAsBoolean(!flag.asBoolean());
                perm.post();
                support::journalrecord(perm, support::ActionChanged);
                unit.commit();
            }
            batch.commit();
            QCOMPARE(journal(), (QStringList{first + QStringLiteral(" Fullname"), id + QLatin1Char(' ')}));
            QCOMPARE(outboxCount(QStringLiteral("userpref.db")), QStringLiteral("0"));
        }

        // The batch's last commit meets a busy merge.db; the end of the batch
        // keeps trying, and merge.db is let go while it does.
        users.next();
        const QString second = users.fieldByName(catalogue::fWho).asString();
        const int before = int(journal().size());
        testkit::RawDb busy(path(QStringLiteral("merge.db")));
        QVERIFY(busy.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QString waitingAtTheEnd;
        {
            store::WriteBatch batch;
            saveFullName(users, QStringLiteral("Busy to the end"));
            // Runs once the batch's end processes events, after its first try.
            QTimer::singleShot(0, [&] {
                waitingAtTheEnd = outboxCount(QStringLiteral("userpref.db"));
                busy.exec(QStringLiteral("COMMIT"));
            });
        }
        QCOMPARE(waitingAtTheEnd, QStringLiteral("1"));
        QCOMPARE(journal().mid(before), QStringList(second + QStringLiteral(" Fullname")));
        QCOMPARE(outboxCount(QStringLiteral("userpref.db")), QStringLiteral("0"));
        QCOMPARE(reported.messages.size(), 0);
    }
};

QTEST_MAIN(OutboxTest)
#include "tst_outbox.moc"
