// A second program for locking tests.
//   hold_table <configPath> <netDir> <TABLE> [shared|exclusive|try|tryexclusive|moving]
// shared/exclusive: opens the table, prints "ready" (or "failed: <message>"
// and exits 1), then holds it until a line or end of input arrives on stdin.
// try/tryexclusive: opens, prints "opened" or "failed: <message>", and exits.
// moving: opens the table file and holds it as a move of its journal rows to
// merge.db does, until a line or end of input arrives.
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "store/TablePrivate.h"
#include "store/sqlite/SqliteConnection.h"
#include "testkit/Tables.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: hold_table <configPath> <netDir> <TABLE> [shared|exclusive|try|tryexclusive|moving]\n");
        return 2;
    }
    const QString mode = args.size() > 4 ? args.at(4) : QStringLiteral("shared");
    testkit::useStore(args.at(1), args.at(2));

    store::Table table(catalogue::kAlias, args.at(3));
    table.setExclusive(mode.contains(QLatin1String("exclusive")));
    try {
        table.open();
    } catch (const store::StoreError& e) {
        std::printf("failed: %s\n", e.what());
        std::fflush(stdout);
        return 1;
    }
    if (mode.startsWith(QLatin1String("try"))) {
        std::printf("opened\n");
        return 0;
    }
    std::optional<store::SqliteConnection::MoverLock> moving;
    if (mode == QLatin1String("moving"))
        moving.emplace(static_cast<store::SqliteConnection&>(*store::TableAccess::of(table).conn), 0);
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    moving.reset();
    table.close();
    return 0;
}
