// brisel-demo: makes a demo installation for Brisel to run against.

#include "store/StoreError.h"
#include "store/Session.h"
#include "tools/demo/Installer.h"
#include "tools/demo/Layout.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include "tools/Console.h"

#include <QTextStream>

namespace {

using tools::err;
using tools::out;

// Reads a size option; false (with a message) when it is not a whole number
// in range.
bool readSize(const QCommandLineParser& parser, const QString& name, int minimum, int& value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int number = parser.value(name).toInt(&ok);
    if (!ok || number < minimum) {
        err() << "brisel-demo: --" << name << " needs a whole number of at least " << minimum << ", not \""
              << parser.value(name) << "\"\n";
        return false;
    }
    value = number;
    return true;
}

bool onServer(const demo::Options& options)
{
    return options.engine == demo::Engine::PostgreSQL;
}

// --engine, --connection and --schema; false (with a message) when they do
// not go together.
bool readEngine(const QCommandLineParser& parser, demo::Options& options)
{
    const QString engine = parser.value(QStringLiteral("engine")).toLower();
    if (engine == QLatin1String("postgresql")) {
        options.engine = demo::Engine::PostgreSQL;
        options.connection = parser.value(QStringLiteral("connection"));
        options.schema = parser.value(QStringLiteral("schema"));
        if (options.connection.trimmed().isEmpty()) {
            err() << "brisel-demo: --engine postgresql needs --connection\n";
            return false;
        }
        return true;
    }
    if (!engine.isEmpty() && engine != QLatin1String("sqlite")) {
        err() << "brisel-demo: --engine is sqlite or postgresql, not \"" << parser.value(QStringLiteral("engine")) << "\"\n";
        return false;
    }
    if (parser.isSet(QStringLiteral("connection")) || parser.isSet(QStringLiteral("schema"))) {
        err() << "brisel-demo: --connection and --schema go with --engine postgresql\n";
        return false;
    }
    return true;
}

// An installation is there already: table files in the folder, or tables in
// the schema on the server.
bool installed(const demo::Options& options, const QString& root)
{
    return onServer(options) ? demo::serverInstallationExists(options.connection, options.schema)
                             : demo::installationExists(root);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brisel-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes a demo installation for Brisel: the data tables with sample rows, the change journal\n"
        "and a network control folder under the installation folder, and NETDIR.INI and\n"
        "brisel-store.ini beside this program, pointing at it. With --engine postgresql the tables\n"
        "are made in a schema of a database on a server instead."));
    parser.addHelpOption();
    const QString defaultRoot = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("demo"));
    parser.addOptions({
        {QStringLiteral("root"), QStringLiteral("The installation folder (default: %1).").arg(defaultRoot),
         QStringLiteral("DIR")},
        {QStringLiteral("users"), QStringLiteral("Number of users (default 8)."), QStringLiteral("N")},
        {QStringLiteral("databases"), QStringLiteral("Number of contact databases (default 3)."), QStringLiteral("N")},
        {QStringLiteral("contacts"), QStringLiteral("Number of contacts (default 300)."), QStringLiteral("N")},
        {QStringLiteral("events"), QStringLiteral("Number of events (default 600)."), QStringLiteral("N")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the sample data (default 1)."), QStringLiteral("N")},
        {QStringLiteral("replace"), QStringLiteral("Replace an existing installation in the folder.")},
        {QStringLiteral("if-missing"), QStringLiteral("Do nothing, successfully, when the folder holds an installation.")},
        {QStringLiteral("engine"),
         QStringLiteral("Where the tables live: sqlite (table files in the data folder, the default) or postgresql\n"
                        "(a schema of a database on a server; the data folder keeps the backups)."),
         QStringLiteral("ENGINE")},
        {QStringLiteral("connection"),
         QStringLiteral("With --engine postgresql: the database, as a libpq connection string."), QStringLiteral("CONNINFO")},
        {QStringLiteral("schema"), QStringLiteral("With --engine postgresql: the schema (default norda)."),
         QStringLiteral("NAME")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        err() << "brisel-demo: unexpected argument \"" << parser.positionalArguments().first() << "\"\n";
        return 2;
    }
    if (parser.isSet(QStringLiteral("replace")) && parser.isSet(QStringLiteral("if-missing"))) {
        err() << "brisel-demo: --replace and --if-missing cannot be used together\n";
        return 2;
    }

    demo::Options options;
    options.root = parser.isSet(QStringLiteral("root")) ? parser.value(QStringLiteral("root")) : defaultRoot;
    options.programDir = QCoreApplication::applicationDirPath();
    options.replace = parser.isSet(QStringLiteral("replace"));
    if (!readEngine(parser, options))
        return 2;
    int seed = int(options.seed);
    if (!readSize(parser, QStringLiteral("users"), 1, options.users) ||
        !readSize(parser, QStringLiteral("databases"), 0, options.databases) ||
        !readSize(parser, QStringLiteral("contacts"), 0, options.contacts) ||
        !readSize(parser, QStringLiteral("events"), 0, options.events) ||
        !readSize(parser, QStringLiteral("seed"), 0, seed))
        return 2;
    options.seed = quint32(seed);

    const QString root = QDir::cleanPath(QDir(options.root).absolutePath());
    const QString place = onServer(options) ? QStringLiteral("the schema ") + demo::schemaName(options.schema)
                                            : QDir::toNativeSeparators(root);
    try {
        // An installation moved to a server keeps its configuration beside
        // the program: it counts, so that ./dev run starts Brisel on it.
        const QString config = QDir(options.programDir).filePath(QStringLiteral("brisel-store.ini"));
        if (parser.isSet(QStringLiteral("if-missing")) && !parser.isSet(QStringLiteral("engine"))
            && store::readIniValue(config, QStringLiteral("NORDA"), QStringLiteral("ENGINE"), QString())
                       .compare(QLatin1String("postgresql"), Qt::CaseInsensitive) == 0) {
            out() << "The store configuration " << QDir::toNativeSeparators(config)
                  << " points at a database server; nothing to do.\n";
            return 0;
        }
        if (installed(options, root)) {
            if (parser.isSet(QStringLiteral("if-missing"))) {
                out() << "An installation exists in " << place << "; nothing to do.\n";
                return 0;
            }
            if (!options.replace) {
                err() << "brisel-demo: there is an installation in " << place
                      << " already; use --replace to replace it.\n";
                return 1;
            }
        }
    } catch (const store::StoreError& e) {
        err() << "brisel-demo: " << e.message() << "\n";
        return 1;
    }

    QElapsedTimer timer;
    timer.start();
    try {
        const demo::Result result = demo::install(options);
        out() << "Made a demo installation in " << QDir::toNativeSeparators(root) << " ("
              << timer.elapsed() << " ms):\n"
              << "  tables and journal  "
              << (onServer(options) ? QStringLiteral("schema %1 on the server").arg(result.schema)
                                    : QDir::toNativeSeparators(result.dataDir))
              << "\n"
              << "  network control     " << QDir::toNativeSeparators(result.netDir) << "\n"
              << "  " << options.users << " users (supervisor ADM), " << options.databases << " databases, "
              << options.contacts << " contacts, " << options.events << " events\n"
              << "  wrote " << QDir::toNativeSeparators(QDir(options.programDir).filePath(QStringLiteral("NETDIR.INI")))
              << "\n  wrote " << QDir::toNativeSeparators(result.configPath) << "\n";
        if (!qEnvironmentVariableIsEmpty("BRISEL_STORE_CONFIG"))
            out() << "Note: BRISEL_STORE_CONFIG is set, so programs read "
                  << qEnvironmentVariable("BRISEL_STORE_CONFIG") << " instead.\n";
    } catch (const store::StoreError& e) {
        err() << "brisel-demo: " << e.message() << "\n";
        return 1;
    }
    return 0;
}
