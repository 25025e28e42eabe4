#include "shell/Backup.h"

#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/FileModes.h"
#include "store/Table.h"
#include "support/Clock.h"
#include "support/Messages.h"
#include "support/Text.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace shell {

namespace {

// Copies one table of the alias into the folder as a complete, consistent
// file, even while other programs write to it. A missing table is skipped.
void backupTableFile(const QString& folder, const QString& fileName)
{
    store::backupTable(catalogue::kAlias, fileName, joinPath(folder, fileName));
}

} // namespace

QString backupFolderName(qint64 dayNumber)
{
    return dayNumber % 2 == 0 ? QStringLiteral("backup1") : QStringLiteral("backup2");
}

bool backupUserTables(store::Table& userPref, store::Table& userDb)
{
    const QString folder = joinPath(aliasDirectory(catalogue::kAlias),
                                    backupFolderName(support::todayDayNumber()));
    if (!store::makeFolder(folder)) {
        const QString reason = QStringLiteral("The folder %1 cannot be made (%2).")
                                   .arg(QDir::toNativeSeparators(folder), qt_error_string(errno));
        support::showError(support::uiText(QStringLiteral(
            "Could not create backup folder under the DATA folder.  Unable to make temporary "
            "backup of the userpref.*, userdb.* and settings.* files")), reason);
        return false;
    }

    // Each table is one file here, with no separate index or memo file, so
    // only the ".db" files are copied.
    userPref.close();
    backupTableFile(folder, QStringLiteral("userpref.db"));
    userDb.close();
    backupTableFile(folder, QStringLiteral("userdb.db"));
    // The permission rows, so that a user can be restored with them. The
    // copy is consistent while the table stays open.
    backupTableFile(folder, QStringLiteral("perm.db"));
    // The main window holds no object on the settings table.
    backupTableFile(folder, QStringLiteral("settings.db"));
    return true;
}

} // namespace shell
