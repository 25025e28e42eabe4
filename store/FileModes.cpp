#include "store/FileModes.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(QDir::toNativeSeparators(path));
}

} // namespace

bool makeFolder(const QString& path)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    if (QFileInfo(clean).isDir())
        return setMode(clean, kFolderMode);
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !QFileInfo(parent).isDir() && !makeFolder(parent))
        return false;
    // mkdir applies the umask; the chmod that follows gives the exact mode.
    // Another program may make it meanwhile; a file of that name is no folder.
    if (::mkdir(nativePath(clean).constData(), kFolderMode) != 0
        && !(errno == EEXIST && QFileInfo(clean).isDir()))
        return false;
    return setMode(clean, kFolderMode);
}

bool createFile(const QString& path, unsigned mode)
{
    const int fd = ::open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0600);
    if (fd < 0)
        return false;
    // Created owner-only and widened afterwards, so the file is never open to
    // more users than the mode allows, whatever the umask.
    const bool ok = ::fchmod(fd, mode) == 0;
    ::close(fd);
    return ok;
}

bool setMode(const QString& path, unsigned mode)
{
    return ::chmod(nativePath(path).constData(), mode) == 0;
}

int modeOf(const QString& path)
{
    struct stat st;
    if (::stat(nativePath(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

} // namespace store
