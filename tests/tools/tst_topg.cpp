#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/pg/PgLink.h"
#include "testkit/TestInstall.h"
#include "tools/demo/Installer.h"
#include "tools/demo/Layout.h"
#include "tools/topg/Copy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using store::pg::exec;
using store::pg::quoteIdent;

namespace {

QString qualified(const QString& schema, const QString& table)
{
    return quoteIdent(schema) + QLatin1Char('.') + quoteIdent(table);
}

// Runs statements on a SQLite table file, as another program would.
void alterFile(const QString& path, const QString& sql)
{
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    const QString message = QString::fromUtf8(error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(message));
}

// Every row of a table file as one line of text, in rowid order.
QStringList fileRows(const QString& path, const QString& table)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid").arg(quoteIdent(table)).toUtf8().constData(),
                       -1, &stmt, nullptr);
    QStringList rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList cells;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            cells << (sqlite3_column_type(stmt, i) == SQLITE_NULL
                          ? QStringLiteral("<null>")
                          : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i))));
        rows << cells.join(QLatin1Char('|'));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

// A schema of the test server, dropped when it goes.
class Schema {
public:
    explicit Schema(const QString& connection) : m_conn(store::pg::connect(connection))
    {
        static int counter = 0;
        m_name = QStringLiteral("topg_test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
        drop();
    }
    ~Schema() { drop(); }
    const QString& name() const { return m_name; }
    PGconn* conn() const { return m_conn.get(); }

    // Every row of a server table as one line of text, in rowid order, in
    // the stored forms.
    QStringList rows(const QString& table) const
    {
        const store::pg::Result r = exec(conn(), QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(qualified(m_name, table)));
        QStringList rows;
        for (int row = 0; row < r.rows(); ++row) {
            QStringList cells;
            for (int column = 0; column < r.columns(); ++column)
                cells << (r.isNull(row, column) ? QStringLiteral("<null>") : r.stored(row, column).toString());
            rows << cells.join(QLatin1Char('|'));
        }
        return rows;
    }
    QStringList tables() const
    {
        const store::pg::Result r = exec(conn(), QStringLiteral("SELECT tablename FROM pg_tables WHERE schemaname = $1 "
                                                                "ORDER BY tablename"), {m_name});
        QStringList names;
        for (int i = 0; i < r.rows(); ++i)
            names << r.text(i, 0);
        return names;
    }
    // What the schema holds, in one line per table, to see that it is unchanged.
    QStringList fingerprint() const
    {
        QStringList lines;
        for (const QString& table : tables())
            lines << table + QLatin1Char(' ')
                         + exec(conn(), QStringLiteral("SELECT count(*) || ' ' || coalesce(md5(string_agg(t::text, '/' ORDER BY t::text)), '') "
                                                       "FROM %1 t").arg(qualified(m_name, table)))
                               .text(0, 0);
        return lines;
    }

private:
    void drop() { store::pg::execPlain(conn(), QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(quoteIdent(m_name))); }
    store::pg::ConnPtr m_conn;
    QString m_name;
};

} // namespace

class TestToPg : public QObject {
    Q_OBJECT

private:
    QString m_server;
    QTemporaryDir m_dir;
    int m_installs = 0;

    // A small SQLite demo installation of its own; its data folder.
    QString makeInstallation()
    {
        demo::Options options = TestInstall::smallOptions();
        options.root = m_dir.filePath(QString::number(++m_installs));
        demo::install(options);
        return demo::dataDirOf(options.root);
    }

    topg::Report copy(const QString& dataDir, const QString& schema, bool replace = false)
    {
        topg::Options options;
        options.dataDir = dataDir;
        options.connection = m_server;
        options.schema = schema;
        options.replace = replace;
        return topg::copyInstallation(options);
    }

private slots:
    void initTestCase()
    {
        m_server = TestInstall::serverConnection();
        if (m_server.isEmpty())
            QSKIP("BRISEL_TEST_PG names no PostgreSQL server to copy to");
        QVERIFY(m_dir.isValid());
    }

    // Every table arrives row for row with its rowids, typed values,
    // declared types and password, and the rowids go on after the last.
    void copiesEveryTableAsItIs()
    {
        const QString data = makeInstallation();
        Schema schema(m_server);
        const topg::Report report = copy(data, schema.name());

        QStringList expected;
        for (const store::TableDef& def : catalogue::tableDefs())
            expected << store::sqlTableName(def.name);
        expected << QStringLiteral("brisel_meta");
        expected.sort();
        QCOMPARE(schema.tables(), expected);
        QCOMPARE(report.tables.size(), expected.size() - 1);
        for (const topg::TableReport& t : report.tables) {
            const QStringList fromFile = fileRows(QDir(data).filePath(t.file), t.table);
            QCOMPARE(schema.rows(t.table), fromFile);
            QCOMPARE(t.rows, qint64(fromFile.size()));
            QCOMPARE(t.checksum.size(), 64);
            QCOMPARE(t.passwordProtected, !catalogue::protectingPassword(t.table).isEmpty());
        }
        QVERIFY(report.totalRows() > 50);

        // The declared types stay with the columns; passwords as the files had them.
        const QString comment = exec(schema.conn(), QStringLiteral("SELECT col_description(%1::regclass, 8)")
                                                        .arg(QStringLiteral("'%1.event'").arg(schema.name())))
                                    .text(0, 0);
        QCOMPARE(comment, QStringLiteral("DATE"));
        const store::pg::Result meta = exec(schema.conn(), QStringLiteral("SELECT value FROM %1 WHERE tbl = 'perm' ORDER BY key")
                                                               .arg(qualified(schema.name(), QStringLiteral("brisel_meta"))));
        QCOMPARE(meta.rows(), 2);
        QCOMPARE(fileRows(QDir(data).filePath(QStringLiteral("perm.db")), QStringLiteral("brisel_meta")),
                 (QStringList{QStringLiteral("1|password_salt|") + meta.text(1, 0),
                              QStringLiteral("2|password_hash|") + meta.text(0, 0)}));

        exec(schema.conn(), QStringLiteral("INSERT INTO %1 (\"Who\", \"IsIn\") VALUES ('ZZZ', true)")
                                .arg(qualified(schema.name(), QStringLiteral("inout"))));
        const store::pg::Result ids = exec(schema.conn(), QStringLiteral("SELECT max(rowid), count(*) FROM %1")
                                                              .arg(qualified(schema.name(), QStringLiteral("inout"))));
        QCOMPARE(ids.integer(0, 0), ids.integer(0, 1));
    }

    // Values in the forms other programs write (words for booleans, day
    // counts, times without milliseconds, blanks) arrive in the stored forms;
    // texts keep every byte through the copy's escaping.
    void otherProgramsFormsArriveStored()
    {
        QTemporaryDir dir;
        alterFile(dir.filePath(QStringLiteral("forms.db")),
                  QStringLiteral("CREATE TABLE forms (Name VARCHAR(5), Memo TEXT, Flag BOOLEAN, Small SMALLINT, Num INTEGER, "
                                 "Amount REAL, Day DATE, Moment TIME, Stamp DATETIME, Data BLOB); "
                                 "INSERT INTO forms (rowid, Name, Memo, Flag, Small, Num, Amount, Day, Moment, Stamp, Data) VALUES (1, 'a' || char(9) || 'b\\c', 'one' || char(13, 10) || 'two', "
                                 "'True', '12', 7.0, 2.5, 45000, '09:30', 45000.75, X'00FF5C0A'); "
                                 "INSERT INTO forms (rowid, Name, Memo, Flag, Small, Num, Amount, Day, Moment, Stamp, Data) VALUES (2, '', '\\N', 0, ' ', -5, 3, '2024-02-29', '23:59:59', "
                                 "'2024-02-29 23:59:59.999', NULL); "
                                 "INSERT INTO forms (rowid, Name, Memo, Flag, Small, Num, Amount, Day, Moment, Stamp, Data) VALUES (9, 'Zoë ✓', NULL, 'no', NULL, NULL, NULL, '', NULL, '2024-01-05', X'')"));
        Schema schema(m_server);
        const topg::Report report = copy(dir.path(), schema.name());
        QCOMPARE(report.tables.size(), 1);
        QCOMPARE(report.tables.first().rows, 3);

        const store::pg::Result r = exec(schema.conn(), QStringLiteral("SELECT * FROM %1 ORDER BY rowid")
                                                            .arg(qualified(schema.name(), QStringLiteral("forms"))));
        QCOMPARE(r.rows(), 3);
        const auto row = [&](int i) {
            QVariantList values;
            for (int c = 0; c < r.columns(); ++c)
                values << r.stored(i, c);
            return values;
        };
        const QVariant null;
        QCOMPARE(row(0), (QVariantList{1, "a\tb\\c", "one\r\ntwo", 1, 12, 7, 2.5, "2023-03-15", "09:30:00.000",
                                       "2023-03-15 18:00:00.000", QByteArray("\x00\xff\\\n", 4)}));
        QCOMPARE(row(1), (QVariantList{2, "", "\\N", 0, null, -5, 3.0, "2024-02-29", "23:59:59.000",
                                       "2024-02-29 23:59:59.999", null}));
        QCOMPARE(row(2), (QVariantList{9, "Zoë ✓", null, 0, null, null, null, null, null, "2024-01-05 00:00:00.000",
                                       QByteArray("")}));
    }

    // A schema with the rows of an installation is kept unless replacing;
    // replacing takes the new rows and drops what the old tables had.
    void copiesOverTablesWithRowsOnlyWhenReplacing()
    {
        const QString data = makeInstallation();
        Schema schema(m_server);
        copy(data, schema.name());
        const QStringList before = schema.fingerprint();

        alterFile(QDir(data).filePath(QStringLiteral("contact.db")), QStringLiteral("DELETE FROM contact WHERE rowid > 5"));
        QVERIFY_THROWS_EXCEPTION(topg::SchemaInUse, copy(data, schema.name()));
        QCOMPARE(schema.fingerprint(), before);

        const topg::Report report = copy(data, schema.name(), true);
        QCOMPARE(schema.rows(QStringLiteral("contact")).size(), 5);
        QCOMPARE(exec(schema.conn(), QStringLiteral("SELECT count(*) FROM %1 WHERE tbl = 'userpref'")
                                         .arg(qualified(schema.name(), QStringLiteral("brisel_meta"))))
                     .integer(0, 0),
                 2);
        QCOMPARE(report.tables.size(), 14);
    }

    void oddContentsAreNamedAndLeaveTheServerAlone_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("message");
        QTest::newRow("date that is no date")
            << "event.db" << "UPDATE event SET EventDate = 'not a date' WHERE rowid = 7"
            << "Table event, rowid 7, field EventDate: \"not a date\" is no date.";
        QTest::newRow("time that is no time")
            << "userson.db" << "UPDATE userson SET timelogin = '25:61' WHERE rowid = 2"
            << "Table userson, rowid 2, field timelogin: \"25:61\" is no time.";
        QTest::newRow("text that is no UTF-8")
            << "contact.db" << "UPDATE contact SET Company = CAST(X'4E6F7264FF' AS TEXT) WHERE rowid = 3"
            << "Table contact, rowid 3, field Company: the text is not valid UTF-8";
        QTest::newRow("text longer than its field")
            << "database.db" << "UPDATE database SET Description = printf('%.200c', 'x') WHERE rowid = 1"
            << "Table database, rowid 1, field Description: the text has 200 characters";
        QTest::newRow("no value in a key field")
            << "plan.db"
            << "CREATE TABLE plan (Code VARCHAR(5), Step INTEGER, PRIMARY KEY (Code, Step)); "
               "INSERT INTO plan VALUES ('A', 1), (NULL, 2)"
            << "Table plan, rowid 2, field Code: a field of the table's key has no value.";
        QTest::newRow("a boolean that is neither")
            << "inout.db" << "UPDATE inout SET IsIn = 'maybe' WHERE rowid = 4"
            << "Table inout, rowid 4, field IsIn: \"maybe\" is neither True nor False.";
    }

    // Another program's odd rows stop the copy with the table, rowid and
    // field named, and the replaced installation stays on the server.
    void oddContentsAreNamedAndLeaveTheServerAlone()
    {
        QFETCH(QString, file);
        QFETCH(QString, sql);
        QFETCH(QString, message);
        const QString data = makeInstallation();
        Schema schema(m_server);
        copy(data, schema.name());
        const QStringList before = schema.fingerprint();

        alterFile(QDir(data).filePath(file), sql);
        try {
            copy(data, schema.name(), true);
            QFAIL("the odd table was copied");
        } catch (const store::StoreError& e) {
            QVERIFY2(e.message().startsWith(message), qPrintable(e.message()));
        }
        QCOMPARE(schema.fingerprint(), before);
    }

    // Journal rows a program left in a file's outbox would be lost.
    void refusesFilesWithJournalRowsWaiting()
    {
        const QString data = makeInstallation();
        alterFile(QDir(data).filePath(QStringLiteral("contact.db")),
                  QStringLiteral("CREATE TABLE brisel_outbox (brisel_seq INTEGER PRIMARY KEY, recno TEXT); "
                                 "INSERT INTO brisel_outbox VALUES (1, 'X')"));
        Schema schema(m_server);
        QVERIFY_THROWS_EXCEPTION(store::StoreError, copy(data, schema.name()));
        QVERIFY(schema.tables().isEmpty());
    }

    void commandLine()
    {
        const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("brisel-topg"));
        if (!QFile::exists(program))
            QSKIP("brisel-topg is not built");
        auto run = [&](const QStringList& args, QString* output = nullptr) {
            QProcess p;
            p.start(program, args);
            p.waitForFinished(60000);
            if (output)
                *output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const QString data = makeInstallation();
        Schema schema(m_server);
        const QString config = m_dir.filePath(QStringLiteral("cli.ini"));
        QFile ini(config);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[OTHER]\nPATH=/elsewhere\n[NORDA]\n; the backups\nPATH=/srv/backups\n");
        ini.close();
        const QStringList args = {"--from", data, "--connection", m_server, "--schema", schema.name()};

        QString output;
        QCOMPARE(run(args + QStringList{"--config", config}, &output), 0);
        QVERIFY2(output.contains(QRegularExpression(QStringLiteral("\\ncontact\\s+20\\s+[0-9a-f]{64}\\n"))), qPrintable(output));
        QCOMPARE(store::readIniSection(config, catalogue::kAlias),
                 (QStringList{"ENGINE=postgresql", "CONNECTION=" + m_server, "SCHEMA=" + schema.name(), "PATH=/srv/backups"}));
        QCOMPARE(store::readIniValue(config, "OTHER", "PATH", QString()), QStringLiteral("/elsewhere"));

        QCOMPARE(run(args, &output), 1);
        QVERIFY2(output.contains(QStringLiteral("--replace")), qPrintable(output));
        QCOMPARE(run(args + QStringList{"--replace"}), 0);
        QCOMPARE(run({"--from", data}), 2);
        QCOMPARE(run({"--help"}), 0);
    }

    // The demo installer on a server: a schema with the tables is an
    // installation, kept unless replacing.
    void demoInstallationsOnTheServer()
    {
        Schema schema(m_server);
        demo::Options options = TestInstall::smallOptions();
        options.root = m_dir.filePath(QStringLiteral("server-demo"));
        options.engine = demo::Engine::PostgreSQL;
        options.connection = m_server;
        options.schema = schema.name();
        QVERIFY(!demo::serverInstallationExists(m_server, schema.name()));
        demo::install(options);
        QVERIFY(demo::serverInstallationExists(m_server, schema.name()));
        QVERIFY(QFile::exists(QDir(demo::dataDirOf(options.root)).filePath(QStringLiteral("alarm.wav"))));
        QVERIFY(!QFile::exists(QDir(demo::dataDirOf(options.root)).filePath(QStringLiteral("contact.db"))));
        const QStringList before = schema.fingerprint();

        options.contacts = 3;
        QVERIFY_THROWS_EXCEPTION(store::StoreError, demo::install(options));
        QCOMPARE(schema.fingerprint(), before);
        options.replace = true;
        demo::install(options);
        QCOMPARE(schema.rows(QStringLiteral("contact")).size(), 3);
    }

    // Test installations on the server: a schema of their own, gone with them.
    void testInstallationsOnTheServerTakeTheirSchemaAlong()
    {
        const QByteArray engine = qgetenv("BRISEL_TEST_ENGINE");
        qputenv("BRISEL_TEST_ENGINE", "postgresql");
        QString schemaName;
        {
            TestInstall install;
            QVERIFY(install.ok());
            QVERIFY(TestInstall::onServer());
            schemaName = install.schema();
            QVERIFY(schemaName.startsWith(QLatin1String("brisel_test_")));
            QCOMPARE(store::readIniValue(install.configPath(), catalogue::kAlias, "SCHEMA", QString()), schemaName);
            QCOMPARE(store::readIniValue(install.configPath(), catalogue::kAlias, "PATH", QString()), install.dataDir());
            const store::pg::ConnPtr conn = store::pg::connect(install.connection());
            QCOMPARE(exec(conn.get(), QStringLiteral("SELECT count(*) FROM %1").arg(qualified(schemaName, "userpref"))).integer(0, 0), 4);
        }
        const store::pg::ConnPtr conn = store::pg::connect(m_server);
        QCOMPARE(exec(conn.get(), QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = $1"), {schemaName}).integer(0, 0), 0);

        const QByteArray server = qgetenv("BRISEL_TEST_PG");
        qunsetenv("BRISEL_TEST_PG");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("BRISEL_TEST_PG")));
        QVERIFY(!TestInstall().ok());
        qputenv("BRISEL_TEST_PG", server);
        if (engine.isNull())
            qunsetenv("BRISEL_TEST_ENGINE");
        else
            qputenv("BRISEL_TEST_ENGINE", engine);
    }
};

QTEST_GUILESS_MAIN(TestToPg)
#include "tst_topg.moc"
