// Runs the global replace headless on an installation, as a second program
// that a test can kill part-way.
//   run_replace <configPath> <netDir> <source> <target> <tables> [<stop table>]
// tables: letters for the boxes: c contacts, n not-done events, d done
// events, m marketing (steps, actions), h holidays; e.g. "cndmh".
// Processes events after every row, as the replace window does, so the batch
// timer commits while it walks. Prints "finished" at the end; a store error
// is printed as "failed: <message>" with exit code 1.
//
// With a stop table (SQLite only), the walk stops in the middle of that
// table: once a commit has carried replaced rows of it and the next open
// transaction holds another one, it prints "committed <table>" and waits
// until its standard input closes. A kill then lands with rows both
// committed and uncommitted, however fast the machine.
#include "accounts/ReplaceWalk.h"
#include "store/Catalogue.h"
#include "store/Outbox.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "support/Changes.h"
#include "testkit/Tables.h"

#include <QCoreApplication>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>

namespace {

// What the store's SQLite connections in this process did to the stop
// table, seen through SQLite's hooks on every connection it opens.
struct CommitWatch {
    QByteArray table;
    sqlite3* pending = nullptr; // the connection whose open transaction changed the table
    bool committed = false;     // a transaction that changed the table has committed
};

CommitWatch& watch()
{
    static CommitWatch w;
    return w;
}

void onUpdate(void* db, int op, const char*, const char* table, sqlite3_int64)
{
    if (op == SQLITE_UPDATE && watch().table == table)
        watch().pending = static_cast<sqlite3*>(db);
}

// Called as the commit begins; the store call that makes it returns only
// once it is done (or raises its error), so afterRow sees it complete.
int onCommit(void* db)
{
    if (watch().pending == db) {
        watch().pending = nullptr;
        watch().committed = true;
    }
    return 0;
}

void onRollback(void* db)
{
    if (watch().pending == db)
        watch().pending = nullptr;
}

int watchConnection(sqlite3* db, const char**, const sqlite3_api_routines*)
{
    sqlite3_update_hook(db, onUpdate, db);
    sqlite3_commit_hook(db, onCommit, db);
    sqlite3_rollback_hook(db, onRollback, db);
    return SQLITE_OK;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6) {
        std::fprintf(stderr, "usage: run_replace <configPath> <netDir> <source> <target> <tables> [<stop table>]\n");
        return 2;
    }
    const bool stops = args.size() > 6;
    if (stops) {
        watch().table = args.at(6).toUtf8();
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(watchConnection));
    }
    testkit::useStore(args.at(1), args.at(2));
    support::setJournalActive(support::journalFileExists());
    // As the program does at start: journal rows a crash left behind first.
    try {
        store::moveLeftoverOutboxes(catalogue::kAlias);
    } catch (const store::StoreError& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }

    const QString tables = args.at(5);
    accounts::ReplaceChoice choice;
    choice.contacts = tables.contains(QLatin1Char('c'));
    choice.eventsNotDone = tables.contains(QLatin1Char('n'));
    choice.eventsDone = tables.contains(QLatin1Char('d'));
    choice.marketing = tables.contains(QLatin1Char('m'));
    choice.holiday = tables.contains(QLatin1Char('h'));

    bool stopped = false;
    accounts::ReplaceHooks hooks;
    hooks.afterRow = [&] {
        QCoreApplication::processEvents();
        if (!stops || stopped || !watch().pending)
            return true;
        // The first replaced row: hold still, as an idle window would, until
        // the batch timer commits it. The next one then stops the walk.
        if (!watch().committed) {
            while (watch().pending) {
                QThread::msleep(5);
                QCoreApplication::processEvents();
            }
            return true;
        }
        stopped = true;
        std::printf("committed %s\n", watch().table.constData());
        std::fflush(stdout);
        while (std::fgetc(stdin) != EOF) {
        }
        return true;
    };
    try {
        accounts::replaceAll(args.at(3), args.at(4), choice, hooks);
    } catch (const store::StoreError& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }
    std::printf("finished\n");
    return 0;
}
