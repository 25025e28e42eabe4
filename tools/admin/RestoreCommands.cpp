// The backup commands: the two exit-backup folders with their users, and one
// user put back from a backup, as the restore window does it.
#include "tools/admin/Checks.h"
#include "tools/admin/Command.h"

#include "shell/Restore.h"
#include "support/Messages.h"
#include "support/Text.h"

#include <QDir>
#include <QJsonArray>

namespace admin {

namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

int listBackups(Context& c)
{
    QList<QVariantList> rows;
    for (const shell::BackupFolder& folder : shell::listBackups()) {
        const QString name = QDir(folder.path).dirName();
        const QVariant written = folder.exists
            ? QVariant(folder.written.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            : QVariant();
        // A folder that cannot be listed is one row, its problem in place of
        // the users.
        if (!folder.problem.isEmpty())
            rows.append({folder.number, name, written, QVariant(), QVariant(), QVariant(),
                         folder.detail.isEmpty() ? folder.problem : folder.problem + QStringLiteral("  ") + folder.detail});
        for (const shell::BackupUser& user : folder.users)
            rows.append({folder.number, name, written, user.who, user.fullName, shell::statusText(user.status),
                         QVariant()});
    }
    c.out.table({text("Backup"), text("Folder"), text("Written"), text("Who"), text("Full Name"), text("Status"),
                 text("Problem")},
                {QStringLiteral("backup"), QStringLiteral("folder"), QStringLiteral("written"), QStringLiteral("who"),
                 QStringLiteral("fullName"), QStringLiteral("status"), QStringLiteral("problem")},
                rows);
    return ExitOk;
}

QJsonObject resultObject(const QString& who, int from, const QStringList& differences,
                         const shell::RestoreResult& result)
{
    QJsonArray rows;
    for (const shell::RestoredRow& row : result.rows)
        rows.append(QJsonObject{{QStringLiteral("table"), row.table},
                                {QStringLiteral("database"), row.db.isEmpty() ? QJsonValue() : QJsonValue(row.db)},
                                {QStringLiteral("action"), row.kind == shell::RestoredRow::Added
                                                               ? QStringLiteral("added")
                                                               : QStringLiteral("changed")},
                                {QStringLiteral("fields"), QJsonArray::fromStringList(row.fields)}});
    return {{QStringLiteral("who"), who},
            {QStringLiteral("from"), from},
            {QStringLiteral("dryRun"), result.dryRun},
            {QStringLiteral("differences"), QJsonArray::fromStringList(differences)},
            {QStringLiteral("rows"), rows},
            {QStringLiteral("leftOut"), QJsonArray::fromStringList(result.leftOut)}};
}

int restoreUser(Context& c)
{
    const QString who = c.args.positional[0];
    const QString from = c.args.value(QStringLiteral("from"));
    if (!c.args.has(QStringLiteral("from")))
        return c.out.usage(QStringLiteral("--from is required"), QStringLiteral("restore"));
    if (from != QLatin1String("1") && from != QLatin1String("2"))
        return c.out.usage(QStringLiteral("--from takes 1 or 2, not '%1'").arg(from), QStringLiteral("restore"));
    const bool dryRun = c.args.has(QStringLiteral("dry-run"));
    if (!checkUserId(who))
        return ExitFailed;
    try {
        shell::UserRestore restore(from.toInt(), who);
        // The window asks before writing over what may be another person's
        // rows now; a command line asks nothing, so it takes --yes for that.
        const QString warning = restore.otherPersonWarning();
        if (!warning.isEmpty() && !dryRun && !c.args.has(QStringLiteral("yes"))) {
            support::showError(warning + QStringLiteral("  ") + text("Nothing was restored; give --yes to restore anyway."));
            return ExitFailed;
        }
        if (!warning.isEmpty())
            support::showWarning(warning);
        const QStringList differences = restore.differenceLines();
        const shell::RestoreResult result = restore.restore(dryRun);
        const QStringList lines = dryRun ? differences + result.lines() : result.lines();
        c.out.result(resultObject(who, from.toInt(), differences, result), {lines.join(QLatin1Char('\n'))});
    } catch (const shell::RestoreError& error) {
        support::showError(error.message, error.detail);
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace

QList<Command> restoreCommands()
{
    return {
        {{QStringLiteral("backups")}, QString(),
         QStringLiteral("list the two exit-backup folders: when each was written and the users it holds"),
         QStringLiteral("Status tells a user deleted since the backup, or changed (restoring would change a row)."),
         {}, 0, 0, listBackups},
        {{QStringLiteral("restore")}, QStringLiteral("WHO --from 1|2"),
         QStringLiteral("put a user's rows back from an exit backup, as the restore window does (journalled)"),
         QStringLiteral("Writes back the user row and the user's permission and per-database rows as the backup "
                        "holds them.\nWhen the full name differs from the backup's, the ID may belong to another "
                        "person now: the\nrestore is refused unless --yes is given."),
         {{QStringLiteral("from"), QStringLiteral("1|2"), QStringLiteral("the backup folder: backup1 or backup2")},
          {QStringLiteral("dry-run"), QString(), QStringLiteral("print the differences and what would be written; "
                                                                "change nothing")},
          {QStringLiteral("yes"), QString(),
           QStringLiteral("restore even when the ID may belong to another person now")}},
         1, 1, restoreUser},
    };
}

} // namespace admin
