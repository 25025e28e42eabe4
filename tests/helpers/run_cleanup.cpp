// Runs a batched command of Brisel on an installation in a process of its
// own, so that a test can kill it part-way.
//   run_cleanup <configPath> <netDir> [recover|cleanup|permissions|single-permissions|single-users [<rows>]]
// First moves journal rows a crash left behind (as start-up does); with
// "recover" it stops there. "cleanup" (the default) runs the exit clean-up,
// "permissions" the walk that opening the database permissions dialog makes
// (every missing permission row created and journalled), "single-permissions"
// the same row by row without a batch for the first ten users, and
// "single-users" a user dialog's save of every user in turn. Prints "started"
// before the command and "done" at the end.
//
// With rows, a command that fills PERM.DB stops in the middle of it (the
// test has emptied it): once another connection sees at least that many new
// rows committed and a further one waits uncommitted, it prints "stopped"
// and waits until its standard input closes. Until rows are committed it
// holds still with events running, as an idle window would, so the batch
// commits them however fast the machine.
#include "permissions/PermModel.h"
#include "shell/CleanDb.h"
#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/Outbox.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "testkit/Tables.h"

#include "testkit/OtherProgram.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

// Wraps perm's OnNewRecord so that the command stops part-way (see above).
// A new row begins there, before its journal row is written: the rows
// before it are whole pairs of a change and its journal row, which the
// batch may commit while this holds still.
void stopAfterCommittedRows(store::Table& perm, int rows)
{
    auto count = std::make_shared<testkit::RawDb>(
        QDir(store::Session::instance().aliasPath(catalogue::kAlias)).filePath(QStringLiteral("perm.db")));
    auto committed = [count] { return count->text(QStringLiteral("SELECT count(*) FROM perm")).toInt(); };
    auto begun = std::make_shared<int>(0);
    auto stopped = std::make_shared<bool>(false);
    perm.onNewRecord = [=, inner = perm.onNewRecord](store::Table& t) {
        if (!*stopped && *begun >= rows) {
            while (committed() < rows) {
                QCoreApplication::processEvents();
                QThread::msleep(5);
            }
            if (*begun > committed()) {
                *stopped = true;
                std::printf("stopped\n");
                std::fflush(stdout);
                while (std::fgetc(stdin) != EOF) {
                }
            }
        }
        ++*begun;
        if (inner)
            inner(t);
    };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    testkit::useStore(args.at(1), args.at(2));
    store::setBatchErrorHandler([](const QString& message) { std::printf("error: %s\n", qPrintable(message)); });
    try {
        store::moveLeftoverOutboxes(catalogue::kAlias);
        const QString command = args.size() > 3 ? args.at(3) : QStringLiteral("cleanup");
        if (command == QLatin1String("recover")) {
            std::printf("done\n");
            return 0;
        }
        support::setJournalActive(support::journalFileExists());
        store::Table database(catalogue::kAlias, catalogue::kDatabase);
        store::Table userDb(catalogue::kAlias, catalogue::kUserDb);
        store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
        store::Table perm(catalogue::kAlias, catalogue::kPerm);
        // Brisel's main window journals new permission rows as they are posted.
        perm.beforePost = [](store::Table& t) {
            if (t.state() == store::TableState::Insert)
                support::journalrecord(t, support::ActionAdded);
        };
        const int stopAfter = args.size() > 4 ? args.at(4).toInt() : 0;
        std::printf("started\n");
        std::fflush(stdout);
        if (command == QLatin1String("permissions") || command == QLatin1String("single-permissions")) {
            // Batched as the database permissions dialog opens, or row by
            // row as it fills in one missing row.
            permissions::installPermHooks(perm);
            if (stopAfter > 0)
                stopAfterCommittedRows(perm, stopAfter);
            database.open();
            userPref.open();
            perm.open();
            if (command == QLatin1String("permissions")) {
                store::WriteBatch batch;
                permissions::initializeAllPairs(userPref, database, perm);
                batch.commit();
            } else {
                // The first ten users: enough single changes to kill in.
                int users = 0;
                for (userPref.first(); !userPref.eof() && users < 10; userPref.next(), ++users)
                    permissions::initializePermSetting(database, perm, userPref.fieldByName(catalogue::fWho).asString());
            }
        } else if (command == QLatin1String("single-users")) {
            // Each user's full name changed and journalled as the user dialog
            // saves a modified user: one change, two journal rows.
            userPref.open();
            for (userPref.first(); !userPref.eof(); userPref.next()) {
                if (userPref.fieldByName(catalogue::fFullName).asString().startsWith(QLatin1String("Edited ")))
                    continue; // saved before a crash
                userPref.edit();
                userPref.fieldByName(catalogue::fFullName).setAsString(QStringLiteral("Edited ") + userPref.fieldByName(catalogue::fWho).asString());
                store::ChangeUnit unit(userPref);
                userPref.post();
                support::journalfield(userPref, QStringLiteral("Fullname"), support::ActionField);
                support::journalfield(userPref, QStringLiteral("Password"), support::ActionField);
                unit.commit();
            }
        } else {
            if (stopAfter > 0)
                stopAfterCommittedRows(perm, stopAfter);
            shell::cleanUp(database, userDb, userPref, perm);
        }
    } catch (const store::StoreError& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
    std::printf("done\n");
    return 0;
}
