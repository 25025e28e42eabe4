#pragma once

#include <QString>

// Makes a complete demo installation: a data folder with every table of the
// catalogue and sample rows, the journal merge.db, a network control folder,
// and beside the program NETDIR.INI and the store configuration.
namespace demo {

struct Options {
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
    QString dataDir;
    QString netDir;
    QString configPath; // the store configuration written (or that would be)
};

// Raises store::StoreError on failure, with a message for the user.
Result install(const Options& options);

} // namespace demo
