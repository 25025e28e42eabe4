// The permission commands: one flag of a permission row (PERM.DB) or of a
// user row (USERPREF.DB), saved and journalled as the dialogs' OK saves it.
#include "tools/admin/Checks.h"
#include "tools/admin/Command.h"

#include "permissions/PermEdits.h"
#include "permissions/PermTexts.h"
#include "permissions/PermModel.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Messages.h"

namespace admin {

namespace {

bool findDatabase(const QString& db)
{
    store::Table databases(catalogue::kAlias, catalogue::kDatabase);
    databases.open();
    if (databases.findKey({db}))
        return true;
    support::showError(QStringLiteral("There is no contact database \"%1\".").arg(db));
    return false;
}

int setPerm(Context& c)
{
    const QString who = c.args.positional[0];
    const QString db = c.args.positional[1];
    const QString field = c.args.positional[2];
    bool on = false;
    if (!parseOnOff(c.args.positional[3], &on))
        return c.out.usage(QStringLiteral("the value must be on or off, not '%1'").arg(c.args.positional[3]),
                           QStringLiteral("perms set"));
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    if (!findUser(users, who) || !findDatabase(db))
        return ExitFailed;
    store::Table perm(catalogue::kAlias, catalogue::kPerm);
    perm.open();
    if (!permissions::isFlagField(perm, field)) {
        support::showError(QStringLiteral("%1 has no permission flag \"%2\".").arg(catalogue::kPerm, field));
        return ExitFailed;
    }
    const QString name = perm.fieldByName(field).fieldName();
    permissions::installPermHooks(perm);
    const bool changed = permissions::setPermFlag(perm, db, who, name, on);
    if (users.fieldByName(catalogue::fSuperUser).asBoolean() && perm.findKey({db, who})
        && permissions::permRowHasClearFlag(perm))
        support::showWarning(permissions::databaseSupervisorWarning());
    const QString value = on ? QStringLiteral("on") : QStringLiteral("off");
    c.out.result({{QStringLiteral("who"), who}, {QStringLiteral("db"), db}, {QStringLiteral("field"), name},
                  {QStringLiteral("value"), on}, {QStringLiteral("changed"), changed}},
                 {changed ? QStringLiteral("set") : QStringLiteral("unchanged"), who, db, name, value});
    return ExitOk;
}

int setSysPerm(Context& c)
{
    const QString who = c.args.positional[0];
    const QString field = c.args.positional[1];
    bool on = false;
    if (!parseOnOff(c.args.positional[2], &on))
        return c.out.usage(QStringLiteral("the value must be on or off, not '%1'").arg(c.args.positional[2]),
                           QStringLiteral("sysperm set"));
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    if (!findUser(users, who))
        return ExitFailed;
    // The system permissions dialog offers the run of system flags and the
    // supervisor flag, nothing else of the user row.
    store::Field* flag = users.findField(field);
    const permissions::FlagRun run = permissions::systemRun(users);
    const bool offered = flag
        && (flag->index() >= run.first && flag->index() <= run.last
            || flag->fieldName().compare(catalogue::fSuperUser, Qt::CaseInsensitive) == 0);
    if (!offered) {
        support::showError(QStringLiteral("%1 has no system flag \"%2\".").arg(catalogue::kUserPref, field));
        return ExitFailed;
    }
    const QString name = flag->fieldName();
    const bool changed = permissions::setUserFlag(users, name, on);
    if (users.fieldByName(catalogue::fSuperUser).asBoolean() && permissions::userRowHasClearSystemFlag(users))
        support::showWarning(permissions::sysSupervisorWarning());
    const QString value = on ? QStringLiteral("on") : QStringLiteral("off");
    c.out.result({{QStringLiteral("who"), who}, {QStringLiteral("field"), name}, {QStringLiteral("value"), on},
                  {QStringLiteral("changed"), changed}},
                 {changed ? QStringLiteral("set") : QStringLiteral("unchanged"), who, name, value});
    return ExitOk;
}

} // namespace

QList<Command> permCommands()
{
    return {
        {{QStringLiteral("perms"), QStringLiteral("set")}, QStringLiteral("WHO DB FIELD on|off"),
         QStringLiteral("set one flag of a user's permission row in a contact database (journalled)"),
         QStringLiteral("FIELD is a boolean field of PERM.DB as stored (Access, CAdd, actExport, ...), in any case. "
                        "A missing\npermission row is made first with every flag on, as the permission dialog "
                        "does."),
         {}, 4, 4, setPerm},
        {{QStringLiteral("sysperm"), QStringLiteral("set")}, QStringLiteral("WHO FIELD on|off"),
         QStringLiteral("set one system flag (sysBroadcast .. sysSetupWP) or SuperUser of a user (journalled)"),
         QString(), {}, 3, 3, setSysPerm},
    };
}

} // namespace admin
