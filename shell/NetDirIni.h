#pragma once

#include <QString>

// NETDIR.INI beside the program: section "Options", key "NetDir", the shared
// network control directory that every workstation agrees on.
namespace shell {

QString netDirIniPath(const QString& programDir);

// The stored value, "xx" when the file, section or key is missing, with one
// trailing "/" removed.
QString readNetDir(const QString& programDir);

// True when the value read names a directory: not the "xx" marker (capitals
// are a name) and not blank.
bool netDirIsSet(const QString& value);

// Writes the value into NETDIR.INI, keeping every other line of the file.
// Returns false when the file cannot be written. Used by the set-up program;
// Brisel itself only reads the file.
bool writeNetDir(const QString& programDir, const QString& netDir);

} // namespace shell
