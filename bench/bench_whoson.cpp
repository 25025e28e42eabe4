// One refresh of the who's-on list on a large installation: the single read
// of the logged-in users' USERDB.DB rows that the window uses, beside one
// scan of USERDB.DB per log-in, and beside a floor: reading the same rows'
// columns through the SQLite C API alone.
//
//   bench_whoson [--logins N] [--rows N] [--sample N] [--dir DIR] [--repeat N]
//
// The single pass and the floor run --repeat times, in turn; the table shows
// their medians.
// The per-log-in scan takes minutes at full size, so by default it runs for
// --sample log-ins and its time is scaled to all of them; --sample 0 runs it
// whole and checks that both give the same lines.

#include "BenchKit.h"

#include "login/WhosOnLines.h"
#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/Table.h"
#include "support/Clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr int kDatabases = 50;

// The log-in table holds the first n users, each once, in key order.
void fillLogIns(int n)
{
    store::Table usersOn(catalogue::kAlias, catalogue::kUsersOn);
    usersOn.open();
    usersOn.first();
    while (!usersOn.eof())
        usersOn.deleteRecord();
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    store::WriteBatch batch;
    int added = 0;
    for (users.first(); !users.eof() && added < n; users.next(), ++added) {
        usersOn.insert();
        usersOn.fieldByName(catalogue::fWho).setAsString(users.fieldByName(catalogue::fWho).asString());
        usersOn.post();
    }
    batch.commit();
}

struct Tables {
    store::Table usersOn{catalogue::kAlias, catalogue::kUsersOn};
    store::Table userPref{catalogue::kAlias, catalogue::kUserPref};
    store::Table userDb{catalogue::kAlias, catalogue::kUserDb};
    Tables()
    {
        usersOn.open();
        userPref.open();
        userDb.open();
    }
    // What the window does on a tick: re-read the tables, then the lines.
    QVector<QStringList> refresh(bool perLogIn)
    {
        usersOn.refresh();
        const double now = support::nowDays();
        return perLogIn ? login::whosOnLinesPerLogIn(usersOn, userPref, userDb, now)
                        : login::whosOnLines(usersOn, userPref, userDb, now);
    }
};

// The floor: the USERDB.DB columns the refresh needs, of the logged-in
// users' rows, stepped through with the SQLite C API. The statement is
// prepared once; each run steps through it (milliseconds).
class SqliteFloor {
public:
    SqliteFloor(const QString& dataDir, const QStringList& who)
    {
        sqlite3_open_v2(QFile::encodeName(QDir(dataDir).filePath("userdb.db")).constData(), &m_db,
                        SQLITE_OPEN_READONLY, nullptr);
        QStringList marks(who.size(), QStringLiteral("?"));
        const QByteArray sql = QStringLiteral("SELECT Who, DB, datelastlogin, timelastlogin, ntimes FROM userdb "
                                              "WHERE Who IN (%1) ORDER BY DB, Who")
                                   .arg(marks.join(','))
                                   .toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &m_st, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(m_db));
        for (int i = 0; i < who.size(); ++i)
            sqlite3_bind_text(m_st, i + 1, who[i].toUtf8().constData(), -1, SQLITE_TRANSIENT);
    }
    ~SqliteFloor()
    {
        sqlite3_finalize(m_st);
        sqlite3_close(m_db);
    }
    SqliteFloor(const SqliteFloor&) = delete;
    SqliteFloor& operator=(const SqliteFloor&) = delete;

    double run()
    {
        QElapsedTimer t;
        t.start();
        while (sqlite3_step(m_st) == SQLITE_ROW)
            m_sum += sqlite3_column_bytes(m_st, 0) + sqlite3_column_bytes(m_st, 2) + sqlite3_column_int(m_st, 4);
        sqlite3_reset(m_st);
        return t.nsecsElapsed() / 1e6;
    }

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_st = nullptr;
    qint64 m_sum = 0; // what was read, so that the reads are not left out
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("One who's-on refresh: single pass against one scan per log-in.");
    parser.addHelpOption();
    parser.addOption({"logins", "Log-ins.", "n", "200"});
    parser.addOption({"rows", "USERDB.DB rows (rounded to whole users of 50 databases).", "n", "100000"});
    parser.addOption({"sample", "Log-ins the per-log-in scan runs for (0: all).", "n", "3"});
    parser.addOption({"dir", "Folder for the installation (default: a temporary one).", "dir"});
    benchkit::addRepeatOption(parser);
    parser.process(app);

    try {
        const int repeat = benchkit::repeatFrom(parser);
        const benchkit::MachineNote machine;
        const int logins = parser.value("logins").toInt();
        const int rows = parser.value("rows").toInt();
        const int sample = parser.value("sample").toInt();
        QTemporaryDir temp;
        const QString root = parser.isSet("dir") ? parser.value("dir") : temp.path();
        // The demo gives every user but the last one row per database.
        const benchkit::Installation in =
            benchkit::makeInstallation(root, std::max(logins, rows / kDatabases) + 1, kDatabases);

        fillLogIns(logins);
        Tables tables;
        const int userDbRows = tables.userDb.recordCount();
        std::printf("%d log-ins, %d USERDB.DB rows\n", tables.usersOn.recordCount(), userDbRows);

        QVector<QStringList> lines = tables.refresh(false);
        QStringList who;
        for (const QStringList& line : lines)
            who << line[login::ColWho];
        benchkit::Table table("Who's on, one refresh (goal: the window's single pass <= 50 ms)", "store", "SQLite alone",
                             "ms");
        benchkit::Line& onePass = table.add("one refresh, single pass (the window)");
        SqliteFloor floor(in.dataDir, who);
        benchkit::alternate(
            repeat, [&] { onePass.store.push_back(benchkit::timed([&] { lines = tables.refresh(false); }) * 1000); },
            [&] { onePass.floor.push_back(floor.run()); });
        table.print();
        const double single = benchkit::median(onePass.store);

        // One run: at full size it takes minutes.
        const int scanned = sample > 0 ? std::min(sample, logins) : logins;
        if (scanned < logins)
            fillLogIns(scanned);
        QVector<QStringList> perLogIn;
        const double perLogInMs = benchkit::timed([&] { perLogIn = tables.refresh(true); }) * 1000 * logins / scanned;
        const bool same = perLogIn == lines.mid(0, scanned);
        std::printf("\n%-46s %14.1f ms (%s)\n", "one refresh, one scan per log-in", perLogInMs,
                    scanned < logins
                        ? qPrintable(QString("one run for %1 log-ins, scaled to %2").arg(scanned).arg(logins))
                        : "one run");
        std::printf("per-log-in / single pass: %.0fx\n", perLogInMs / single);
        std::printf("same lines from both (first %d log-ins): %s\n", scanned, same ? "yes" : "NO");
        machine.print();
        return same ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_whoson: %s\n", e.what());
        return 1;
    }
}
