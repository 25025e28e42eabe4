#pragma once

#include <QString>
#include <QHash>
#include <QStringList>
#include <optional>

namespace store {

// An alias whose tables are on a PostgreSQL server: the libpq connection
// string and the schema that holds its tables.
struct ServerAlias {
    QString connection;
    QString schema;
};

// Store-wide settings, set once before the first table is opened: the shared
// network control directory (where the open-locks live), this program's
// private directory, the registered table passwords and the configuration
// file that names the aliases.
//
// The configuration is a small INI file, by default "brisel-store.ini" beside
// the program, or the file named by the environment variable
// BRISEL_STORE_CONFIG. Each alias is a section; its keys are its parameters:
//
//   [NORDA]
//   PATH=/srv/kontiva/data
//
// An alias on a PostgreSQL server names its engine and connection; PATH then
// only says where the backups go:
//
//   [NORDA]
//   ENGINE=postgresql
//   CONNECTION=host=db.office dbname=kontiva user=kontiva
//   SCHEMA=norda            (the alias in lower case when left out)
//   PATH=/srv/kontiva/data
class Session {
public:
    static Session& instance();

    void setNetFileDir(const QString& dir);
    QString netFileDir() const;
    void setPrivateDir(const QString& dir);
    QString privateDir() const;

    void addPassword(const QString& password);
    QStringList passwords() const;

    // How long a write waits for another program's write to finish before
    // it fails (milliseconds; 5000 unless set).
    void setBusyTimeout(int milliseconds);
    int busyTimeout() const;

    // How long a call to a database server waits for its answer before it
    // fails with "the database server does not answer" and drops the
    // connection (milliseconds; 30000 unless set). A stopped server or a
    // broken network would otherwise hold the program for ever.
    void setServerTimeout(int milliseconds);
    int serverTimeout() const;

    void setConfigPath(const QString& path);
    QString configPath() const;
    static QString defaultConfigPath();

    // The alias's parameters as "KEY=value" lines, in file order; empty when
    // the alias or the configuration file does not exist.
    QStringList getAliasParams(const QString& alias) const;
    // One parameter of the alias ("" when missing; the last line wins).
    QString aliasParam(const QString& alias, const QString& name) const;
    // The server of an alias whose ENGINE is postgresql; nullopt for SQLite
    // (no ENGINE, or ENGINE=sqlite). Raises StoreError for an unknown engine
    // or a server alias without CONNECTION.
    std::optional<ServerAlias> serverOf(const QString& alias) const;
    // The directory of the alias (its PATH parameter); throws StoreError when
    // the alias has no path.
    QString aliasPath(const QString& alias) const;

    // Tests: forget every setting and close every idle connection.
    void reset();

private:
    Session() = default;
    QString m_netFileDir;
    QString m_privateDir;
    QStringList m_passwords;
    QString m_configPath;
    int m_busyTimeout = 5000;
    int m_serverTimeout = kDefaultServerTimeout;
    static constexpr int kDefaultServerTimeout = 30000;
    // The configuration is read once per path.
    mutable QString m_cachedConfig;
    mutable QHash<QString, QStringList> m_aliasCache;

public:
    // True when the network control directory is set and exists.
    bool netFileDirUsable() const;
};

// The file that holds a table: the alias directory joined with the table name
// in lower case, ".db" appended when absent ("USERPREF.DB" -> userpref.db,
// "merge" -> merge.db).
QString tableFileName(const QString& tableName);
QString tableFilePath(const QString& alias, const QString& tableName);

// A line of an INI file as its readers take it: trimmed, byte order marks
// before it dropped.
QString iniLine(const QString& line);

// Reads one value of an INI file; section and key match without regard to
// case. Returns defaultValue when the file, section or key is missing.
QString readIniValue(const QString& path, const QString& section, const QString& key,
                     const QString& defaultValue);
// The "key=value" lines of one section, in file order.
QStringList readIniSection(const QString& path, const QString& section);

} // namespace store
