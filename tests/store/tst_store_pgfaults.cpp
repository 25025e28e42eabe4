// The server engine when the server fails under it: a backend terminated from
// another connection, a stopped backend (as a broken network leaves it), a
// server restarted under an open table, and a row read back after its insert
// committed. Server runs only.
#include "store/Connection.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgLink.h"
#include "store/pg/PgSchema.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <libpq-fe.h>
#include <signal.h>
#include <unistd.h>

using namespace store;

namespace {

const QString kAlias = QStringLiteral("NORDA");
const QString kUsers = QStringLiteral("USERS.DB");
const QString kContact = QStringLiteral("CONTACT.DB");

TableDef whoDef(const QString& name)
{
    return {name, {{QStringLiteral("Who"), QStringLiteral("VARCHAR(3)")}, {QStringLiteral("n"), QStringLiteral("INTEGER")}},
            {QStringLiteral("Who")}};
}

void addRow(Table& t, const QString& who, int n)
{
    t.insert();
    t.fieldByName(QStringLiteral("Who")).setAsString(who);
    t.fieldByName(QStringLiteral("n")).setAsInteger(n);
    t.post();
}

QString errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const StoreError& e) {
        return e.message();
    }
    return QString();
}

// The server process that serves the store's connection for a table.
int storeBackend(const QString& table)
{
    const std::shared_ptr<Connection> conn = Connection::acquire(kAlias, table);
    Statement s = conn->statement(QStringLiteral("SELECT pg_backend_pid()"));
    return s.step() ? int(s.columnInt(0)) : 0;
}

// Waits without processing events, so that a batch's pending transaction
// is not committed by its timer meanwhile.
bool waitFor(const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(60000); // a limit for a broken run only
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

// Another connection to the server, as an administrator's or another
// program's.
class Admin {
public:
    explicit Admin(QString schema) : m_conn(pg::connect(TestInstall::serverConnection())), m_schema(std::move(schema)) {}
    PGconn* conn() const { return m_conn.get(); }
    QString table(const QString& name) const { return pg::quoteIdent(m_schema) + '.' + pg::quoteIdent(sqlTableName(name)); }
    QString schema() const { return m_schema; }

    bool terminate(int pid)
    {
        pg::exec(conn(), QStringLiteral("SELECT pg_terminate_backend($1)"), {pid});
        return waitFor([&] { return !runs(pid); });
    }
    bool runs(int pid)
    {
        return pg::exec(conn(), QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE pid = $1"), {pid}).integer(0, 0) > 0;
    }
    QStringList who(const QString& tableName)
    {
        const pg::Result r = pg::exec(conn(), QStringLiteral("SELECT \"Who\" FROM %1 ORDER BY 1").arg(table(tableName)));
        QStringList out;
        for (int i = 0; i < r.rows(); ++i)
            out << r.text(i, 0);
        return out;
    }

private:
    pg::ConnPtr m_conn;
    QString m_schema;
};

// Gathers what batches report after their end, and stops gathering when it
// goes.
class BatchReports {
public:
    BatchReports()
    {
        setBatchErrorHandler([this](const QString& message) { m_messages << message; });
    }
    ~BatchReports() { setBatchErrorHandler({}); }
    const QStringList& messages() const { return m_messages; }

private:
    QStringList m_messages;
};

// A stopped server process, as a broken network or a hung machine leaves the
// server to the program. It goes on when this goes, also when a check failed
// on the way; a watchdog lets it go on after a minute whatever happens, so
// that a call that waits for it without a limit still ends (and the test
// fails instead of hanging).
class StoppedBackend {
public:
    explicit StoppedBackend(int pid) : m_pid(pid)
    {
        if (pid <= 0 || ::kill(pid, SIGSTOP) != 0)
            return;
        m_watchdog = std::thread([this] {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::seconds(60), [this] { return m_resumed; });
            ::kill(m_pid, SIGCONT);
        });
        m_stopped = waitFor([this] { return state() == 'T'; });
    }
    ~StoppedBackend() { resume(); }
    bool stopped() const { return m_stopped; }
    void resume()
    {
        if (!m_watchdog.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_resumed = true;
        }
        m_wake.notify_all();
        m_watchdog.join();
    }

private:
    // The process state from /proc ('T' when stopped).
    char state() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_pid));
        if (!stat.open(QIODevice::ReadOnly))
            return '?';
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        return close >= 0 && close + 2 < line.size() ? line.at(close + 2) : '?';
    }

    int m_pid;
    bool m_stopped = false;
    bool m_resumed = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_watchdog;
};

// A cluster of this test's own (tools/pg/cluster), to stop and start
// without disturbing the suites that share the test server. Removed when it
// goes.
class PrivateCluster {
public:
    PrivateCluster() : m_dir(QDir::tempPath() + QStringLiteral("/brisel-pgfaults-%1").arg(::getpid()))
    {
        QProcess p;
        p.start(QStringLiteral(BRISEL_PG_CLUSTER), {QStringLiteral("start"), m_dir});
        if (p.waitForFinished(120000) && p.exitCode() == 0)
            m_connection = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        else
            qWarning("cluster start: %s", p.readAllStandardError().constData());
    }
    ~PrivateCluster()
    {
        QProcess p;
        p.start(QStringLiteral(BRISEL_PG_CLUSTER), {QStringLiteral("stop"), m_dir});
        p.waitForFinished(120000);
    }
    const QString& connection() const { return m_connection; }
    // The server stops (its sessions end) or starts; true once it has.
    bool stop() { return control({QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("stop")}); }
    bool start() { return control({QStringLiteral("-l"), m_dir + QStringLiteral("/server.log"), QStringLiteral("start")}); }

private:
    bool control(const QStringList& args)
    {
        QFile marker(m_dir + QStringLiteral("/.brisel-pg-cluster")); // names the server's programs
        if (!marker.open(QIODevice::ReadOnly))
            return false;
        const QString pgCtl = QString::fromUtf8(marker.readAll()).trimmed() + QStringLiteral("/pg_ctl");
        QStringList command = QStringList{pgCtl, QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-s"),
                                          QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60")}
                              + args;
        if (::getuid() == 0) // the server runs as the postgres user
            command = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} + command;
        QProcess p;
        p.setWorkingDirectory(m_dir);
        p.start(::getuid() == 0 ? QStringLiteral("runuser") : command.takeFirst(), command);
        return p.waitForFinished(120000) && p.exitCode() == 0;
    }

    QString m_dir;
    QString m_connection;
};

} // namespace

class TestStorePgFaults : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_config, m_net;
    std::unique_ptr<TestSchema> m_schema;
    std::unique_ptr<Admin> m_admin;

private slots:
    void initTestCase()
    {
        if (!TestInstall::onServer())
            QSKIP("these cases need a PostgreSQL server (BRISEL_TEST_ENGINE=postgresql)");
    }

    void init()
    {
        QVERIFY(m_dir.isValid());
        static int n = 0;
        const QString root = m_dir.filePath(QString::number(++n));
        m_net = root + QStringLiteral("/net");
        QDir().mkpath(m_net);
        QDir().mkpath(root + QStringLiteral("/data"));
        m_config = root + QStringLiteral("/store.ini");
        m_admin.reset();
        m_schema = std::make_unique<TestSchema>();
        QVERIFY(m_schema->ok());
        QFile f(m_config);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write((QStringLiteral("[NORDA]\n") + m_schema->aliasLines(root + QStringLiteral("/data"))).toUtf8());
        f.close();
        testkit::useStore(m_config, m_net, false);
        m_schema->createTable(whoDef(kUsers));
        m_schema->createTable(whoDef(kContact));
        m_admin = std::make_unique<Admin>(m_schema->name());
    }
    void cleanup()
    {
        Session::instance().reset();
        m_admin.reset();
    }
    void cleanupTestCase() { m_schema.reset(); }

    // The backend ends while a batch holds changes: closing the table does
    // not pass the rollback off as a success; the batch's commit says the
    // changes were lost, and the next call works on a new connection.
    void batchLostWithTheConnectionIsReported()
    {
        Table t(kAlias, kUsers);
        t.open();
        addRow(t, QStringLiteral("AAA"), 1);
        const int pid = storeBackend(kUsers);
        BatchReports reports;
        QString error;
        {
            WriteBatch batch;
            addRow(t, QStringLiteral("BBB"), 2);
            addRow(t, QStringLiteral("CCC"), 3);
            QVERIFY(m_admin->terminate(pid));
            t.close();
            error = errorOf([&] { batch.commit(); });
        }
        const QString told = (QStringList{error} + reports.messages()).join(QLatin1Char('\n'));
        QVERIFY2(told.contains(QLatin1String("not saved")) && told.contains(kUsers), qPrintable(told));
        QVERIFY(!m_admin->who(kUsers).contains(QStringLiteral("CCC")));

        t.open();
        addRow(t, QStringLiteral("DDD"), 4);
        QVERIFY(m_admin->who(kUsers).contains(QStringLiteral("DDD")));
    }

    // A session the server ended while no transaction was pending is made
    // again by the next call, with the table's open-lock.
    void reconnectsWithItsLocks()
    {
        Table t(kAlias, kUsers);
        t.open();
        addRow(t, QStringLiteral("AAA"), 1);
        const int pid = storeBackend(kUsers);
        QVERIFY(m_admin->terminate(pid));

        QCOMPARE(errorOf([&] { t.refresh(); }), QString());
        QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("AAA"));
        addRow(t, QStringLiteral("BBB"), 2);
        QCOMPARE(m_admin->who(kUsers), QStringList({"AAA", "BBB"}));
        QVERIFY(storeBackend(kUsers) != pid);
        testkit::OtherProgram other(m_config, m_net);
        const QString exclusive = other.tryOpen(kUsers, true);
        QVERIFY2(exclusive.startsWith(QLatin1String("failed")), qPrintable(exclusive));
    }

    // Another program takes one of the open tables while the connection is
    // down: that table fails, saying so, until it is closed; the other
    // table goes on.
    void tableTakenMeanwhileFailsAlone()
    {
        Table users(kAlias, kUsers);
        Table contact(kAlias, kContact);
        users.open();
        contact.open();
        const int pid = storeBackend(kUsers);
        QVERIFY(m_admin->terminate(pid));
        testkit::OtherProgram other(m_config, m_net);
        QVERIFY(other.hold(kUsers, QStringLiteral("exclusive")));
        Session::instance().setBusyTimeout(200); // the other program keeps the table: no use waiting long

        QCOMPARE(errorOf([&] { addRow(contact, QStringLiteral("AAA"), 1); }), QString());
        QCOMPARE(m_admin->who(kContact), QStringList({"AAA"}));
        const QString error = errorOf([&] { users.refresh(); });
        QVERIFY2(error.contains(kUsers) && error.contains(QLatin1String("another program")), qPrintable(error));
        QCOMPARE(errorOf([&] { addRow(users, QStringLiteral("BBB"), 2); }), error);
        QVERIFY(m_admin->who(kUsers).isEmpty());

        users.close();
        other.release();
        users.open();
        addRow(users, QStringLiteral("BBB"), 2);
        QCOMPARE(m_admin->who(kUsers), QStringList({"BBB"}));
    }

    // A backend that stops answering fails the call within the session's
    // bound, naming the table; once it answers again the store works on a
    // new connection.
    void silentServerFailsTheCallInTime()
    {
        Session::instance().setServerTimeout(2000);
        Table t(kAlias, kUsers);
        t.open();
        addRow(t, QStringLiteral("AAA"), 1);
        const int pid = storeBackend(kUsers);
        QString error;
        {
            StoppedBackend stopped(pid);
            if (!stopped.stopped())
                QSKIP("cannot stop the server's process (another user's, and this test not root)");
            error = errorOf([&] { t.refresh(); });
        }
        QVERIFY2(error.contains(QLatin1String("does not answer")) && error.contains(kUsers), qPrintable(error));

        t.refresh();
        QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("AAA"));
        addRow(t, QStringLiteral("BBB"), 2);
        QCOMPARE(m_admin->who(kUsers), QStringList({"AAA", "BBB"}));
    }

    // The server restarts under an open table: while it is down, calls fail
    // naming the table; once it is back, the table works again.
    void restartedServerIsReachedAgain()
    {
        PrivateCluster cluster;
        QVERIFY(!cluster.connection().isEmpty());
        {
            const pg::ConnPtr conn = pg::connect(cluster.connection());
            pg::createSchema(conn.get(), QStringLiteral("restart"));
            pg::createTable(conn.get(), QStringLiteral("restart"), whoDef(kUsers));
        }
        QFile f(m_config);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[NORDA]\nENGINE=postgresql\nCONNECTION=%1\nSCHEMA=restart\nPATH=%2\n")
                    .arg(cluster.connection(), m_dir.path())
                    .toUtf8());
        f.close();
        testkit::useStore(m_config, m_net, false);
        {
            Table t(kAlias, kUsers);
            t.open();
            addRow(t, QStringLiteral("AAA"), 1);

            QVERIFY(cluster.stop());
            const QString error = errorOf([&] { t.refresh(); });
            QVERIFY2(error.contains(kUsers) && error.contains(QLatin1String("database server")), qPrintable(error));
            QVERIFY(cluster.start());
            QCOMPARE(errorOf([&] { t.refresh(); }), QString());
            QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("AAA"));
            addRow(t, QStringLiteral("BBB"), 2);
            QCOMPARE(t.recordCount(), 2);
        }
        Session::instance().reset(); // lets go of the cluster before it goes
    }

    // The read-back of a row that was inserted and committed fails: the
    // post still succeeds, showing the row as posted, and the row is saved
    // once. A trigger warns during the insert; on that warning another
    // connection asks for the table for itself, which it gets as the insert
    // commits, so the read-back waits for it and fails.
    void insertSavedWhenItsReadBackFails()
    {
        const QString function = pg::quoteIdent(m_admin->schema()) + QStringLiteral(".warn_insert");
        pg::execPlain(m_admin->conn(), QStringLiteral("CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS "
                                                      "$$BEGIN RAISE WARNING 'inserting'; RETURN NEW; END$$; "
                                                      "CREATE TRIGGER warn AFTER INSERT ON %2 FOR EACH ROW EXECUTE FUNCTION %1()")
                                           .arg(function, m_admin->table(kUsers)));
        Table t(kAlias, kUsers);
        t.open();
        Session::instance().setBusyTimeout(200); // the read-back cannot get the table: fail soon

        struct Locker {
            Admin* admin;
            pg::ConnPtr conn;
            int pid = 0;
            bool asked = false;
            bool queued = false;
        } locker{m_admin.get(), pg::connect(TestInstall::serverConnection())};
        locker.pid = PQbackendPID(locker.conn.get());
        const auto session = std::static_pointer_cast<PgConnection>(Connection::acquire(kAlias, kUsers));
        PGconn* store = session->session().conn();
        auto onWarning = [](void* arg, const PGresult* result) {
            auto* l = static_cast<Locker*>(arg);
            const char* text = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
            if (l->asked || !text || QByteArray(text) != "inserting")
                return;
            l->asked = true;
            const QString lock = QStringLiteral("BEGIN; LOCK TABLE %1 IN ACCESS EXCLUSIVE MODE").arg(l->admin->table(kUsers));
            if (!PQsendQuery(l->conn.get(), lock.toUtf8().constData()))
                return;
            l->queued = waitFor([&] {
                return pg::exec(l->admin->conn(),
                                QStringLiteral("SELECT count(*) FROM pg_locks WHERE pid = $1 AND mode = 'AccessExclusiveLock' "
                                               "AND relation = '%1'::regclass")
                                    .arg(l->admin->table(kUsers)),
                                {l->pid})
                           .integer(0, 0)
                       > 0;
            });
        };
        const PQnoticeReceiver previous = PQsetNoticeReceiver(store, onWarning, &locker);
        const QString error = errorOf([&] { addRow(t, QStringLiteral("AAA"), 1); });
        PQsetNoticeReceiver(store, previous, nullptr);
        QVERIFY(locker.queued);
        while (PGresult* r = PQgetResult(locker.conn.get()))
            PQclear(r);
        pg::execPlain(locker.conn.get(), QStringLiteral("ROLLBACK"));

        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("AAA"));
        QCOMPARE(m_admin->who(kUsers), QStringList({"AAA"}));
    }
};

QTEST_GUILESS_MAIN(TestStorePgFaults)
#include "tst_store_pgfaults.moc"
