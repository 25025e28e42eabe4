// The log-in commands: who is on, and the force-off switch the clients obey.
#include "tools/admin/Checks.h"
#include "tools/admin/Command.h"

#include "login/ForceRow.h"
#include "login/WhosOnLines.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Clock.h"
#include "support/Messages.h"
#include "support/Text.h"

namespace admin {

namespace {

int whosOn(Context& c)
{
    store::Table usersOn(catalogue::kAlias, catalogue::kUsersOn);
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    store::Table userDb(catalogue::kAlias, catalogue::kUserDb);
    usersOn.open();
    users.open();
    userDb.open();
    QList<QVariantList> rows;
    for (const QStringList& line : login::whosOnLines(usersOn, users, userDb, support::nowDays())) {
        QVariantList row;
        for (const QString& cell : line)
            row << cell;
        rows << row;
    }
    c.out.table(login::whosOnHeadings(),
                {QStringLiteral("who"), QStringLiteral("fullName"), QStringLiteral("database"), QStringLiteral("since"),
                 QStringLiteral("duration"), QStringLiteral("times"), QStringLiteral("machine")},
                rows);
    return ExitOk;
}

int forceOff(Context& c)
{
    for (const char* required : {"by", "reason", "minutes"})
        if (!c.args.has(QString::fromLatin1(required)))
            return c.out.usage(QStringLiteral("--%1 is required").arg(QString::fromLatin1(required)),
                               QStringLiteral("force-off"));
    bool number = false;
    const int minutes = c.args.value(QStringLiteral("minutes")).toInt(&number);
    if (!number)
        return c.out.usage(QStringLiteral("--minutes takes a number"), QStringLiteral("force-off"));
    const QString who = c.args.value(QStringLiteral("by"));
    const QString reason = c.args.value(QStringLiteral("reason"));
    if (support::isBlank(who)) {
        support::showError(login::forceWhoBlankMessage());
        return ExitFailed;
    }
    if (support::isBlank(reason)) {
        support::showError(login::forceReasonBlankMessage());
        return ExitFailed;
    }
    if (minutes < login::kMinWarnMinutes || minutes > login::kMaxWarnMinutes) {
        support::showError(QStringLiteral("The warning time must be from %1 to %2 minutes.")
                               .arg(login::kMinWarnMinutes)
                               .arg(login::kMaxWarnMinutes));
        return ExitFailed;
    }
    {
        // "Who are you?" offers the users.
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        if (!findUser(users, who))
            return ExitFailed;
    }
    store::Table settings(catalogue::kAlias, catalogue::kSettings);
    settings.open();
    login::readForceRow(settings);
    if (!checkFits(settings, login::fForceReason, reason, QStringLiteral("reason")))
        return ExitFailed;
    if (settings.fieldByName(login::fForceOff).asBoolean()) {
        // The dialog's Force Off is disabled then: the first request's who,
        // when and why stay as the clients read them.
        support::showError(QStringLiteral("The users are already forced off (by %1).  Allow them on first.")
                               .arg(settings.fieldByName(login::fForceWho).asString()));
        return ExitFailed;
    }
    login::writeForceRow(settings, [&] { login::setForcedOff(settings, who, reason, minutes); });
    c.out.result({{QStringLiteral("forcedOff"), true}, {QStringLiteral("by"), who}, {QStringLiteral("reason"), reason},
                  {QStringLiteral("minutes"), minutes}},
                 {login::forcedOffMessage()});
    return ExitOk;
}

int allowOn(Context& c)
{
    store::Table settings(catalogue::kAlias, catalogue::kSettings);
    settings.open();
    login::readForceRow(settings);
    // Already on: nothing to write, and the outcome is the same.
    const bool wasOff = settings.fieldByName(login::fForceOff).asBoolean();
    if (wasOff)
        login::writeForceRow(settings, [&] { login::setAllowedOn(settings); });
    c.out.result({{QStringLiteral("forcedOff"), false}, {QStringLiteral("changed"), wasOff}},
                 {login::allowedOnMessage()});
    return ExitOk;
}

} // namespace

QList<Command> loginCommands()
{
    const QList<Option> forceOptions{
        {QStringLiteral("by"), QStringLiteral("WHO"), QStringLiteral("the user asking (\"Who are you?\")")},
        {QStringLiteral("reason"), QStringLiteral("TEXT"), QStringLiteral("the reason the clients show")},
        {QStringLiteral("minutes"), QStringLiteral("N"), QStringLiteral("the warning time, 1 to 15 minutes")},
    };
    return {
        {{QStringLiteral("whoson")}, QString(), QStringLiteral("list who is logged in, as the who's-on window shows it"),
         QString(), {}, 0, 0, whosOn},
        {{QStringLiteral("force-off")}, QString(),
         QStringLiteral("force the users off Kontiva and keep them off (refused when already forced off)"),
         QStringLiteral("The clients warn their users for the given minutes, then log them out, and refuse new "
                        "log-ins\nuntil 'allow-on'."),
         forceOptions, 0, 0, forceOff},
        {{QStringLiteral("allow-on")}, QString(), QStringLiteral("let the users log in again"), QString(), {}, 0, 0,
         allowOn},
    };
}

} // namespace admin
