// Runs the exit clean-up of an installation in a process of its own, as
// Brisel does when it closes, so that a test can kill it part-way.
//   run_cleanup <configPath> <netDir> [recover]
// First moves journal rows a crash left behind (as start-up does); with
// "recover" it stops there. Prints "done" at the end.
#include "shell/CleanDb.h"
#include "store/Catalogue.h"
#include "store/Outbox.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "testkit/Tables.h"

#include <QCoreApplication>

#include <cstdio>

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
        if (args.size() > 3 && args.at(3) == QLatin1String("recover")) {
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
        std::printf("started\n");
        std::fflush(stdout);
        shell::cleanUp(database, userDb, userPref, perm);
    } catch (const store::StoreError& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
    std::printf("done\n");
    return 0;
}
