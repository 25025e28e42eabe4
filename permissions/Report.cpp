#include "permissions/Report.h"

#include "permissions/PermModel.h"
#include "permissions/PermTexts.h"
#include "store/Catalogue.h"
#include "store/Field.h"
#include "store/Table.h"
#include "support/Text.h"

#include <QHash>

namespace permissions {

namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

std::optional<bool> storedFlag(const QVariant& stored)
{
    if (!stored.isValid() || stored.isNull())
        return std::nullopt;
    return store::storedValueBoolean(stored); // a value that is neither reads false
}

// The fields of a run as the open table names them, in position order.
QStringList runFields(store::Table& table, const FlagRun& run)
{
    QStringList names;
    for (int i = run.first; i <= run.last; ++i)
        names << table.field(i).fieldName();
    return names;
}

QString systemCaption(int i)
{
    return i < systemCaptions().size() ? systemCaptions()[i] : QString();
}

QString kindCaption(const RecordKind& kind, const KindOperation& op)
{
    return kind.dialogLabel + QStringLiteral(": ") + op.dialogLabel;
}

QVector<PermissionField> readPermissionFields(store::Table& perm)
{
    QVector<PermissionField> fields;
    fields.append({perm.fieldByName(QStringLiteral("Access")).fieldName(), sectionData(), accessCaption()});
    for (const RecordKind& kind : recordKinds())
        for (const KindOperation& op : kindOperations())
            fields.append({perm.fieldByName(kind.letter + op.suffix).fieldName(), sectionData(), kindCaption(kind, op)});
    for (const TabFlag& tab : tabFlags())
        fields.append({perm.fieldByName(tab.field).fieldName(), sectionTabs(), tab.caption});
    const QStringList actions = runFields(perm, actionRun(perm));
    for (int i = 0; i < actions.size() && i < actionCaptions().size(); ++i)
        fields.append({actions[i], sectionActions(), actionCaptions()[i]});
    return fields;
}

struct UserRow {
    QString who;
    QString fullName;
    bool superUser = false;
    QVector<std::optional<bool>> system; // the 49 flags
};

struct DatabaseRow {
    QString db;
    QString description;
};

// Everything the report reads, in one pass over the three tables: the users
// and databases in key order, and each stored permission row by (DB, Who).
struct Snapshot {
    QVector<PermissionField> permFields;
    QStringList systemFields;
    QVector<UserRow> users;
    QVector<DatabaseRow> databases;
    QHash<QString, QVector<std::optional<bool>>> perms; // key: pairKey(db, who)

    static QString pairKey(const QString& db, const QString& who) { return db + QChar(0) + who; }
    const QVector<std::optional<bool>>* permRow(const QString& db, const QString& who) const
    {
        const auto it = perms.constFind(pairKey(db, who));
        return it == perms.constEnd() ? nullptr : &it.value();
    }
    // The value of permission field i of the pair; empty without a row.
    std::optional<bool> value(const QString& db, const QString& who, int i) const
    {
        const auto* row = permRow(db, who);
        return row ? row->at(i) : std::nullopt;
    }
};

// Only the permission rows whose matchField (DB or Who) holds matchValue
// when one is given: one user's or one database's report needs no more.
Snapshot readSnapshot(const QString& matchField = QString(), const QString& matchValue = QString())
{
    Snapshot s;
    store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
    store::Table database(catalogue::kAlias, catalogue::kDatabase);
    store::Table perm(catalogue::kAlias, catalogue::kPerm);
    userPref.open();
    database.open();
    perm.open();

    s.systemFields = runFields(userPref, systemRun(userPref));
    for (const store::RowSnapshot& row :
         userPref.snapshot(QStringList{catalogue::fWho, catalogue::fFullName, catalogue::fSuperUser} + s.systemFields)) {
        UserRow user{row.values[0].toString(), row.values[1].toString(),
                     storedFlag(row.values[2]).value_or(false), {}};
        for (int i = 3; i < row.values.size(); ++i)
            user.system.append(storedFlag(row.values[i]));
        s.users.append(user);
    }
    for (const store::RowSnapshot& row : database.snapshot({catalogue::fDb, catalogue::fDescription}))
        s.databases.append({row.values[0].toString(), row.values[1].toString()});

    s.permFields = readPermissionFields(perm);
    QStringList names{catalogue::fDb, catalogue::fWho};
    for (const PermissionField& f : s.permFields)
        names << f.field;
    const QStringList matchValues = matchField.isEmpty() ? QStringList() : QStringList{matchValue};
    for (const store::RowSnapshot& row : perm.snapshot(names, matchField, matchValues)) {
        QVector<std::optional<bool>> values;
        for (int i = 2; i < row.values.size(); ++i)
            values.append(storedFlag(row.values[i]));
        s.perms.insert(Snapshot::pairKey(row.values[0].toString(), row.values[1].toString()), values);
    }
    return s;
}

const UserRow& findUser(const Snapshot& s, const QString& who)
{
    for (const UserRow& user : s.users)
        if (user.who == who)
            return user;
    throw ReportError(text("There is no user with the ID \"%1\".").arg(who));
}

const DatabaseRow& findDatabase(const Snapshot& s, const QString& db)
{
    for (const DatabaseRow& row : s.databases)
        if (row.db == db)
            return row;
    throw ReportError(text("There is no database \"%1\".").arg(db));
}

// Index of a permission field named in any case.
int findPermissionField(const Snapshot& s, const QString& field)
{
    for (int i = 0; i < s.permFields.size(); ++i)
        if (s.permFields[i].field.compare(field, Qt::CaseInsensitive) == 0)
            return i;
    throw ReportError(text("\"%1\" is no permission of a database; name a field of the permission table, "
                           "such as Access, CAdd, EmailTab or ActBrowse.")
                          .arg(field));
}

DatabaseGrant databaseGrant(const Snapshot& s, const DatabaseRow& db, const QString& who)
{
    DatabaseGrant grant{db.db, db.description, {}, {}, {}};
    auto on = [&](int i) { return s.value(db.db, who, i).value_or(false); };
    int i = 1; // after Access
    for (const RecordKind& kind : recordKinds()) {
        grant.kinds.append({kind.dialogLabel, on(i), on(i + 1), on(i + 2), on(i + 3)});
        i += kindOperations().size();
    }
    for (; i < s.permFields.size(); ++i) {
        const Flag flag{s.permFields[i].field, s.permFields[i].caption, on(i)};
        (s.permFields[i].section == sectionTabs() ? grant.tabs : grant.actions).append(flag);
    }
    return grant;
}

bool anyDenied(const DatabaseGrant& grant)
{
    for (const KindGrant& k : grant.kinds)
        if (!(k.view && k.add && k.change && k.remove))
            return true;
    for (const QVector<Flag>* flags : {&grant.tabs, &grant.actions})
        for (const Flag& f : *flags)
            if (!f.value)
                return true;
    return false;
}

} // namespace

QString sectionData() { return text("Data"); }
QString sectionTabs() { return text("Visible Tabs"); }
QString sectionActions() { return text("Actions"); }
QString sectionSystem() { return text("System"); }
QString sectionSupervisor() { return text("Supervisor"); }

QVector<PermissionField> permissionFields()
{
    store::Table perm(catalogue::kAlias, catalogue::kPerm);
    perm.open();
    return readPermissionFields(perm);
}

UserReport userReport(const QString& who, const QString& db)
{
    const Snapshot s = readSnapshot(catalogue::fWho, who);
    const UserRow& user = findUser(s, who);
    if (!db.isEmpty())
        findDatabase(s, db);

    UserReport report;
    report.who = user.who;
    report.fullName = user.fullName;
    report.superUser = user.superUser;
    bool denied = false;
    for (const DatabaseRow& row : s.databases) {
        if (!db.isEmpty() && row.db != db)
            continue;
        if (!s.permRow(row.db, who)) {
            report.noRow << row.db; // made granting everything: nothing false
        } else if (!s.value(row.db, who, 0).value_or(false)) {
            report.noAccess << row.db;
            denied = true;
        } else {
            report.databases.append(databaseGrant(s, row, who));
            denied = denied || anyDenied(report.databases.last());
        }
    }
    for (int i = 0; i < s.systemFields.size(); ++i) {
        const bool value = user.system[i].value_or(false);
        report.systemFlags.append({s.systemFields[i], systemCaption(i), value});
        denied = denied || !value;
    }
    report.supervisorWarning = user.superUser && denied;
    return report;
}

WhoCan whoCan(const QString& db, const QString& field)
{
    const Snapshot s = readSnapshot(catalogue::fDb, db);
    findDatabase(s, db);
    const int i = findPermissionField(s, field);
    WhoCan result{db, s.permFields[i].field, s.permFields[i].section, s.permFields[i].caption, {}};
    for (const UserRow& user : s.users) {
        const bool granted = s.value(db, user.who, 0).value_or(false) && s.value(db, user.who, i).value_or(false);
        if (granted || user.superUser)
            result.users.append({user.who, user.fullName, user.superUser, granted});
        else if (!s.permRow(db, user.who))
            result.noRow.append({user.who, user.fullName, user.superUser, false});
    }
    return result;
}

QVector<ReportRow> fullReport()
{
    const Snapshot s = readSnapshot();
    QVector<ReportRow> rows;
    for (const UserRow& user : s.users) {
        auto row = [&](const QString& db, const QString& section, const QString& field, const QString& caption,
                       std::optional<bool> value) {
            rows.append({user.who, user.fullName, user.superUser, db, section, field, caption, value});
        };
        for (const DatabaseRow& db : s.databases)
            for (int i = 0; i < s.permFields.size(); ++i)
                row(db.db, s.permFields[i].section, s.permFields[i].field, s.permFields[i].caption,
                    s.value(db.db, user.who, i));
        for (int i = 0; i < s.systemFields.size(); ++i)
            row(QString(), sectionSystem(), s.systemFields[i], systemCaption(i), user.system[i]);
        row(QString(), sectionSupervisor(), catalogue::fSuperUser, supervisorCaption(), user.superUser);
    }
    return rows;
}

QVector<ReportRow> userReportRows(const UserReport& report)
{
    QVector<ReportRow> rows;
    auto row = [&](const QString& db, const QString& field, const QString& section, const QString& caption,
                   std::optional<bool> value) {
        rows.append({report.who, report.fullName, report.superUser, db, section, field, caption, value});
    };
    for (const DatabaseGrant& grant : report.databases) {
        row(grant.db, QStringLiteral("Access"), sectionData(), accessCaption(), true);
        int k = 0;
        for (const KindGrant& kind : grant.kinds) {
            const RecordKind& rk = recordKinds()[k++];
            const bool values[] = {kind.view, kind.add, kind.change, kind.remove};
            for (int op = 0; op < kindOperations().size(); ++op)
                row(grant.db, rk.letter + kindOperations()[op].suffix, sectionData(),
                    kindCaption(rk, kindOperations()[op]), values[op]);
        }
        for (const Flag& f : grant.tabs)
            row(grant.db, f.field, sectionTabs(), f.caption, f.value);
        for (const Flag& f : grant.actions)
            row(grant.db, f.field, sectionActions(), f.caption, f.value);
    }
    for (const QString& db : report.noAccess)
        row(db, QStringLiteral("Access"), sectionData(), accessCaption(), false);
    for (const QString& db : report.noRow)
        row(db, QStringLiteral("Access"), sectionData(), accessCaption(), std::nullopt);
    for (const Flag& f : report.systemFlags)
        row(QString(), f.field, sectionSystem(), f.caption, f.value);
    row(QString(), catalogue::fSuperUser, sectionSupervisor(), supervisorCaption(), report.superUser);
    return rows;
}

} // namespace permissions
