#pragma once

#include <QString>

// Makes a complete demo installation: a data folder with every table of the
// catalogue and sample rows, the journal merge.db, a network control folder,
// and beside the program NETDIR.INI and the store configuration.
//
// On a PostgreSQL server the tables (journal included) are made in a schema
// instead: filled as table files in a staging folder, copied to the server
// in one transaction and the staging files removed. The data folder is still
// made; it takes the alarm sound and the exit backups.
namespace demo {

enum class Engine { SQLite, PostgreSQL };

struct Options {
    Engine engine = Engine::SQLite;
    QString connection;        // PostgreSQL: libpq connection string of the database
    QString schema;            // PostgreSQL: the schema (default: the alias in lower case)
    QString root;              // the installation folder: root/data and root/netdir
    QString programDir;        // where NETDIR.INI and brisel-store.ini are written
    bool writeProgramFiles = true;
    bool replace = false;      // an existing installation is refused unless set
    bool protectTables = true; // password-protect the tables the catalogue says
    bool journal = true;       // create merge.db
    int users = 8;
    int databases = 3;
    int contacts = 300;
    int events = 600;
    quint32 seed = 1;
};

struct Result {
    Engine engine = Engine::SQLite;
    QString connection;
    QString schema;     // PostgreSQL: the schema that holds the tables
    QString dataDir;
    QString netDir;
    QString configPath; // the store configuration written (or that would be)
};

// Raises store::StoreError on failure, with a message for the user.
Result install(const Options& options);

// Writes the store configuration of a made installation (to its configPath):
// the data folder, or the server and schema.
void writeStoreConfig(const Result& result);

} // namespace demo
