// The permission windows on a large installation (1,000 users x 100
// databases by default), each beside its floor: the same reads, writes and
// journal rows through the SQLite C API alone in one transaction.
//
//   bench_permissions [--users N] [--databases N] [--dir DIR]
//
// Each measurement is a function of its own; main() runs them in turn.

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

void clearPermRows(const Installation& in)
{
    Connection c(in.dataDir + "/perm.db");
    c.exec("DELETE FROM perm");
    c.exec("PRAGMA wal_checkpoint(TRUNCATE)");
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
// made and journalled) and with every row present and complete.
void benchOpenPermDialog(const Installation& in)
{
    const qint64 pairs = qint64(in.users) * in.databases;

    clearPermRows(in);
    qint64 journal = benchkit::count(in.dataDir, "merge");
    const double floorEmpty = floorOpenEmpty(in);
    if (benchkit::count(in.dataDir, "perm") != pairs || benchkit::count(in.dataDir, "merge") - journal != pairs)
        benchkit::fail("floor: row counts differ");

    clearPermRows(in);
    journal = benchkit::count(in.dataDir, "merge");
    const double storeEmpty = openPermDialog();
    const qint64 made = benchkit::count(in.dataDir, "perm");
    const qint64 journalled = benchkit::count(in.dataDir, "merge") - journal;

    const double floorComplete = floorOpenComplete(in);
    journal = benchkit::count(in.dataDir, "merge");
    const double storeComplete = openPermDialog();
    const qint64 journalledAgain = benchkit::count(in.dataDir, "merge") - journal;

    std::printf("\nDatabase permissions dialog, %lld pairs: store made %lld rows and %lld journal rows;"
                " the second opening %lld journal rows\n",
                pairs, made, journalled, journalledAgain);
    benchkit::printHeading();
    benchkit::printRatio("open, PERM.DB empty (make + journal all)", storeEmpty, floorEmpty);
    benchkit::printRatio("open, every row present and complete", storeComplete, floorComplete);
    if (made != pairs || journalled != pairs || journalledAgain != 0)
        benchkit::fail("store: row counts differ");

    // How much of the first figure is the journal's: the same opening with
    // the journal off (not a behaviour of the program, a measurement aid).
    clearPermRows(in);
    support::setJournalActive(false);
    const double storeNoJournal = openPermDialog();
    support::setJournalActive(true);
    benchkit::printRatio("  the same with the journal off (share)", storeNoJournal, floorEmpty);
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
        const Installation in =
            benchkit::makeInstallation(root, parser.value("users").toInt(), parser.value("databases").toInt());
        support::setJournalActive(true);
        benchOpenPermDialog(in);
        sysbench::benchApplyToAll(in);
        sysbench::benchBrowser(in);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 2;
    }
    return 0;
}
