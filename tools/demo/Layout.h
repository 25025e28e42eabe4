#pragma once

#include <QString>
#include <QStringList>

// Where the parts of an installation live, and the two small files that
// point a program at it.
namespace demo {

QString dataDirOf(const QString& root);   // root/data: the table files
QString netDirOf(const QString& root);    // root/netdir: the network control directory

// The files an installation puts into its data folder (tables and journal).
QStringList installedFileNames();
// True when the data folder of root holds any of them.
bool installationExists(const QString& root);
// Removes those files (with their write-ahead logs); raises StoreError when
// one cannot be removed.
void removeInstallation(const QString& root);

// The schema's name for an installation on a server: the given one, or the
// alias in lower case.
QString schemaName(const QString& schema);
// True when the schema on the server holds any of the installation's
// tables; raises StoreError when the server cannot be asked.
bool serverInstallationExists(const QString& connection, const QString& schema);

// NETDIR.INI: [Options] NetDir=netDir.
void writeNetDirIni(const QString& path, const QString& netDir);
// The store configuration: [NORDA] PATH=dataDir.
void writeStoreConfig(const QString& path, const QString& dataDir);
// The store configuration of an installation on a server: [NORDA]
// ENGINE=postgresql, CONNECTION, SCHEMA and PATH=dataDir (for the backups).
void writeServerStoreConfig(const QString& path, const QString& dataDir, const QString& connection,
                            const QString& schema);

} // namespace demo
