#pragma once

// The system permissions dialog's copy to every user (ApplyToAll) beside its
// floor, and the permission browser: opening it and narrowing it to one user
// and to one database, each timed. Included by bench_permissions.cpp.

#include "BenchKit.h"

#include "permissions/Browse.h"
#include "permissions/permSys.h"
#include "store/DayCount.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Messages.h"
#include "ui/DbGrid.h"

#include <QComboBox>
#include <QCoreApplication>

namespace sysbench {

using benchkit::Connection;
using benchkit::Installation;
using benchkit::Statement;

const int kUserPrefCode = 12;

// The floor of the copy: the shown user's 49 flags read, then every user row
// written with them and journalled (action 6, key Who), in one transaction.
inline double floorApplyToAll(const Installation& in, const QByteArray& source)
{
    QElapsedTimer timer;
    timer.start();
    Connection c(in.dataDir + "/userpref.db");
    c.attach(in.dataDir, "merge");
    c.exec("BEGIN");
    const QStringList flags = catalogue::systemFlagNames();
    Statement read(c, "SELECT \"" + flags.join("\",\"") + "\" FROM userpref WHERE Who = ?1");
    read.bind(1, source);
    if (!read.step())
        benchkit::fail("floor: no source user");
    QList<qint64> values;
    for (int i = 0; i < flags.size(); ++i)
        values << (read.isNull(i) ? 0 : read.integer(i));
    QStringList sets;
    for (int i = 0; i < flags.size(); ++i)
        sets << QString("\"%1\" = ?%2").arg(flags[i]).arg(i + 1);
    Statement users(c, "SELECT rowid, Who FROM userpref ORDER BY Who");
    Statement update(c, "UPDATE userpref SET " + sets.join(',') + QString(" WHERE rowid = ?%1").arg(flags.size() + 1));
    Statement journal(c, "INSERT INTO s_merge.merge (recno, dateGMT, \"time\", who, \"database\", action,"
                         " fieldname, \"to\", DB) VALUES (?1, ?2, ?2, '', ?3, 6, '', '', '')");
    while (users.step()) {
        for (int i = 0; i < values.size(); ++i)
            update.bind(i + 1, values[i]);
        update.bind(flags.size() + 1, users.integer(0));
        update.run();
        const QByteArray stamp =
            store::dateTimeFromDays(support::gmtnow()).toString("yyyy-MM-dd HH:mm:ss.zzz").toLatin1();
        journal.bind(1, users.text(1));
        journal.bind(2, stamp);
        journal.bind(3, qint64(kUserPrefCode));
        journal.run();
    }
    c.exec("COMMIT");
    return timer.nsecsElapsed() / 1e9;
}

// Keeps the users' flags in a file of their own beside the tables and puts
// them back, with the journal, before every run of the copy.
class KeptFlags {
public:
    explicit KeptFlags(const Installation& in)
        : m_in(in), m_journalMark(benchkit::lastJournalRow(in.dataDir)), m_flags(catalogue::systemFlagNames())
    {
        Connection c(in.dataDir + "/userpref.db");
        attachKept(c);
        c.exec("DROP TABLE IF EXISTS kept.userpref");
        c.exec("CREATE TABLE kept.userpref AS SELECT rowid AS r, \"" + m_flags.join("\",\"") + "\" FROM userpref");
    }
    void putBack()
    {
        {
            Connection c(m_in.dataDir + "/userpref.db");
            attachKept(c);
            c.exec("UPDATE userpref SET (\"" + m_flags.join("\",\"") + "\") = (SELECT \"" + m_flags.join("\",\"") +
                   "\" FROM kept.userpref k WHERE k.r = userpref.rowid)");
            c.exec("PRAGMA main.wal_checkpoint(TRUNCATE)");
        }
        benchkit::cutJournal(m_in.dataDir, m_journalMark);
    }

private:
    void attachKept(Connection& c) { c.exec("ATTACH DATABASE '" + m_in.dataDir + "/../kept.db' AS kept"); }

    const Installation& m_in;
    qint64 m_journalMark;
    QStringList m_flags;
};

inline void benchApplyToAll(const Installation& in, benchkit::Table& table, int repeat)
{
    support::MessageScript script; // an error box would be recorded, not shown
    TfrmSysPerm dialog;
    dialog.userId = QString();
    dialog.show();
    const QString source = dialog.tblUserPref->fieldByName(catalogue::fWho).asString();
    KeptFlags kept(in);
    const qint64 journalRows = benchkit::count(in.dataDir, "merge");

    benchkit::Line& copy = table.add("ApplyToAll, system permissions to all users");
    // How much of it the journal takes: the same copy without it.
    benchkit::Line& unjournalled = table.add("  the same with the journal off (share)");
    auto storeRun = [&] {
        kept.putBack();
        copy.store.push_back(benchkit::timed([&] { dialog.ApplyToAll(source); }));
        if (benchkit::count(in.dataDir, "merge") - journalRows != in.users)
            benchkit::fail("store: journal rows differ");
        kept.putBack();
        support::setJournalActive(false);
        unjournalled.store.push_back(benchkit::timed([&] { dialog.ApplyToAll(source); }));
        support::setJournalActive(true);
    };
    auto floorRun = [&] {
        kept.putBack();
        copy.floor.push_back(floorApplyToAll(in, source.toUtf8()));
        unjournalled.floor.push_back(copy.floor.back());
    };
    benchkit::alternate(repeat, storeRun, floorRun);
    kept.putBack();
    dialog.reject();
    if (!script.shown().isEmpty())
        benchkit::fail("store: " + script.texts().join(" / "));
}

// The browser on every permission row: seconds to open it (until its first
// lines show), to narrow it to one user and then also to one database, and
// back to every user of that database. It has no floor: medians of repeat
// runs, each on a browser of its own, against the goal.
inline void benchBrowser(const Installation& in, int repeat)
{
    std::vector<double> open, oneUser, both, oneDb;
    int linesOpen = 0, linesUser = 0, linesBoth = 0, linesDb = 0;
    auto step = [](std::vector<double>& figures, const std::function<void()>& change) {
        figures.push_back(benchkit::timed([&] {
            change();
            QCoreApplication::processEvents();
        }));
    };
    for (int run = 0; run < repeat; ++run) {
        support::MessageScript script;
        TfrmBrowse browser;
        step(open, [&] { browser.show(); });
        linesOpen = browser.grid->model()->rowCount();
        step(oneUser, [&] { browser.cbUsers->setCurrentIndex(browser.cbUsers->count() / 2); });
        linesUser = browser.grid->model()->rowCount();
        step(both, [&] { browser.cbDB->setCurrentIndex(browser.cbDB->count() / 2); });
        linesBoth = browser.grid->model()->rowCount();
        step(oneDb, [&] { browser.cbUsers->setCurrentIndex(0); });
        linesDb = browser.grid->model()->rowCount();
        browser.reject();
        if (!script.shown().isEmpty())
            benchkit::fail("browser: " + script.texts().join(" / "));
    }

    std::printf("\nPermission browser, %lld rows (medians of %d runs; goal: each under 0.3 s)\n",
                qint64(in.users) * in.databases, repeat);
    std::printf("%-46s %14s %12s\n", "", "seconds", "lines read");
    std::printf("%-46s %14.3f %12d\n", "open, every row", benchkit::median(open), linesOpen);
    std::printf("%-46s %14.3f %12d\n", "narrow to one user", benchkit::median(oneUser), linesUser);
    std::printf("%-46s %14.3f %12d\n", "narrow to one user and one database", benchkit::median(both), linesBoth);
    std::printf("%-46s %14.3f %12d\n", "narrow to one database (every user)", benchkit::median(oneDb), linesDb);
    std::fflush(stdout);
    if (linesUser != in.databases || linesBoth != 1 || linesDb < qMin(in.users, 256))
        benchkit::fail("browser: line counts differ");
}

} // namespace sysbench
