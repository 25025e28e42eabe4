// Runs a batched command of Brisel on an installation in a process of its
// own, so that a test can kill it part-way.
//   run_cleanup <configPath> <netDir> [recover|cleanup|permissions]
// First moves journal rows a crash left behind (as start-up does); with
// "recover" it stops there. "cleanup" (the default) runs the exit clean-up,
// "permissions" the walk that opening the database permissions dialog makes
// (every missing permission row created and journalled). Prints "done" at
// the end.
#include "permissions/PermModel.h"
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
        std::printf("started\n");
        std::fflush(stdout);
        if (command == QLatin1String("permissions")) {
            permissions::installPermHooks(perm);
            database.open();
            userPref.open();
            perm.open();
            store::WriteBatch batch;
            permissions::initializeAllPairs(userPref, database, perm);
            batch.commit();
        } else {
            shell::cleanUp(database, userDb, userPref, perm);
        }
    } catch (const store::StoreError& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
    std::printf("done\n");
    return 0;
}
