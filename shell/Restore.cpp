#include "shell/Restore.h"

#include "permissions/PermTexts.h"
#include "shell/Paths.h"
#include "shell/RestoreRows.h"
#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Text.h"

#include <QDir>
#include <QFileInfo>

#include <functional>

namespace shell {

using namespace rows;

namespace {

QString text(const QString& s) { return support::uiText(s); }

QString folderName(int number) { return QStringLiteral("backup%1").arg(number); }

// What restoring one user would write, from the two sides as read.
RestoreResult planFor(const Side& backupSide, const UserRows& backup, const UserRows& live,
                      const QStringList& databases)
{
    RestoreResult result;
    auto consider = [&](int table, const QString& db) {
        const Image& layout = backupSide.images[table];
        const std::optional<Row> now = live.row(table, db);
        const Row then = *backup.row(table, db);
        if (!now) {
            result.rows.append({tableName(table), db, RestoredRow::Added, {}});
            return;
        }
        const QStringList fields = differingFields(layout, then, *now);
        if (!fields.isEmpty())
            result.rows.append({tableName(table), db, RestoredRow::Changed, fields});
    };
    if (backup.pref)
        consider(UserPrefTable, QString());
    for (int t : {PermTable, UserDbTable}) {
        for (auto it = backup.byDb[t].cbegin(); it != backup.byDb[t].cend(); ++it) {
            if (!databases.contains(it.key())) {
                if (!result.leftOut.contains(it.key()))
                    result.leftOut << it.key();
                continue;
            }
            consider(t, it.key());
        }
    }
    return result;
}

} // namespace

// --- Errors and texts ----------------------------------------------------------

RestoreError::RestoreError(const QString& m, const QString& d)
    : std::runtime_error(m.toStdString()), message(m), detail(d)
{
}

QString statusText(UserStatus status)
{
    switch (status) {
    case UserStatus::Deleted: return text(QStringLiteral("deleted since"));
    case UserStatus::Changed: return text(QStringLiteral("changed"));
    default: return QString();
    }
}

QString backupFolderPath(int number) { return joinPath(aliasDirectory(catalogue::kAlias), folderName(number)); }

QStringList RestoreResult::lines() const
{
    QStringList out;
    for (const RestoredRow& row : rows) {
        const QString where = row.db.isEmpty() ? row.table : QStringLiteral("%1 in %2").arg(row.table, row.db);
        if (row.kind == RestoredRow::Added)
            out << text(dryRun ? QStringLiteral("%1: row would be added") : QStringLiteral("%1: row added")).arg(where);
        else
            out << text(dryRun ? QStringLiteral("%1: would change %2") : QStringLiteral("%1: changed %2"))
                       .arg(where, row.fields.join(QStringLiteral(", ")));
    }
    if (rows.isEmpty())
        out << text(QStringLiteral("Nothing differs from the backup."));
    if (!leftOut.isEmpty())
        out << text(QStringLiteral("Left out, since these databases no longer exist: %1"))
                   .arg(leftOut.join(QStringLiteral(", ")));
    return out;
}

QStringList backupLines(const QList<BackupFolder>& folders)
{
    QStringList out;
    for (const BackupFolder& folder : folders) {
        const QString name = QDir(folder.path).dirName();
        out << (folder.exists ? text(QStringLiteral("%1  written %2"))
                                    .arg(name, folder.written.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                              : name);
        if (!folder.problem.isEmpty())
            out << QStringLiteral("  ") + folder.problem;
        for (const BackupUser& user : folder.users) {
            const QString status = statusText(user.status);
            out << QStringLiteral("  %1  %2").arg(user.who, user.fullName)
                       + (status.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(status));
        }
    }
    return out;
}

// --- Listing the backups -------------------------------------------------------

QList<BackupFolder> listBackups()
{
    QList<BackupFolder> folders;
    for (int number : {1, 2}) {
        BackupFolder folder;
        folder.number = number;
        folder.path = backupFolderPath(number);
        const QFileInfo userCopy(joinPath(folder.path, copyFileName(UserPrefTable)));
        folder.exists = userCopy.isFile();
        if (folder.exists)
            folder.written = userCopy.lastModified();
        try {
            if (!folder.exists)
                throw RestoreError(text(QStringLiteral("No backup has been written to the folder %1 yet."))
                                       .arg(QDir::toNativeSeparators(folder.path)));
            Side live;
            Side backup;
            QStringList databases;
            readSides(number, std::nullopt, &live, &backup, &databases);
            const int whoCol = backup.images[UserPrefTable].col(catalogue::fWho);
            const int nameCol = backup.images[UserPrefTable].col(catalogue::fFullName);
            for (const Row& row : backup.images[UserPrefTable].rows) {
                BackupUser user;
                user.who = cellText(row[whoCol]);
                user.fullName = nameCol < 0 ? QString() : cellText(row[nameCol]);
                const UserRows then = backup.rowsOf(user.who);
                const UserRows now = live.rowsOf(user.who);
                if (!now.pref)
                    user.status = UserStatus::Deleted;
                else if (!planFor(backup, then, now, databases).rows.isEmpty())
                    user.status = UserStatus::Changed;
                folder.users.append(user);
            }
            std::sort(folder.users.begin(), folder.users.end(),
                      [](const BackupUser& a, const BackupUser& b) { return a.who < b.who; });
        } catch (const RestoreError& e) {
            folder.problem = e.message;
            folder.detail = e.detail;
            folder.users.clear();
        }
        folders.append(folder);
    }
    return folders;
}

// --- One user ------------------------------------------------------------------

struct UserRestore::Data {
    int number = 0;
    QString who;
    Side backupSide;
    Side liveSide;
    UserRows backup;
    UserRows live;
    QStringList databases;
};

UserRestore::UserRestore(int backupNumber, const QString& who) : d(std::make_unique<Data>())
{
    d->number = backupNumber;
    d->who = who;
    readSides(backupNumber, who, &d->liveSide, &d->backupSide, &d->databases);
    d->backup = d->backupSide.rowsOf(who);
    d->live = d->liveSide.rowsOf(who);
    if (!d->backup.pref)
        throw RestoreError(text(QStringLiteral("The backup folder %1 holds no user \"%2\"."))
                               .arg(QDir::toNativeSeparators(backupFolderPath(backupNumber)), who));
}

UserRestore::~UserRestore() = default;

const QString& UserRestore::who() const { return d->who; }

bool UserRestore::deletedSince() const { return !d->live.pref; }

QString UserRestore::otherPersonWarning() const
{
    if (!d->live.pref)
        return QString();
    const int nameCol = d->backupSide.images[UserPrefTable].col(catalogue::fFullName);
    if (nameCol < 0)
        return QString();
    const QString then = cellText((*d->backup.pref)[nameCol]);
    const QString now = cellText((*d->live.pref)[nameCol]);
    if (then == now)
        return QString();
    return text(QStringLiteral("User \"%1\" is \"%2\" now and was \"%3\" in the backup.  The user ID may have been "
                               "given to another person."))
        .arg(d->who, now, then);
}

RestoreResult UserRestore::plan() const { return planFor(d->backupSide, d->backup, d->live, d->databases); }

namespace {

// The items of a row in the order the supervisor knows them from the
// permission windows: named fields with their captions first, then the
// remaining content fields by name.
QList<QPair<QString, QString>> itemsOf(int table, const Image& layout)
{
    QList<QPair<QString, QString>> items; // field, caption
    if (table == UserPrefTable) {
        items << qMakePair(catalogue::fFullName, text(QStringLiteral("Full name")))
              << qMakePair(catalogue::fSuperUser, text(QStringLiteral("Supervisor")));
        const QStringList names = catalogue::systemFlagNames();
        for (int i = 0; i < names.size(); ++i)
            items << qMakePair(names[i], permissions::systemCaptions().value(i).trimmed());
        items << qMakePair(catalogue::fPassword, text(QStringLiteral("Password")));
    } else if (table == PermTable) {
        items << qMakePair(QStringLiteral("Access"), text(QStringLiteral("Access")));
        for (const auto& kind : permissions::recordKinds())
            for (const auto& op : permissions::kindOperations())
                items << qMakePair(kind.letter + op.suffix, kind.dialogLabel + QStringLiteral(": ") + op.dialogLabel);
        for (const auto& tab : permissions::tabFlags())
            items << qMakePair(tab.field, tab.caption);
        const QStringList names = catalogue::actionFlagNames();
        for (int i = 0; i < names.size(); ++i)
            items << qMakePair(names[i], permissions::actionCaptions().value(i).trimmed());
    }
    for (const auto& column : layout.columns) {
        const bool named = std::any_of(items.cbegin(), items.cend(), [&](const auto& item) {
            return item.first.compare(column.name, Qt::CaseInsensitive) == 0;
        });
        if (!named && !isIdentityField(column.name))
            items << qMakePair(column.name, column.name);
    }
    // Only the fields this layout has.
    items.erase(std::remove_if(items.begin(), items.end(), [&](const auto& item) { return layout.col(item.first) < 0; }),
                items.end());
    return items;
}

} // namespace

QList<CompareLine> UserRestore::compare() const
{
    QList<CompareLine> lines;
    const QString noRow = text(QStringLiteral("(no row)"));
    auto section = [&](int table, const QString& title, const QString& db) {
        const Image& layout = d->backupSide.images[table];
        const std::optional<Row> then = d->backup.row(table, db);
        const std::optional<Row> now = d->live.row(table, db);
        for (const auto& [field, caption] : itemsOf(table, layout)) {
            const int i = layout.col(field);
            const store::FieldType type = layout.columns[i].type;
            CompareLine line{title, caption, then ? displayText(type, (*then)[i]) : noRow,
                             now ? displayText(type, (*now)[i]) : noRow,
                             !then || !now || !sameValue(type, (*then)[i], (*now)[i])};
            if (table == UserPrefTable && field == catalogue::fPassword) {
                // The password itself is never shown.
                line.backup = then ? text(QStringLiteral("(not shown)")) : noRow;
                line.now = !now ? noRow
                                : text(line.differs ? QStringLiteral("differs") : QStringLiteral("same"));
            }
            lines << line;
        }
    };
    section(UserPrefTable, text(QStringLiteral("User")), QString());
    QStringList dbs = d->backup.byDb[PermTable].keys() + d->live.byDb[PermTable].keys()
                      + d->backup.byDb[UserDbTable].keys() + d->live.byDb[UserDbTable].keys();
    dbs.removeDuplicates();
    dbs.sort();
    for (const QString& db : dbs) {
        section(PermTable, text(QStringLiteral("Permissions in %1")).arg(db), db);
        section(UserDbTable, text(QStringLiteral("Settings in %1")).arg(db), db);
    }
    return lines;
}

QStringList UserRestore::differenceLines() const
{
    QStringList out;
    for (const CompareLine& line : compare())
        if (line.differs)
            out << text(QStringLiteral("%1: %2: %3 -> %4"))
                       .arg(line.section, line.item, line.backup.isEmpty() ? QStringLiteral("(blank)") : line.backup,
                            line.now.isEmpty() ? QStringLiteral("(blank)") : line.now);
    return out;
}

namespace {

// The live table objects of a restore, all opened before anything is
// written: a table another program holds exclusively stops the restore
// while nothing has changed.
struct LiveTables {
    store::Table tables[TableCount];

    LiveTables()
    {
        for (int t = 0; t < TableCount; ++t) {
            tables[t].setDatabaseName(catalogue::kAlias);
            tables[t].setTableName(tableName(t));
            tables[t].open();
        }
    }
};

QVariantList keyOf(int table, const QString& who, const QString& db)
{
    return table == UserPrefTable ? QVariantList{who} : QVariantList{db, who};
}

// The current row of the table as stored values in the image's field order.
Row currentRow(store::Table& t, const Image& layout)
{
    Row row(layout.columns.size());
    for (int i = 0; i < row.size(); ++i)
        row[i] = t.fieldByName(layout.columns[i].name).value();
    return row;
}

} // namespace

RestoreResult UserRestore::restore(bool dryRun)
{
    RestoreResult planned = plan();
    planned.dryRun = dryRun;
    if (dryRun || planned.rows.isEmpty())
        return planned;

    const QString nothingRestored = text(QStringLiteral("User \"%1\" could not be restored.  Nothing was restored."))
                                        .arg(d->who);
    std::unique_ptr<LiveTables> live;
    Side now;
    QStringList databases;
    try {
        live = std::make_unique<LiveTables>();
        for (int t = 0; t < TableCount; ++t)
            now.images[t] = readLive(t, d->who);
        databases = liveDatabases();
    } catch (const store::StoreError& e) {
        throw RestoreError(nothingRestored, e.message());
    }

    // The rows must still be as they were shown, or the restore would
    // overwrite a change the supervisor has not seen.
    const UserRows rowsNow = now.rowsOf(d->who);
    if (!d->live.pref && rowsNow.pref)
        throw RestoreError(text(QStringLiteral("The user ID \"%1\" has been given to another user since the backup "
                                               "was shown.  The deleted user was not restored."))
                               .arg(d->who));
    const QString changedMeanwhile = text(QStringLiteral("The rows of user \"%1\" were changed by another program "
                                                         "since they were shown.  Nothing was restored.  Show the "
                                                         "user again to see the rows as they are now."))
                                         .arg(d->who);
    for (const RestoredRow& row : planned.rows) {
        const int t = tableName(PermTable) == row.table ? PermTable : tableName(UserDbTable) == row.table ? UserDbTable
                                                                                                            : UserPrefTable;
        if (!sameRow(d->backupSide.images[t], d->live.row(t, row.db), rowsNow.row(t, row.db)))
            throw RestoreError(changedMeanwhile);
        if (t != UserPrefTable && !databases.contains(row.db))
            throw RestoreError(changedMeanwhile, QStringLiteral("The database %1 was removed.").arg(row.db));
    }

    RestoreResult done;
    done.leftOut = planned.leftOut;
    for (int t = 0; t < TableCount; ++t) {
        store::Table& table = live->tables[t];
        const Image& layout = d->backupSide.images[t];
        try {
            // One table's rows are restored together or not at all.
            store::ChangeUnit unit(table);
            for (const RestoredRow& row : planned.rows) {
                if (row.table != tableName(t))
                    continue;
                const Row then = *d->backup.row(t, row.db);
                if (row.kind == RestoredRow::Added) {
                    table.insert();
                    for (int i = 0; i < layout.columns.size(); ++i) {
                        store::Field& field = table.fieldByName(layout.columns[i].name);
                        if (field.fieldName().compare(catalogue::fSyncwellNo, Qt::CaseInsensitive) == 0)
                            field.setAsString(newRecordId()); // a new row has an identity of its own
                        else
                            setStored(field, then[i]);
                    }
                    table.post();
                    support::journalrecord(table, support::ActionAdded);
                } else {
                    if (!table.findKey(keyOf(t, d->who, row.db)))
                        throw RestoreError(changedMeanwhile);
                    table.edit(); // the row as the file holds it now
                    if (!sameRow(layout, currentRow(table, layout), d->live.row(t, row.db))) {
                        table.cancel();
                        throw RestoreError(changedMeanwhile);
                    }
                    for (const QString& name : row.fields)
                        setStored(table.fieldByName(name), then[layout.col(name)]);
                    table.post();
                    support::journalrecord(table, support::ActionChanged);
                }
            }
            unit.commit();
        } catch (const std::exception& e) {
            if (table.state() != store::TableState::Browse && table.active())
                table.cancel();
            QString detail;
            if (const auto* store = dynamic_cast<const store::StoreError*>(&e))
                detail = store->message();
            else if (const auto* restore = dynamic_cast<const RestoreError*>(&e))
                detail = restore->message + (restore->detail.isEmpty() ? QString() : QLatin1Char(' ') + restore->detail);
            else
                detail = QString::fromStdString(e.what());
            if (done.rows.isEmpty())
                throw RestoreError(nothingRestored, detail);
            throw RestoreError(text(QStringLiteral("Restoring user \"%1\" stopped at the %2 table.  Restored before "
                                                   "that: %3"))
                                   .arg(d->who, tableName(t), done.lines().join(QStringLiteral("; "))),
                               detail);
        }
        for (const RestoredRow& row : planned.rows)
            if (row.table == tableName(t))
                done.rows.append(row);
    }

    // What was restored is what the tables hold now; a failed read keeps
    // the rows as read before, and a later restore then finds them changed.
    try {
        Side fresh;
        for (int t = 0; t < TableCount; ++t)
            fresh.images[t] = readLive(t, d->who);
        d->live = fresh.rowsOf(d->who);
        d->liveSide = std::move(fresh);
    } catch (const store::StoreError&) {
    }
    return done;
}

} // namespace shell
