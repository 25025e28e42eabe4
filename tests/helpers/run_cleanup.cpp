// Runs a batched command of Brisel on an installation in a process of its
// own, so that a test can kill it part-way.
//   run_cleanup <configPath> <netDir> [recover|cleanup|permissions]
// First moves journal rows a crash left behind (as start-up does); with
// "recover" it stops there. "cleanup" (the default) runs the exit clean-up,
// "permissions" the walk that opening the database permissions dialog makes
// (every missing permission row created and journalled), "single-permissions"
// the same row by row without a batch for the first ten users, and "single-users" a user dialog's
// save of every user in turn. Prints "done" at the end.
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
        if (command == QLatin1String("permissions") || command == QLatin1String("single-permissions")) {
            // Batched as the database permissions dialog opens, or row by
            // row as it fills in one missing row.
            permissions::installPermHooks(perm);
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
            shell::cleanUp(database, userDb, userPref, perm);
        }
    } catch (const store::StoreError& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
    std::printf("done\n");
    return 0;
}
