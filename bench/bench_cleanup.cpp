// The exit-time clean-up on a large installation, beside the same work done
// with the SQLite C API alone in one transaction with prepared statements.
//
//   bench_cleanup [--databases N] [--users N] [--dir DIR]
//
// Two runs each: first with no USERDB.DB and PERM.DB rows (every pair's rows
// are made and journalled), then with every row present (lookups only).

#include "BenchKit.h"

#include "shell/CleanDb.h"
#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using benchkit::Connection;
using benchkit::Statement;

namespace {

QString quoted(const QString& name)
{
    return '"' + name + '"';
}

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
        const QStringList userDbBooleans = benchkit::booleanColumns(catalogue::kUserDb);
        QStringList userDbColumns = userDbBooleans;
        userDbColumns << "DB" << "Who" << "ntimes";
        for (const char* font : {"FontData", "FontLabel", "FontGrid"})
            for (const char* part : {"Size", "Color", "Style", "Name"})
                userDbColumns << QString(font) + part;
        userDbColumns << "syncwellno";
        QStringList userDbValues(userDbBooleans.size(), "0");
        userDbValues << "?1" << "?2" << "0" << "9" << "0" << "0" << "'Arial'" << "9" << "0" << "0" << "'Arial'"
                     << "9" << "0" << "0" << "'Arial'" << "?3";
        ensurePairs("main.userdb", userDbColumns, userDbValues, 13);
        deleteOrphans("main.userdb");

        QStringList permColumns = benchkit::booleanColumns(catalogue::kPerm);
        QStringList permValues(permColumns.size(), "1");
        permColumns << "DB" << "Who" << "syncwellno";
        permValues << "?1" << "?2" << "?3";
        ensurePairs("s_perm.perm", permColumns, permValues, 10);
        deleteOrphans("s_perm.perm");
        m_c.exec("COMMIT");
    }

private:
    void ensurePairs(const QString& table, const QStringList& columns, const QStringList& values, int tableCode)
    {
        QStringList quotedColumns;
        for (const QString& c : columns)
            quotedColumns << quoted(c);
        Statement databases(m_c, "SELECT DB FROM s_database.\"database\" ORDER BY DB");
        Statement users(m_c, "SELECT Who FROM s_userpref.userpref ORDER BY Who");
        Statement find(m_c, "SELECT 1 FROM " + table + " WHERE DB = ?1 AND Who = ?2");
        Statement insert(m_c, "INSERT INTO " + table + " (" + quotedColumns.join(',') + ") VALUES (" +
                                  values.join(',') + ")");
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

void clearPairRows(const QString& dataDir)
{
    for (const char* name : {"userdb", "perm", "merge"}) {
        Connection c(QString("%1/%2.db").arg(dataDir, name));
        c.exec(QString("DELETE FROM %1").arg(name));
        c.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
}

struct Counts {
    qint64 userDb, perm, journal;
};

Counts counts(const QString& dataDir)
{
    return {benchkit::count(dataDir, "userdb"), benchkit::count(dataDir, "perm"), benchkit::count(dataDir, "merge")};
}

double storeCleanUp()
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
    QElapsedTimer timer;
    timer.start();
    shell::cleanUp(database, userDb, userPref, perm);
    return timer.nsecsElapsed() / 1e9;
}

double rawCleanUp(const QString& dataDir)
{
    QElapsedTimer timer;
    timer.start();
    RawCleanUp raw(dataDir);
    raw.run();
    return timer.nsecsElapsed() / 1e9;
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
    parser.process(app);

    try {
        QTemporaryDir temp;
        const QString root = parser.isSet("dir") ? parser.value("dir") : temp.path();
        const benchkit::Installation in =
            benchkit::makeInstallation(root, parser.value("users").toInt(), parser.value("databases").toInt());
        support::setJournalActive(true);
        const QString data = in.dataDir;
        const qint64 pairs = qint64(in.databases) * in.users;

        clearPairRows(data);
        const double storeMake = storeCleanUp();
        const Counts afterStore = counts(data);
        const double storeLookups = storeCleanUp();
        const Counts afterStoreAgain = counts(data);

        clearPairRows(data);
        const double rawMake = rawCleanUp(data);
        const Counts afterRaw = counts(data);
        const double rawLookups = rawCleanUp(data);
        const Counts afterRawAgain = counts(data);

        std::printf("\nRows (%lld pairs):\n", pairs);
        printCounts("store, from empty:", afterStore);
        printCounts("store, all present:", afterStoreAgain);
        printCounts("SQLite alone, from empty:", afterRaw);
        printCounts("SQLite alone, all present:", afterRawAgain);

        std::printf("\n%-34s %10s %14s %7s\n", "", "store (s)", "SQLite alone (s)", "ratio");
        std::printf("%-34s %10.3f %14.3f %7.2f\n", "no rows: make and journal all", storeMake, rawMake,
                    storeMake / rawMake);
        std::printf("%-34s %10.3f %14.3f %7.2f\n", "all rows present: lookups only", storeLookups, rawLookups,
                    storeLookups / rawLookups);

        if (afterStore.userDb != pairs || afterStore.perm != pairs || afterStore.journal != 2 * pairs ||
            afterRaw.userDb != pairs || afterRaw.perm != pairs || afterRaw.journal != 2 * pairs) {
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
