// A second program whose write batch cannot commit: the file size limit is
// set so that writing the transaction's pages fails, as on a full disk.
//   batch_disk_full <configPath> <netDir> <rows> [unwind]
// Posts <rows> holiday rows inside one WriteBatch and lets the batch end by
// its destructor (with "unwind", while an exception passes through it).
// Prints "reported: <message>" for each failure the batch error handler gets,
// then "posted <n>".
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "testkit/Tables.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    testkit::useStore(args.at(1), args.at(2), false);
    store::setBatchErrorHandler([](const QString& message) {
        std::printf("reported: %s\n", qPrintable(message));
        std::fflush(stdout);
    });

    store::Table holiday(catalogue::kAlias, QStringLiteral("holiday.DB"));
    holiday.open();
    // From here on no file may grow: the batch's pages cannot be written.
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {0, 0};
    setrlimit(RLIMIT_FSIZE, &limit);

    const int rows = args.at(3).toInt();
    int posted = 0;
    try {
        store::WriteBatch batch;
        for (int i = 0; i < rows; ++i) {
            holiday.insert();
            holiday.fieldByName(QStringLiteral("Who")).setAsString(QStringLiteral("DSK"));
            holiday.fieldByName(QStringLiteral("syncwellno")).setAsString(QStringLiteral("DISKFULL%1").arg(i, 16, 10, QLatin1Char('0')));
            holiday.post();
            ++posted;
        }
        if (args.size() > 4 && args.at(4) == QLatin1String("unwind"))
            throw std::runtime_error("leaving the batch by an exception");
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
    }
    std::printf("posted %d\n", posted);
    return 0;
}
