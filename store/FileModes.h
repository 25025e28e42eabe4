#pragma once

#include <QString>

// Modes of the folders and files this program and its installer make. The
// tables hold every password in plain, so nothing is readable by other users
// of the machine; the group keeps access for the office's workstations. The
// modes are set explicitly, so the umask neither widens nor narrows them.
namespace store {

inline constexpr unsigned kFolderMode = 0770;
inline constexpr unsigned kFileMode = 0660;

// Makes the folder and any missing parents, each new one with kFolderMode;
// the folder itself gets kFolderMode even when it existed. Parents that
// existed are left as they are. False when the folder cannot be made.
bool makeFolder(const QString& path);

// Creates the file, empty, with the given mode; false when it exists or
// cannot be created.
bool createFile(const QString& path, unsigned mode = kFileMode);

// Sets the permission bits of an existing file or folder.
bool setMode(const QString& path, unsigned mode);

// The permission bits of a file or folder; -1 when it cannot be read.
int modeOf(const QString& path);

} // namespace store
