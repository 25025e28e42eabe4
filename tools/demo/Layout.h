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

// NETDIR.INI: [Options] NetDir=netDir.
void writeNetDirIni(const QString& path, const QString& netDir);
// The store configuration: [NORDA] PATH=dataDir.
void writeStoreConfig(const QString& path, const QString& dataDir);

} // namespace demo
