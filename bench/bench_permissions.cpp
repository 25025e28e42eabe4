// The permission windows on a large installation (1,000 users x 100
// databases by default), each beside its floor: the same reads, writes and
// journal rows through the SQLite C API alone in one transaction.
//
//   bench_permissions [--users N] [--databases N] [--dir DIR] [--repeat N]
//
// Each measurement is a function of its own; main() runs them in turn, each
// --repeat times, store and floor in turn, and prints one table of medians.

#include "BenchKit.h"
#include "SysPermBench.h"

#include "permissions/Chperm.h"
#include "shell/Paths.h"
#include "store/DayCount.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Messages.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTemporaryDir>

using benchkit::Connection;
using benchkit::Installation;
using benchkit::Statement;

namespace {

const int kPermCode = 10;

// PERM.DB empty and the journal as it was at journalMark.
void clearPermRows(const Installation& in, qint64 journalMark)
{
    Connection c(in.dataDir + "/perm.db");
    c.exec("DELETE FROM perm");
    c.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    benchkit::cutJournal(in.dataDir, journalMark);
}

// Opens the database permissions dialog offscreen for the first user, on a
// user table of its own as the main window's; seconds until it has opened.
double openPermDialog()
{
    support::MessageScript script; // an error box would be recorded, not shown
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    users.first();
    TfrmPerm dialog(users);
    dialog.userId = users.fieldByName(catalogue::fWho).asString();
    QElapsedTimer timer;
    timer.start();
    dialog.show();
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!dialog.opened())
        benchkit::fail("the dialog did not open: " + script.texts().join(" / "));
    dialog.reject();
    return seconds;
}

// The floor of opening with every row present: the walk over users and
// databases, each pair's row read and its logical fields tested for blanks.
double floorOpenComplete(const Installation& in)
{
    QElapsedTimer timer;
    timer.start();
    Connection c(in.dataDir + "/perm.db");
    c.attach(in.dataDir, "database");
    c.attach(in.dataDir, "userpref");
    c.exec("BEGIN");
    const QStringList booleans = benchkit::booleanColumns(catalogue::kPerm);
    Statement users(c, "SELECT Who FROM s_userpref.userpref ORDER BY Who");
    Statement databases(c, "SELECT DB FROM s_database.\"database\" ORDER BY DB");
    Statement find(c, "SELECT \"" + booleans.join("\",\"") + "\" FROM perm WHERE DB = ?1 AND WHO = ?2");
    qint64 blanks = 0, rows = 0;
    while (users.step()) {
        const QByteArray who = users.text(0);
        while (databases.step()) {
            find.bind(1, databases.text(0));
            find.bind(2, who);
            if (find.step()) {
                ++rows;
                for (int i = 0; i < find.columns(); ++i)
                    blanks += find.isNull(i);
            }
            find.reset();
        }
        databases.reset();
    }
    c.exec("COMMIT");
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (rows != qint64(in.users) * in.databases || blanks != 0)
        benchkit::fail(QString("floor: %1 rows, %2 blanks").arg(rows).arg(blanks));
    return seconds;
}

// The floor of opening with PERM.DB empty: every pair's row made with every
// logical field true and a record identifier, and journalled as added.
double floorOpenEmpty(const Installation& in)
{
    QElapsedTimer timer;
    timer.start();
    Connection c(in.dataDir + "/perm.db");
    c.attach(in.dataDir, "database");
    c.attach(in.dataDir, "userpref");
    c.attach(in.dataDir, "merge");
    c.exec("BEGIN");
    QStringList columns = benchkit::booleanColumns(catalogue::kPerm);
    QStringList values(columns.size(), "1");
    columns << "DB" << "WHO" << "syncwellno";
    values << "?1" << "?2" << "?3";
    Statement users(c, "SELECT Who FROM s_userpref.userpref ORDER BY Who");
    Statement databases(c, "SELECT DB FROM s_database.\"database\" ORDER BY DB");
    Statement find(c, "SELECT 1 FROM perm WHERE DB = ?1 AND WHO = ?2");
    Statement insert(c, "INSERT INTO perm (\"" + columns.join("\",\"") + "\") VALUES (" + values.join(',') + ")");
    Statement journal(c, "INSERT INTO s_merge.merge (recno, dateGMT, \"time\", who, \"database\", action,"
                         " fieldname, \"to\", DB) VALUES (?1, ?2, ?2, '', ?3, 2, '', '', ?4)");
    while (users.step()) {
        const QByteArray who = users.text(0);
        while (databases.step()) {
            const QByteArray db = databases.text(0);
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
            journal.bind(3, qint64(kPermCode));
            journal.bind(4, db);
            journal.run();
        }
        databases.reset();
    }
    c.exec("COMMIT");
    return timer.nsecsElapsed() / 1e9;
}

// Opening the database permissions dialog: with PERM.DB empty (every row
// made and journalled) and with every row present and complete; each run
// from an empty PERM.DB and the journal as it was.
void benchOpenPermDialog(const Installation& in, benchkit::Table& table, int repeat)
{
    const qint64 pairs = qint64(in.users) * in.databases;
    const qint64 journalMark = benchkit::lastJournalRow(in.dataDir);
    const qint64 journalRows = benchkit::count(in.dataDir, "merge");
    benchkit::Line& empty = table.add("open, PERM.DB empty (make + journal all)");
    benchkit::Line& complete = table.add("open, every row present and complete");
    // How much of the first figure is the journal's: the same opening with
    // the journal off (not a behaviour of the program, a measurement aid).
    benchkit::Line& noJournal = table.add("  the same with the journal off (share)");
    auto check = [](bool right, const char* what) {
        if (!right)
            benchkit::fail(what);
    };

    auto storeRun = [&] {
        clearPermRows(in, journalMark);
        empty.store.push_back(openPermDialog());
        check(benchkit::count(in.dataDir, "perm") == pairs &&
                  benchkit::count(in.dataDir, "merge") - journalRows == pairs,
              "store: row counts differ");
        complete.store.push_back(openPermDialog());
        check(benchkit::count(in.dataDir, "merge") - journalRows == pairs, "store: the second opening journalled rows");

        clearPermRows(in, journalMark);
        support::setJournalActive(false);
        noJournal.store.push_back(openPermDialog());
        support::setJournalActive(true);
    };
    auto floorRun = [&] {
        clearPermRows(in, journalMark);
        empty.floor.push_back(floorOpenEmpty(in));
        noJournal.floor.push_back(empty.floor.back());
        check(benchkit::count(in.dataDir, "perm") == pairs &&
                  benchkit::count(in.dataDir, "merge") - journalRows == pairs,
              "floor: row counts differ");
        complete.floor.push_back(floorOpenComplete(in));
    };
    benchkit::alternate(repeat, storeRun, floorRun); // the floor's last run leaves every row present
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
    benchkit::addRepeatOption(parser);
    parser.process(app);

    try {
        const int repeat = benchkit::repeatFrom(parser);
        const benchkit::MachineNote machine;
        QTemporaryDir temp;
        const QString root = parser.isSet("dir") ? parser.value("dir") : temp.path();
        const Installation in =
            benchkit::makeInstallation(root, parser.value("users").toInt(), parser.value("databases").toInt());
        support::setJournalActive(true);
        benchkit::Table table(QString("Permission windows, %1 users x %2 databases").arg(in.users).arg(in.databases));
        benchOpenPermDialog(in, table, repeat);
        sysbench::benchApplyToAll(in, table, repeat);
        table.print();
        sysbench::benchBrowser(in, repeat);
        machine.print();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 2;
    }
    return 0;
}
