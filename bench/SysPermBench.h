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

inline void benchApplyToAll(const Installation& in)
{
    support::MessageScript script; // an error box would be recorded, not shown
    TfrmSysPerm dialog;
    dialog.userId = QString();
    dialog.show();
    const QByteArray source = dialog.tblUserPref->fieldByName(catalogue::fWho).asString().toUtf8();
    const double floor = floorApplyToAll(in, source);

    qint64 journal = benchkit::count(in.dataDir, "merge");
    QElapsedTimer timer;
    timer.start();
    dialog.ApplyToAll(QString::fromUtf8(source));
    const double store = timer.nsecsElapsed() / 1e9;
    const qint64 journalled = benchkit::count(in.dataDir, "merge") - journal;
    // How much of it the journal takes: the same copy without it.
    support::setJournalActive(false);
    timer.restart();
    dialog.ApplyToAll(QString::fromUtf8(source));
    const double unjournalled = timer.nsecsElapsed() / 1e9;
    support::setJournalActive(true);
    dialog.reject();
    if (!script.shown().isEmpty())
        benchkit::fail("store: " + script.texts().join(" / "));

    std::printf("\nSystem permissions, copy to all %d users: store journalled %lld rows\n", in.users, journalled);
    benchkit::printHeading();
    benchkit::printRatio("ApplyToAll", store, floor);
    benchkit::printRatio("  the same with the journal off (share)", unjournalled, floor);
    if (journalled != in.users)
        benchkit::fail("store: journal rows differ");
}

// The browser on every permission row: seconds to open it (until its first
// lines show), to narrow it to one user and then also to one database, and
// back to every user of that database.
inline void benchBrowser(const Installation& in)
{
    support::MessageScript script;
    TfrmBrowse browser;
    QElapsedTimer timer;
    timer.start();
    browser.show();
    QCoreApplication::processEvents();
    const double open = timer.nsecsElapsed() / 1e9;
    const int linesOpen = browser.grid->model()->rowCount();

    const int user = browser.cbUsers->count() / 2;
    timer.restart();
    browser.cbUsers->setCurrentIndex(user);
    QCoreApplication::processEvents();
    const double oneUser = timer.nsecsElapsed() / 1e9;
    const int linesUser = browser.grid->model()->rowCount();

    timer.restart();
    browser.cbDB->setCurrentIndex(browser.cbDB->count() / 2);
    QCoreApplication::processEvents();
    const double both = timer.nsecsElapsed() / 1e9;
    const int linesBoth = browser.grid->model()->rowCount();

    timer.restart();
    browser.cbUsers->setCurrentIndex(0);
    QCoreApplication::processEvents();
    const double oneDb = timer.nsecsElapsed() / 1e9;
    const int linesDb = browser.grid->model()->rowCount();
    browser.reject();
    if (!script.shown().isEmpty())
        benchkit::fail("browser: " + script.texts().join(" / "));

    std::printf("\nPermission browser, %lld rows (goal: each under 0.3 s)\n", qint64(in.users) * in.databases);
    std::printf("%-44s %10s %12s\n", "", "seconds", "lines read");
    std::printf("%-44s %10.3f %12d\n", "open, every row", open, linesOpen);
    std::printf("%-44s %10.3f %12d\n", "narrow to one user", oneUser, linesUser);
    std::printf("%-44s %10.3f %12d\n", "narrow to one user and one database", both, linesBoth);
    std::printf("%-44s %10.3f %12d\n", "narrow to one database (every user)", oneDb, linesDb);
    std::fflush(stdout);
    if (linesUser != in.databases || linesBoth != 1 || linesDb < qMin(in.users, 256))
        benchkit::fail("browser: line counts differ");
}

} // namespace sysbench
