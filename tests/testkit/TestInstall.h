#pragma once

#include "store/Schema.h"
#include "tools/demo/Installer.h"

#include <QString>
#include <QTemporaryDir>

// A throw-away installation for one test: made by the demo installer in a
// temporary folder, with the store pointed at it (config, network control
// directory, private directory and the table passwords).
//
// With BRISEL_TEST_ENGINE=postgresql the tables are made on the server named
// by BRISEL_TEST_PG instead, in a schema of the installation's own, dropped
// when the installation goes (the temporary folder still holds the data
// folder for backups and the network control directory). Options that name
// an engine and connection of their own keep them.
class TestInstall {
public:
    explicit TestInstall(demo::Options options = smallOptions());
    ~TestInstall();
    static demo::Options smallOptions(); // 4 users, 2 databases, few rows, no program files

    // True when test installations are made on a PostgreSQL server.
    static bool onServer();
    // The server's libpq connection string (BRISEL_TEST_PG); empty when unset.
    static QString serverConnection();

    // This installation's server and schema; empty for table files.
    QString connection() const;
    QString schema() const;
    // Adds a table to the installation, on its engine (a password protects
    // it as the installer's tables are protected).
    void createTable(const store::TableDef& def, const QString& password = QString()) const;

    QString root() const;
    QString dataDir() const;
    QString netDir() const;
    QString configPath() const;
    bool ok() const;  // false when the installer failed (QVERIFY it)

private:
    void dropSchema();

    QTemporaryDir m_dir;
    demo::Result m_result;
    QString m_ownSchema; // the schema made for this installation, to drop
    bool m_ok = false;
};

// A test installation whose change journal is on and empty from the start,
// and off again when the installation goes.
class JournalledInstall : public TestInstall {
public:
    explicit JournalledInstall(demo::Options options = smallOptions());
    ~JournalledInstall();
};

// A schema of its own on the test server (BRISEL_TEST_PG), for tests that
// make their own tables; dropped when it goes, after the store let go.
class TestSchema {
public:
    TestSchema();
    ~TestSchema();
    TestSchema(const TestSchema&) = delete;
    TestSchema& operator=(const TestSchema&) = delete;

    bool ok() const { return m_ok; }
    QString name() const { return m_name; }
    // The store configuration lines of an alias on this schema (backups in
    // backupDir).
    QString aliasLines(const QString& backupDir) const;
    void createTable(const store::TableDef& def, const QString& password = QString()) const;

private:
    QString m_name;
    bool m_ok = false;
};
