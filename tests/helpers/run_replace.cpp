// Runs the global replace headless on an installation, as a second program
// that a test can kill part-way.
//   run_replace <configPath> <netDir> <source> <target> <tables>
// tables: letters for the boxes: c contacts, n not-done events, d done
// events, m marketing (steps, actions), h holidays; e.g. "cndmh".
// Prints "progress <n>" every 1000 rows read and "finished" at the end; a
// store error is printed as "failed: <message>" with exit code 1.
#include "accounts/ReplaceWalk.h"
#include "store/Catalogue.h"
#include "store/Outbox.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "support/Changes.h"
#include "testkit/Tables.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6) {
        std::fprintf(stderr, "usage: run_replace <configPath> <netDir> <source> <target> <tables>\n");
        return 2;
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

    qint64 rows = 0;
    accounts::ReplaceHooks hooks;
    hooks.afterRow = [&rows] {
        if (++rows % 1000 == 0) {
            std::printf("progress %lld\n", static_cast<long long>(rows));
            std::fflush(stdout);
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
