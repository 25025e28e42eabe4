#include "testkit/TestInstall.h"

#include "testkit/Tables.h"

#include "store/Session.h"
#include "store/pg/PgSchema.h"
#include "store/StoreError.h"
#include "store/pg/PgLink.h"
#include "support/Changes.h"
#include "tools/demo/Layout.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtGlobal>

namespace {

// A schema name no other installation uses, of this or another test process.
QString uniqueSchema()
{
    static QAtomicInt counter;
    return QStringLiteral("brisel_test_%1_%2_%3")
        .arg(QCoreApplication::applicationPid())
        .arg(counter.fetchAndAddRelaxed(1))
        .arg(QRandomGenerator::system()->generate() & 0xffffff, 6, 16, QLatin1Char('0'));
}

} // namespace

TestInstall::TestInstall(demo::Options options)
{
    if (!m_dir.isValid()) {
        qWarning("TestInstall: no temporary folder: %s", qPrintable(m_dir.errorString()));
        return;
    }
    if (onServer() && options.engine == demo::Engine::SQLite && options.connection.isEmpty()) {
        if (serverConnection().isEmpty()) {
            qWarning("TestInstall: BRISEL_TEST_ENGINE=postgresql, but BRISEL_TEST_PG names no server "
                     "(a libpq connection string of a database where tests may make schemas).");
            return;
        }
        options.engine = demo::Engine::PostgreSQL;
        options.connection = serverConnection();
        options.schema = m_ownSchema = uniqueSchema();
    }
    if (options.root.isEmpty())
        options.root = m_dir.path();
    if (options.programDir.isEmpty())
        options.programDir = m_dir.path(); // never beside the test program
    try {
        m_result = demo::install(options);
        if (!options.writeProgramFiles)
            demo::writeStoreConfig(m_result);
    } catch (const store::StoreError& e) {
        qWarning("TestInstall: %s", qPrintable(e.message()));
        return;
    }

    const QString priv = QDir(m_dir.path()).filePath(QStringLiteral("priv"));
    QDir().mkpath(priv);
    testkit::useStore(m_result.configPath, m_result.netDir);
    store::Session::instance().setPrivateDir(priv);
    m_ok = true;
}

TestInstall::~TestInstall()
{
    // Lets go of this installation's connections before its folder and its
    // schema go.
    store::Session::instance().reset();
    if (!m_ownSchema.isEmpty())
        dropSchema();
}

void TestInstall::dropSchema()
{
    try {
        const store::pg::ConnPtr conn = store::pg::connect(serverConnection());
        // A connection left open by the test must not hang the suite.
        store::pg::execPlain(conn.get(), QStringLiteral("SET lock_timeout = '20s'"));
        store::pg::execPlain(conn.get(), QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(store::pg::quoteIdent(m_ownSchema)));
    } catch (const store::StoreError& e) {
        qWarning("TestInstall: the schema %s stays on the server: %s", qPrintable(m_ownSchema), qPrintable(e.message()));
    }
}

bool TestInstall::onServer()
{
    return qEnvironmentVariable("BRISEL_TEST_ENGINE").compare(QLatin1String("postgresql"), Qt::CaseInsensitive) == 0;
}

QString TestInstall::serverConnection()
{
    return qEnvironmentVariable("BRISEL_TEST_PG");
}

QString TestInstall::connection() const
{
    return m_result.connection;
}

QString TestInstall::schema() const
{
    return m_result.schema;
}

void TestInstall::createTable(const store::TableDef& def, const QString& password) const
{
    if (connection().isEmpty()) {
        store::createTableFile(dataDir(), def, password);
        return;
    }
    store::pg::ConnPtr conn = store::pg::connect(connection());
    store::pg::createTable(conn.get(), schema(), def, password);
}

demo::Options TestInstall::smallOptions()
{
    demo::Options options;
    options.users = 4;
    options.databases = 2;
    options.contacts = 20;
    options.events = 20;
    options.writeProgramFiles = false;
    return options;
}

QString TestInstall::root() const
{
    return m_result.dataDir.isEmpty() ? m_dir.path() : QFileInfo(m_result.dataDir).absolutePath();
}

QString TestInstall::dataDir() const
{
    return m_result.dataDir;
}

QString TestInstall::netDir() const
{
    return m_result.netDir;
}

QString TestInstall::configPath() const
{
    return m_result.configPath;
}

bool TestInstall::ok() const
{
    return m_ok;
}

JournalledInstall::JournalledInstall(demo::Options options) : TestInstall(std::move(options))
{
    if (!ok())
        return;
    support::setJournalActive(true);
    support::resetJournal();
}

JournalledInstall::~JournalledInstall()
{
    support::setJournalActive(false);
}

TestSchema::TestSchema() : m_name(uniqueSchema())
{
    try {
        const store::pg::ConnPtr conn = store::pg::connect(TestInstall::serverConnection());
        store::pg::createSchema(conn.get(), m_name);
        m_ok = true;
    } catch (const store::StoreError& e) {
        qWarning("TestSchema: %s", qPrintable(e.message()));
    }
}

TestSchema::~TestSchema()
{
    store::Session::instance().reset();
    try {
        const store::pg::ConnPtr conn = store::pg::connect(TestInstall::serverConnection());
        store::pg::execPlain(conn.get(), QStringLiteral("SET lock_timeout = '20s'"));
        store::pg::execPlain(conn.get(), QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(store::pg::quoteIdent(m_name)));
    } catch (const store::StoreError& e) {
        qWarning("TestSchema: the schema %s stays on the server: %s", qPrintable(m_name), qPrintable(e.message()));
    }
}

QString TestSchema::aliasLines(const QString& backupDir) const
{
    return QStringLiteral("ENGINE=postgresql\nCONNECTION=%1\nSCHEMA=%2\nPATH=%3\n")
        .arg(TestInstall::serverConnection(), m_name, backupDir);
}

void TestSchema::createTable(const store::TableDef& def, const QString& password) const
{
    const store::pg::ConnPtr conn = store::pg::connect(TestInstall::serverConnection());
    store::pg::createTable(conn.get(), m_name, def, password);
}
