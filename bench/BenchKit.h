#pragma once

// What the benchmarks share: a large installation made by the demo installer
// with the store pointed at it (on SQLite files, or in a schema on a
// PostgreSQL server), and a thin layer over the SQLite C API for the floors
// (the same work done with SQLite alone; PgFloor.h has the server's).

#include "store/Catalogue.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "tools/demo/Installer.h"
#include "tools/demo/Layout.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <sqlite3.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace benchkit {

[[noreturn]] inline void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

class Connection {
public:
    explicit Connection(const QString& path)
    {
        if (sqlite3_open(QFile::encodeName(path).constData(), &m_db) != SQLITE_OK)
            fail("cannot open " + path);
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~Connection() { sqlite3_close(m_db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    sqlite3* handle() const { return m_db; }
    void exec(const QString& sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            const QString message = QString::fromUtf8(error);
            sqlite3_free(error);
            fail(sql + ": " + message);
        }
    }
    void attach(const QString& dataDir, const QString& name)
    {
        exec(QString("ATTACH DATABASE '%1/%2.db' AS s_%2").arg(dataDir, name));
    }

private:
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    Statement(Connection& c, const QString& sql)
    {
        if (sqlite3_prepare_v2(c.handle(), sql.toUtf8().constData(), -1, &m_st, nullptr) != SQLITE_OK)
            fail(sql + ": " + QString::fromUtf8(sqlite3_errmsg(c.handle())));
    }
    ~Statement() { sqlite3_finalize(m_st); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    void bind(int i, const QByteArray& text) { sqlite3_bind_text(m_st, i, text.constData(), text.size(), SQLITE_TRANSIENT); }
    void bind(int i, qint64 value) { sqlite3_bind_int64(m_st, i, value); }
    bool step()
    {
        const int rc = sqlite3_step(m_st);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(m_st))));
        return false;
    }
    void run() { step(); reset(); }
    void reset() { sqlite3_reset(m_st); sqlite3_clear_bindings(m_st); }
    QByteArray text(int column) const
    {
        return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(m_st, column)),
                          sqlite3_column_bytes(m_st, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_st, column); }
    bool isNull(int column) const { return sqlite3_column_type(m_st, column) == SQLITE_NULL; }
    int columns() const { return sqlite3_column_count(m_st); }

private:
    sqlite3_stmt* m_st = nullptr;
};

inline qint64 count(const QString& dataDir, const QString& table)
{
    Connection c(QString("%1/%2.db").arg(dataDir, table));
    Statement st(c, "SELECT count(*) FROM \"" + table + "\"");
    st.step();
    return st.integer(0);
}

// The journal's last row, and the journal cut back to it: a benchmark puts
// back what a run added before the next run.
inline qint64 lastJournalRow(const QString& dataDir)
{
    Connection c(dataDir + "/merge.db");
    Statement last(c, "SELECT coalesce(max(rowid), 0) FROM merge");
    last.step();
    return last.integer(0);
}

inline void cutJournal(const QString& dataDir, qint64 lastRow)
{
    Connection c(dataDir + "/merge.db");
    c.exec(QString("DELETE FROM merge WHERE rowid > %1").arg(lastRow));
    c.exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

inline QStringList booleanColumns(const QString& tableName)
{
    QStringList names;
    for (const store::ColumnDef& c : catalogue::tableDef(tableName).columns)
        if (c.declaredType.compare("BOOLEAN", Qt::CaseInsensitive) == 0)
            names << c.name;
    return names;
}

// Where a benchmark makes its installation: table files (the default) or a
// schema on a PostgreSQL server, which the benchmark drops at its end.
struct Engine {
    bool onServer = false;
    QString connection; // libpq connection string of the database
    QString schema;
};

inline void addEngineOptions(QCommandLineParser& parser)
{
    parser.addOption({"engine", "sqlite (default) or postgresql.", "engine", "sqlite"});
    parser.addOption({"connection", "PostgreSQL: libpq connection string of the database.", "string"});
    parser.addOption({"schema", "PostgreSQL: the schema for the installation, dropped at the end.", "name",
                      "brisel_bench"});
}

inline Engine engineFrom(const QCommandLineParser& parser)
{
    const QString name = parser.value("engine").toLower();
    if (name == "sqlite")
        return {};
    if (name != "postgresql")
        fail("--engine must be sqlite or postgresql, not " + name);
    if (parser.value("connection").trimmed().isEmpty())
        fail("--engine postgresql needs --connection \"<libpq connection string>\"");
    if (parser.value("schema").trimmed().isEmpty())
        fail("--schema must name a schema");
    return {true, parser.value("connection"), parser.value("schema")};
}

// Points demo options at the engine's place (the server's schema, replaced
// if it holds an earlier run's tables).
inline void useEngine(const Engine& engine, demo::Options& options)
{
    if (!engine.onServer)
        return;
    options.engine = demo::Engine::PostgreSQL;
    options.connection = engine.connection;
    options.schema = engine.schema;
    options.replace = true;
}

struct Installation {
    QString dataDir;
    int users = 0;
    int databases = 0;
    QString connection; // on a server: where the tables are
    QString schema;
    QString configPath;
    QString netDir;
    QString privateDir;
};

// Points the store at the installation, with the passwords the program
// knows. Also lets go of every table file the store held (a table opened
// for this program alone keeps its file locked until then), so that a floor
// or a reset may write them.
inline void reopenStore(const Installation& in)
{
    store::Session& session = store::Session::instance();
    session.reset();
    session.setConfigPath(in.configPath);
    session.setNetFileDir(in.netDir);
    session.setPrivateDir(in.privateDir);
    session.addPassword(catalogue::startupPasswordA());
    session.addPassword(catalogue::startupPasswordB());
    session.addPassword(catalogue::forceOffPassword());
}

// A demo installation made from options under root (its own folders there),
// with the store pointed at it. The journal is left as it is.
inline Installation makeInstallation(const QString& root, demo::Options options)
{
    options.root = root + "/install";
    options.programDir = root + "/program";
    options.writeProgramFiles = false;
    options.replace = true;
    QDir().mkpath(options.programDir);
    std::printf("Making an installation of %d databases x %d users", options.databases, options.users);
    if (options.contacts > 0 || options.events > 0)
        std::printf(", %d contacts, %d events", options.contacts, options.events);
    if (options.engine == demo::Engine::PostgreSQL)
        std::printf(" on the server, schema %s", qPrintable(options.schema));
    std::printf("...\n");
    std::fflush(stdout);
    const demo::Result install = demo::install(options);
    demo::writeStoreConfig(install);
    QDir().mkpath(root + "/priv");
    const Installation in{install.dataDir, options.users,   options.databases, install.connection,
                          install.schema,  install.configPath, install.netDir,  root + "/priv"};
    reopenStore(in);
    return in;
}

// The same with users x databases and no contacts or events.
inline Installation makeInstallation(const QString& root, int users, int databases, const Engine& engine = {})
{
    demo::Options options;
    useEngine(engine, options);
    options.users = users;
    options.databases = databases;
    options.contacts = 0;
    options.events = 0;
    return makeInstallation(root, std::move(options));
}

// Repeated measurements. One run of a machine shared with others is not a
// figure: each piece of work is measured several times, store and floor in
// turn so that a change in the load falls on both alike, and the medians are
// compared. Defined in BenchKit.cpp.

// --repeat N: how many times each piece of work is measured (default 3).
void addRepeatOption(QCommandLineParser& parser);
int repeatFrom(const QCommandLineParser& parser);

// Seconds that work() takes.
double timed(const std::function<void()>& work);

double median(std::vector<double> values);

// One line of a table: every run's figure, the store's and the floor's.
struct Line {
    QString label;
    std::vector<double> store;
    std::vector<double> floor;
};

// Runs storeRun and floorRun alternately, repeat times each; each run records
// its own figures (for work that times itself, or several lines at once).
void alternate(int repeat, const std::function<void()>& storeRun, const std::function<void()>& floorRun);

// Times store and floor alternately into line, repeat times each. prepare(),
// not timed, runs before every run to put back what the work changed.
void alternate(Line& line, int repeat, const std::function<void()>& store, const std::function<void()>& floor,
               const std::function<void()>& prepare = {});

// A benchmark's figures: per line the median of each side, how far its runs
// spread (largest minus smallest, against the median), and the ratio of the
// medians.
class Table {
public:
    explicit Table(QString title, QString storeName = "store", QString floorName = "floor", QString unit = "s");
    Line& add(const QString& label); // stays valid as lines are added
    void print() const;

private:
    QString m_title, m_storeName, m_floorName, m_unit;
    std::deque<Line> m_lines;
};

// The machine the figures come from: its cores, and whether anything else
// kept it busy while the benchmark ran (the load average before and after,
// and the processor time of other programs, a database server included,
// from /proc/stat less this program's own).
class MachineNote {
public:
    MachineNote(); // prints the core count
    void print() const;

private:
    QString m_loadBefore;
    qint64 m_busyTicks = -1, m_allTicks = -1;
    double m_ownSeconds = 0;
};

} // namespace benchkit
