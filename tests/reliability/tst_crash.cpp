// Kills a command at random moments and checks what it leaves (on either
// engine): every table file intact, every committed change journalled exactly
// once and no journal row for a change that did not land, and a second run
// finishing the work. The commands are batched ones and runs of single
// changes, each committed with its journal rows.
#include "store/Catalogue.h"
#include "testkit/OtherProgram.h"
#include "testkit/TestInstall.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>

namespace {

// Every value of the first column of a query's rows.
QStringList values(const QString& file, const QString& sql)
{
    return testkit::RawDb(file).column(sql);
}

} // namespace

class TestCrash : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        demo::Options options = TestInstall::smallOptions();
        options.users = 120;
        options.databases = 25;
        m_install = std::make_unique<TestInstall>(options);
        QVERIFY(m_install->ok());
        m_users = options.users;
        m_databases = options.databases;
    }

    void batchedCommandSurvivesKills_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("tables"); // the tables it fills, journalled as "added"
        QTest::addColumn<int>("rows");           // how many rows each holds when the work is done
        const int pairs = m_users * m_databases;
        QTest::newRow("exit clean-up") << QStringLiteral("cleanup") << QStringList{QStringLiteral("userdb"), QStringLiteral("perm")} << pairs;
        QTest::newRow("permission rows") << QStringLiteral("permissions") << QStringList{QStringLiteral("perm")} << pairs;
        QTest::newRow("single permission rows") << QStringLiteral("single-permissions") << QStringList{QStringLiteral("perm")}
                                                << 10 * m_databases;
        QTest::newRow("single user saves") << QStringLiteral("single-users") << QStringList{QStringLiteral("userpref")} << m_users;
    }

    void batchedCommandSurvivesKills()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, tables);
        QFETCH(int, rows);
        m_command = command;
        m_pairs = rows;
        m_tables = tables;
        const int kills = qEnvironmentVariableIntValue("BRISEL_CRASH_KILLS") > 0
                              ? qEnvironmentVariableIntValue("BRISEL_CRASH_KILLS")
                              : 6;
        emptyTables();
        QVERIFY(run({m_command}).contains(QStringLiteral("done")));
        checkJournal(m_pairs);

        // Half the kills (all, for runs of single changes) land as soon as
        // another connection sees a random number of new rows committed,
        // wherever the command is then (often moving journal rows). In the
        // other half the command stops itself
        // once a random number of PERM.DB rows is committed and one more
        // waits uncommitted, so that those kills are part-way however fast
        // the machine.
        QRandomGenerator rng(20261206);
        int interrupted = 0;
        for (int k = 0; k < kills; ++k) {
            emptyTables();
            // Only a batch has rows that wait uncommitted to stop between.
            const bool stops = k % 2 == 1 && !m_command.startsWith(QLatin1String("single-"));
            QStringList args{m_install->configPath(), m_install->netDir(), m_command};
            if (stops)
                args << QString::number(rng.bounded(1, m_pairs));
            QProcess child;
            child.start(helper(), args);
            QVERIFY(child.waitForReadyRead(60000));
            if (stops) {
                QByteArray line;
                while (line != "stopped") {
                    QVERIFY2(child.canReadLine() || child.waitForReadyRead(60000), "the command did not stop part-way");
                    if (child.canReadLine())
                        line = child.readLine().trimmed();
                }
            } else {
                const int rows = rng.bounded(m_pairs * int(m_tables.size()));
                while (committedRows() < rows && !child.waitForFinished(2)) {
                }
            }
            ::kill(pid_t(child.processId()), SIGKILL);
            child.waitForFinished(10000);
            if (!QString::fromUtf8(child.readAllStandardOutput()).contains(QStringLiteral("done")))
                ++interrupted;

            // On a server the tables' integrity is the server's; files are
            // checked here.
            if (!m_install->onServer())
                for (const QString& file : {QStringLiteral("userdb.db"), QStringLiteral("perm.db"), QStringLiteral("userpref.db"),
                                            QStringLiteral("merge.db")})
                    QCOMPARE(values(path(file), QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
            // The next start moves what the crash left; then the rule holds.
            QVERIFY(run({QStringLiteral("recover")}).contains(QStringLiteral("done")));
            checkJournal(-1);
            // Running again completes the work, each change journalled once.
            QVERIFY(run({m_command}).contains(QStringLiteral("done")));
            checkJournal(m_pairs);
        }
        qInfo("%s: %d kills, %d of them part-way", qPrintable(m_command), kills, interrupted);
        QVERIFY(interrupted > 0);
    }

private:
    QString helper() const { return QCoreApplication::applicationDirPath() + QStringLiteral("/run_cleanup"); }
    QString path(const QString& file) const { return m_install->dataDir() + QLatin1Char('/') + file; }

    QString run(const QStringList& extra)
    {
        QProcess p;
        p.start(helper(), QStringList{m_install->configPath(), m_install->netDir()} + extra);
        if (!p.waitForFinished(120000))
            return QStringLiteral("no answer");
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    // The rows of the tables the command fills, as another program sees them.
    int committedRows()
    {
        int rows = 0;
        for (const QString& table : std::as_const(m_tables)) {
            // User saves change rows rather than add them.
            const QString which = table == QLatin1String("userpref") ? QStringLiteral(" WHERE \"FullName\" LIKE 'Edited %'") : QString();
            rows += testkit::RawDb(path(table + QStringLiteral(".db"))).text(QStringLiteral("SELECT count(*) FROM %1%2").arg(table, which)).toInt();
        }
        return rows;
    }

    void emptyTables()
    {
        testkit::RawDb(path(QStringLiteral("userdb.db"))).exec(QStringLiteral("DELETE FROM userdb"));
        testkit::RawDb(path(QStringLiteral("perm.db"))).exec(QStringLiteral("DELETE FROM perm"));
        testkit::RawDb(path(QStringLiteral("merge.db"))).exec(QStringLiteral("DELETE FROM merge"));
        testkit::RawDb(path(QStringLiteral("userpref.db"))).exec(QStringLiteral("UPDATE userpref SET \"FullName\" = 'Original'"));
    }

    // Each user whose save landed has exactly one Fullname journal row, with
    // the new name, and one Password row; no such row names a save that did
    // not land.
    void checkUserJournal(bool complete)
    {
        const QString userPref = path(QStringLiteral("userpref.db"));
        const QString merge = path(QStringLiteral("merge.db"));
        QStringList saved = values(userPref, QStringLiteral("SELECT \"Who\" || '=' || \"FullName\" FROM userpref "
                                                            "WHERE \"FullName\" LIKE 'Edited %'"));
        QStringList savedWho = values(userPref, QStringLiteral("SELECT \"Who\" FROM userpref WHERE \"FullName\" LIKE 'Edited %'"));
        QStringList names = values(merge, QStringLiteral("SELECT recno || '=' || \"to\" FROM merge WHERE database = 12 AND fieldname = 'Fullname'"));
        QStringList passwords = values(merge, QStringLiteral("SELECT recno FROM merge WHERE database = 12 AND fieldname = 'Password'"));
        for (QStringList* list : {&saved, &savedWho, &names, &passwords})
            list->sort();
        if (complete)
            QCOMPARE(saved.size(), m_users);
        QCOMPARE(names, saved);
        QCOMPARE(passwords, savedWho);
    }

    // Each row of USERDB.DB and PERM.DB has exactly one "added" journal row
    // and every such journal row names a row that exists; with rows >= 0 the
    // tables also hold that many rows each.
    void checkJournal(int rows)
    {
        if (m_tables.contains(QStringLiteral("userpref"))) {
            checkUserJournal(rows >= 0);
            return;
        }
        struct Journalled {
            QString file, table;
            int code;
        };
        for (const Journalled& t : {Journalled{QStringLiteral("userdb.db"), QStringLiteral("userdb"), 13},
                                    Journalled{QStringLiteral("perm.db"), QStringLiteral("perm"), 10}}) {
            if (!m_tables.contains(t.table))
                continue;
            QStringList keys = values(path(t.file), QStringLiteral("SELECT syncwellno FROM %1").arg(t.table));
            QStringList journal = values(path(QStringLiteral("merge.db")),
                                         QStringLiteral("SELECT recno FROM merge WHERE database = %1 AND action = 2").arg(t.code));
            keys.sort();
            journal.sort();
            if (rows >= 0)
                QCOMPARE(keys.size(), rows);
            QCOMPARE(journal, keys);
        }
    }

    std::unique_ptr<TestInstall> m_install;
    int m_pairs = 0; // rows of each table when the work is done
    int m_users = 0;
    int m_databases = 0;
    QString m_command;
    QStringList m_tables;
};

QTEST_MAIN(TestCrash)
#include "tst_crash.moc"
