// The exit-time clean-up on a large installation, beside the same work done
// without the store in one transaction with prepared statements: the SQLite
// C API on the table files, or with --engine postgresql libpq on the
// installation's schema on the server (dropped at the end).
//
//   bench_cleanup [--databases N] [--users N] [--dir DIR] [--repeat N]
//                 [--engine postgresql --connection "<libpq string>" [--schema NAME]]
//
// Each run of the store and of the floor, in turn, is two clean-ups: first
// with no USERDB.DB and PERM.DB rows and an empty journal (every pair's rows
// are made and journalled), then with every row present (lookups only).

#include "BenchKit.h"
#include "CleanupFloor.h"
#include "CleanupPgFloor.h"
#include "PgFloor.h"

#include "shell/CleanDb.h"
#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "ui/ProgressWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

using benchkit::Connection;
using benchkit::Statement;
using cleanupbench::Counts;
using cleanupbench::NewRow;

namespace {

// The same clean-up in plain SQL over one connection with the five table
// files attached, in one transaction.
class RawCleanUp {
public:
    explicit RawCleanUp(const QString& dataDir) : m_c(dataDir + "/userdb.db")
    {
        for (const char* name : {"perm", "database", "userpref", "merge"})
            m_c.attach(dataDir, name);
    }

    void run()
    {
        m_c.exec("BEGIN");
        auto parameter = [](int n) { return "?" + QString::number(n); };
        ensurePairs("main.userdb", cleanupbench::newUserDbRow("0", parameter), 13);
        deleteOrphans("main.userdb");
        ensurePairs("s_perm.perm", cleanupbench::newPermRow("1", parameter), 10);
        deleteOrphans("s_perm.perm");
        m_c.exec("COMMIT");
    }

private:
    void ensurePairs(const QString& table, const NewRow& row, int tableCode)
    {
        Statement databases(m_c, "SELECT DB FROM s_database.\"database\" ORDER BY DB");
        Statement users(m_c, "SELECT Who FROM s_userpref.userpref ORDER BY Who");
        Statement find(m_c, "SELECT 1 FROM " + table + " WHERE DB = ?1 AND Who = ?2");
        Statement insert(m_c, "INSERT INTO " + table + " (" + row.columns.join(',') + ") VALUES (" +
                                  row.values.join(',') + ")");
        Statement journal(m_c, "INSERT INTO s_merge.merge (recno, dateGMT, \"time\", who, \"database\", action,"
                               " fieldname, \"to\", DB) VALUES (?1, ?2, ?2, '', ?3, 2, '', '', ?4)");
        while (databases.step()) {
            const QByteArray db = databases.text(0);
            while (users.step()) {
                const QByteArray who = users.text(0);
                find.bind(1, db);
                find.bind(2, who);
                const bool found = find.step();
                find.reset();
                if (found)
                    continue;
                const QByteArray id = shell::newRecordId().toLatin1();
                insert.bind(1, db);
                insert.bind(2, who);
                insert.bind(3, id);
                insert.run();
                const QByteArray stamp =
                    store::dateTimeFromDays(support::gmtnow()).toString("yyyy-MM-dd HH:mm:ss.zzz").toLatin1();
                journal.bind(1, id);
                journal.bind(2, stamp);
                journal.bind(3, qint64(tableCode));
                journal.bind(4, db.left(8));
                journal.run();
            }
            users.reset();
        }
    }

    void deleteOrphans(const QString& table)
    {
        Statement walk(m_c, "SELECT rowid, DB, Who FROM " + table + " ORDER BY DB, Who");
        Statement findDb(m_c, "SELECT 1 FROM s_database.\"database\" WHERE DB = ?1");
        Statement findUser(m_c, "SELECT 1 FROM s_userpref.userpref WHERE Who = ?1");
        Statement remove(m_c, "DELETE FROM " + table + " WHERE rowid = ?1");
        while (walk.step()) {
            findDb.bind(1, walk.text(1));
            const bool dbFound = findDb.step();
            findDb.reset();
            findUser.bind(1, walk.text(2));
            const bool userFound = findUser.step();
            findUser.reset();
            if (!dbFound || !userFound) {
                remove.bind(1, walk.integer(0));
                remove.run();
            }
        }
    }

    Connection m_c;
};

// The floor on the table files: the SQLite C API alone.
class SqliteFloor : public cleanupbench::Floor {
public:
    explicit SqliteFloor(const QString& dataDir) : m_dataDir(dataDir) {}

    void clearPairRows() override
    {
        for (const char* name : {"userdb", "perm", "merge"}) {
            Connection c(QString("%1/%2.db").arg(m_dataDir, name));
            c.exec(QString("DELETE FROM %1").arg(name));
            c.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        }
    }

    Counts counts() override
    {
        return {benchkit::count(m_dataDir, "userdb"), benchkit::count(m_dataDir, "perm"),
                benchkit::count(m_dataDir, "merge")};
    }

    double cleanUp() override
    {
        QElapsedTimer timer;
        timer.start();
        RawCleanUp raw(m_dataDir);
        raw.run();
        return timer.nsecsElapsed() / 1e9;
    }

private:
    QString m_dataDir;
};

// Times the calls into the progress window, to tell its share of the
// clean-up apart from the machine's noise.
class TimedProgress : public support::Progress {
public:
    explicit TimedProgress(support::Progress& inner) : m_inner(inner) {}
    void begin(const QString& what, qint64 total) override
    {
        QElapsedTimer timer;
        timer.start();
        m_inner.begin(what, total);
        nsecs += timer.nsecsElapsed();
        ++calls;
    }
    bool advance(qint64 done) override
    {
        QElapsedTimer timer;
        timer.start();
        const bool goOn = m_inner.advance(done);
        nsecs += timer.nsecsElapsed();
        ++calls;
        return goOn;
    }
    qint64 nsecs = 0;
    qint64 calls = 0;

private:
    support::Progress& m_inner;
};

// What the timer's own read adds to each timed call, measured around a
// progress that does nothing.
double timerNsecsPerCall()
{
    class Nothing : public support::Progress {
        void begin(const QString&, qint64) override {}
        bool advance(qint64) override { return true; }
    } nothing;
    TimedProgress timed(nothing);
    for (int i = 0; i < 1000000; ++i)
        timed.advance(i);
    return double(timed.nsecs) / double(timed.calls);
}

// Runs the clean-up as the main window's exit does; adds to shares the
// progress window's share of the run, in per cent, less the timer's reads.
double storeCleanUp(std::vector<double>& shares)
{
    store::Table database(catalogue::kAlias, catalogue::kDatabase);
    store::Table userDb(catalogue::kAlias, catalogue::kUserDb);
    store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
    store::Table perm(catalogue::kAlias, catalogue::kPerm);
    // The main window's hooks.
    userDb.onNewRecord = [](store::Table& t) {
        t.fieldByName(catalogue::fSyncwellNo).setAsString(shell::newRecordId());
    };
    perm.beforePost = [](store::Table& t) {
        if (t.state() == store::TableState::Insert)
            support::journalrecord(t, support::ActionAdded);
    };
    static const double timerCost = timerNsecsPerCall(); // before the clock starts
    QElapsedTimer timer;
    timer.start();
    double reporting = 0;
    {
        // As the main window's exit runs it: with its progress window.
        ui::ProgressWindow window("Exit clean-up", "pairs", ui::ProgressWindow::Cancel::Offered);
        TimedProgress progress(window);
        if (!shell::cleanUp(database, userDb, userPref, perm, &progress))
            benchkit::fail("the clean-up stopped before its end");
        reporting = double(progress.nsecs) - timerCost * double(progress.calls);
    }
    const qint64 total = timer.nsecsElapsed();
    shares.push_back(100.0 * reporting / double(total));
    return total / 1e9;
}

void printCounts(const char* label, const Counts& c)
{
    std::printf("  %-28s USERDB %lld, PERM %lld, journal %lld\n", label, c.userDb, c.perm, c.journal);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"databases", "Contact databases.", "n", "100"});
    parser.addOption({"users", "Users.", "n", "1000"});
    parser.addOption({"dir", "Folder for the installation (default: a temporary one).", "dir"});
    benchkit::addEngineOptions(parser);
    benchkit::addRepeatOption(parser);
    parser.process(app);

    try {
        const int repeat = benchkit::repeatFrom(parser);
        const benchkit::Engine engine = benchkit::engineFrom(parser);
        const benchkit::MachineNote machine;
        const benchkit::DropSchemaAtEnd dropSchema(engine);
        QTemporaryDir temp;
        const QString root = parser.isSet("dir") ? parser.value("dir") : temp.path();
        const benchkit::Installation in = benchkit::makeInstallation(root, parser.value("users").toInt(),
                                                                     parser.value("databases").toInt(), engine);
        support::setJournalActive(true);
        const qint64 pairs = qint64(in.databases) * in.users;
        std::unique_ptr<cleanupbench::Floor> floor;
        if (engine.onServer)
            floor = std::make_unique<cleanupbench::PgFloor>(in.connection, in.schema);
        else
            floor = std::make_unique<SqliteFloor>(in.dataDir);
        const QString floorName = engine.onServer ? "libpq alone" : "SQLite alone";

        benchkit::Table table("Exit clean-up, " + QString::number(pairs) + " pairs", "store", floorName);
        benchkit::Line& make = table.add("no rows: make and journal all");
        benchkit::Line& lookups = table.add("all rows present: lookups only");
        std::vector<double> makeShares, lookupShares;
        bool countsRight = true;
        auto check = [&](const char* label, const Counts& c, qint64 journal) {
            if (c.userDb == pairs && c.perm == pairs && c.journal == journal)
                return;
            countsRight = false;
            printCounts(label, c);
        };
        auto storeRun = [&] {
            floor->clearPairRows();
            make.store.push_back(storeCleanUp(makeShares));
            check("store, from empty:", floor->counts(), 2 * pairs);
            lookups.store.push_back(storeCleanUp(lookupShares));
            check("store, all present:", floor->counts(), 2 * pairs);
        };
        auto floorRun = [&] {
            floor->clearPairRows();
            make.floor.push_back(floor->cleanUp());
            check(qPrintable(QString("%1, from empty:").arg(floorName)), floor->counts(), 2 * pairs);
            lookups.floor.push_back(floor->cleanUp());
            check(qPrintable(QString("%1, all present:").arg(floorName)), floor->counts(), 2 * pairs);
        };
        benchkit::alternate(repeat, storeRun, floorRun);
        table.print();
        std::printf("Of the store's time, in its progress window (shown after %lld ms): medians %.2f %% and %.2f %%\n",
                    ui::ProgressWindow::kShowAfterMs, benchkit::median(makeShares), benchkit::median(lookupShares));
        machine.print();
        if (!countsRight) {
            std::printf("\nWARNING: row counts differ from %lld pairs per table and %lld journal rows\n", pairs,
                        2 * pairs);
            return 1;
        }
    } catch (const store::StoreError& e) {
        std::fprintf(stderr, "store error: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 2;
    }
    return 0;
}
