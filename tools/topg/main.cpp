// brisel-topg: moves a SQLite installation onto a PostgreSQL server.

#include "store/Catalogue.h"
#include "store/StoreError.h"
#include "tools/topg/AliasConfig.h"
#include "tools/topg/Copy.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include "tools/Console.h"

#include <QTextStream>

namespace {

using tools::err;
using tools::out;

void printReport(const topg::Report& report, const topg::Options& options)
{
    int width = 5;
    for (const topg::TableReport& t : report.tables)
        width = qMax(width, int(t.table.size()));
    out() << QStringLiteral("%1  %2  %3\n").arg(QStringLiteral("table"), -width).arg(QStringLiteral("rows"), 9)
                 .arg(QStringLiteral("SHA-256 of the rows"));
    for (const topg::TableReport& t : report.tables)
        out() << QStringLiteral("%1  %2  %3%4\n")
                     .arg(t.table, -width)
                     .arg(t.rows, 9)
                     .arg(t.checksum, t.passwordProtected ? QStringLiteral("  (password kept)") : QString());
    for (const QString& note : report.notes)
        out() << "Note: " << note << "\n";
    out() << "Copied " << report.tables.size() << " tables with " << report.totalRows() << " rows from "
          << QDir::toNativeSeparators(options.dataDir) << " into the schema " << options.schema
          << "; every table's row count and checksum agree on the server.\n";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brisel-topg"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Copies a Brisel installation's tables from its data folder (SQLite table files) into a schema of a\n"
        "PostgreSQL database: every table row for row, with its row identities and its password, in one\n"
        "transaction, then checks each table's row count and checksum on the server. On any failure the\n"
        "server keeps nothing of the copy. The table files are only read."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("from"), QStringLiteral("The installation's data folder (the *.db table files)."), QStringLiteral("DIR")},
        {QStringLiteral("connection"),
         QStringLiteral("The database to copy to, as a libpq connection string, e.g. \"host=/tmp/pg dbname=kontiva\"."),
         QStringLiteral("CONNINFO")},
        {QStringLiteral("schema"), QStringLiteral("The schema to copy into (default norda)."), QStringLiteral("NAME")},
        {QStringLiteral("replace"), QStringLiteral("Replace tables of the schema that hold rows already.")},
        {QStringLiteral("config"),
         QStringLiteral("After copying, point the alias of this store configuration (brisel-store.ini) at the server."),
         QStringLiteral("FILE")},
        {QStringLiteral("alias"), QStringLiteral("The alias to point at the server (default %1).").arg(catalogue::kAlias),
         QStringLiteral("NAME")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        err() << "brisel-topg: unexpected argument \"" << parser.positionalArguments().first() << "\"\n";
        return 2;
    }
    for (const char* required : {"from", "connection"}) {
        if (!parser.isSet(QLatin1String(required))) {
            err() << "brisel-topg: --" << required << " is needed (see --help)\n";
            return 2;
        }
    }
    if (parser.isSet(QStringLiteral("alias")) && !parser.isSet(QStringLiteral("config"))) {
        err() << "brisel-topg: --alias goes with --config\n";
        return 2;
    }

    topg::Options options;
    options.dataDir = QDir::cleanPath(QDir(parser.value(QStringLiteral("from"))).absolutePath());
    options.connection = parser.value(QStringLiteral("connection"));
    if (parser.isSet(QStringLiteral("schema")))
        options.schema = parser.value(QStringLiteral("schema"));
    options.replace = parser.isSet(QStringLiteral("replace"));

    topg::Report report;
    try {
        report = topg::copyInstallation(options);
    } catch (const topg::SchemaInUse& e) {
        err() << "brisel-topg: " << e.message() << " Nothing was copied; use --replace to replace those tables.\n";
        return 1;
    } catch (const store::StoreError& e) {
        err() << "brisel-topg: " << e.message() << "\nNothing was copied; the server is as it was.\n";
        return 1;
    }
    printReport(report, options);

    if (parser.isSet(QStringLiteral("config"))) {
        const QString config = parser.value(QStringLiteral("config"));
        const QString alias = parser.isSet(QStringLiteral("alias")) ? parser.value(QStringLiteral("alias")) : catalogue::kAlias;
        try {
            topg::pointAliasAtServer(config, alias, options.connection, options.schema, options.dataDir);
        } catch (const store::StoreError& e) {
            err() << "brisel-topg: " << e.message() << "\n"
                  << "The tables are on the server, but " << QDir::toNativeSeparators(config)
                  << " still points the alias elsewhere.\n";
            return 1;
        }
        out() << "The alias " << alias << " in " << QDir::toNativeSeparators(config) << " now uses the server.\n";
    }
    return 0;
}
