// The user commands: the list, adding, deleting, the global replace of an ID
// and the copy of settings groups, each through the windows' own domain code.
#include "tools/admin/Checks.h"
#include "tools/admin/Command.h"

#include "accounts/CopySettings.h"
#include "accounts/ReplaceWalk.h"
#include "accounts/UserRows.h"
#include "shell/DeleteUser.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Messages.h"
#include "support/Text.h"

#include <QJsonArray>

#include <memory>
#include <vector>

namespace admin {

namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

int listUsers(Context& c)
{
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    QList<QVariantList> rows;
    for (users.first(); !users.eof(); users.next())
        rows.append({users.fieldByName(catalogue::fWho).asString(), users.fieldByName(catalogue::fFullName).asString(),
                     users.fieldByName(catalogue::fSuperUser).asBoolean()});
    // The main window's column titles.
    c.out.table({text("Who"), text("Full Name"), text("Supervisor?")},
                {QStringLiteral("who"), QStringLiteral("fullName"), QStringLiteral("supervisor")}, rows);
    return ExitOk;
}

int addUser(Context& c)
{
    // The ID box turns what is typed into capitals.
    const QString who = c.args.positional[0].toUpper();
    const QString fullName = c.args.positional[1];
    const QString password = accounts::storedPassword(c.args.value(QStringLiteral("password")));
    const bool supervisor = c.args.has(QStringLiteral("supervisor"));
    if (!checkUserId(who))
        return ExitFailed;
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    if (!checkFits(users, catalogue::fFullName, fullName, QStringLiteral("full name"))
        || !checkFits(users, catalogue::fPassword, password, QStringLiteral("password")))
        return ExitFailed;
    if (users.findKey({who})) {
        support::showError(accounts::userIdInUseMessage());
        return ExitFailed;
    }
    accounts::startNewUser(users);
    try {
        users.fieldByName(catalogue::fWho).setAsString(who);
        users.fieldByName(catalogue::fFullName).setAsString(fullName);
        if (c.args.has(QStringLiteral("password")))
            users.fieldByName(catalogue::fPassword).setAsString(password);
        // Every other flag keeps the new user's default; supervisor only when
        // asked for, so that a script never makes one by leaving a word out.
        users.fieldByName(catalogue::fSuperUser).setAsBoolean(supervisor);
        accounts::saveUserRow(users);
    } catch (const std::exception& error) {
        if (users.state() == store::TableState::Insert)
            users.cancel();
        support::showError(accounts::userIdInUseMessage(), error);
        return ExitFailed;
    }
    c.out.result({{QStringLiteral("added"), who}, {QStringLiteral("fullName"), fullName},
                  {QStringLiteral("supervisor"), supervisor}},
                 {QStringLiteral("added"), who});
    return ExitOk;
}

// CONTACT.DB opened exclusively: while it is held no client starts. False
// (told) when somebody has it open.
bool holdContactTable(store::Table& contact)
{
    contact.setExclusive(true);
    try {
        contact.open();
    } catch (const std::exception& error) {
        support::showError(shell::contactInUseMessage(), error);
        return false;
    }
    return true;
}

int deleteUser(Context& c)
{
    const QString who = c.args.positional[0];
    if (!checkUserId(who))
        return ExitFailed;
    store::Table contact(catalogue::kAlias, catalogue::kContact);
    if (!holdContactTable(contact))
        return ExitFailed;
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    if (!findUser(users, who))
        return ExitFailed;
    const QStringList names{catalogue::kUserDb, catalogue::kPerm, catalogue::kHoliday,
                            catalogue::kInOut, catalogue::kMarks, catalogue::kUsersOn};
    std::vector<std::unique_ptr<store::Table>> tables;
    QList<store::Table*> pointers;
    for (const QString& name : names) {
        tables.push_back(std::make_unique<store::Table>(catalogue::kAlias, name));
        pointers << tables.back().get();
    }
    shell::deleteCurrentUser(users, pointers);
    c.out.result({{QStringLiteral("deleted"), who}}, {QStringLiteral("deleted"), who});
    return ExitOk;
}

// The replace dialog's five boxes by name.
const QStringList& replaceTableNames()
{
    static const QStringList names{QStringLiteral("contacts"), QStringLiteral("notdone"), QStringLiteral("done"),
                                   QStringLiteral("marketing"), QStringLiteral("holiday")};
    return names;
}

int renameId(Context& c)
{
    // The source box trims trailing blanks and turns letters into capitals;
    // a blank source hands over the rows that have no owner.
    const QString source = support::trimRight(c.args.positional[0]).toUpper();
    const QString target = c.args.positional[1];
    QStringList ticked = replaceTableNames();
    if (c.args.has(QStringLiteral("tables"))) {
        QString unknown;
        if (!parseList(c.args.value(QStringLiteral("tables")), replaceTableNames(), &ticked, &unknown))
            return c.out.usage(QStringLiteral("unknown table '%1' (one of: %2)")
                                   .arg(unknown, replaceTableNames().join(QStringLiteral(","))),
                               QStringLiteral("user rename-id"));
        if (ticked.isEmpty())
            return c.out.usage(QStringLiteral("--tables names no table"), QStringLiteral("user rename-id"));
    }
    accounts::ReplaceChoice choice;
    choice.contacts = ticked.contains(QStringLiteral("contacts"));
    choice.eventsNotDone = ticked.contains(QStringLiteral("notdone"));
    choice.eventsDone = ticked.contains(QStringLiteral("done"));
    choice.marketing = ticked.contains(QStringLiteral("marketing"));
    choice.holiday = ticked.contains(QStringLiteral("holiday"));

    if (source.size() > 3) {
        checkUserId(source); // tells the length
        return ExitFailed;
    }
    if (support::isBlank(target)) {
        support::showError(text("The \"Replace with this user ID\" field cannot be blank."));
        return ExitFailed;
    }
    {
        // The target is one of the users, as the dialog's list offers.
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        if (!findUser(users, target))
            return ExitFailed;
    }
    const bool dryRun = c.args.has(QStringLiteral("dry-run"));
    if (!dryRun) {
        // As the main window does before it opens the dialog.
        store::Table contact(catalogue::kAlias, catalogue::kContact);
        if (!holdContactTable(contact))
            return ExitFailed;
    }

    const accounts::ReplaceCounts counts = accounts::countReplace(source, choice);
    struct Line {
        bool ticked;
        QString key, table;
        qint64 rows;
    };
    const QList<Line> lines{
        {choice.contacts, QStringLiteral("contacts"), catalogue::kContact, counts.contacts},
        {choice.eventsNotDone, QStringLiteral("notdone"), catalogue::kEvent + QStringLiteral(" not done"),
         counts.eventsNotDone},
        {choice.eventsDone, QStringLiteral("done"), catalogue::kEvent + QStringLiteral(" done"), counts.eventsDone},
        {choice.holiday, QStringLiteral("holiday"), catalogue::kHoliday, counts.holiday},
        {choice.marketing, QStringLiteral("steps"), catalogue::kSteps, counts.steps},
        {choice.marketing, QStringLiteral("actions"), catalogue::kActions, counts.actions},
    };
    if (!counts.unreadable.isEmpty())
        support::showError(accounts::previewText(counts, choice));
    QList<QVariantList> rows;
    QJsonObject countObject;
    for (const Line& line : lines) {
        if (!line.ticked)
            continue;
        const QString table = line.table.section(QLatin1Char(' '), 0, 0);
        const QVariant rowsValue = counts.unreadable.contains(table) ? QVariant() : QVariant(line.rows);
        rows.append({line.table, rowsValue});
        countObject.insert(line.key, QJsonValue::fromVariant(rowsValue));
    }
    if (dryRun || !counts.unreadable.isEmpty()) {
        if (c.out.json())
            c.out.result({{QStringLiteral("source"), source}, {QStringLiteral("target"), target},
                          {QStringLiteral("counts"), countObject}, {QStringLiteral("replaced"), false}});
        else
            c.out.table({QStringLiteral("Table"), QStringLiteral("Rows")}, {}, rows);
        return counts.unreadable.isEmpty() ? ExitOk : ExitFailed;
    }
    if (!c.out.json())
        c.out.table({QStringLiteral("Table"), QStringLiteral("Rows")}, {}, rows);
    accounts::replaceAll(source, target, choice);
    if (c.out.json())
        c.out.result({{QStringLiteral("source"), source}, {QStringLiteral("target"), target},
                      {QStringLiteral("counts"), countObject}, {QStringLiteral("replaced"), true}});
    else
        c.out.text(text("Finished"));
    return ExitOk;
}

// The copy dialog's boxes by name, in the order of preferenceGroups().
const QStringList& groupNames()
{
    static const QStringList names{QStringLiteral("phone"),       QStringLiteral("data-entry"),
                                   QStringLiteral("word-processing"), QStringLiteral("envelope"),
                                   QStringLiteral("report-font"), QStringLiteral("alarm"),
                                   QStringLiteral("fax"),         QStringLiteral("label-printer"),
                                   QStringLiteral("email"),       QStringLiteral("duplicates")};
    return names;
}

int copySettings(Context& c)
{
    const QString from = c.args.positional[0];
    const QString to = c.args.positional[1];
    const QStringList allowed = groupNames() + QStringList{QStringLiteral("permissions"), QStringLiteral("all")};
    QStringList groups;
    QString unknown;
    if (!c.args.has(QStringLiteral("groups")))
        return c.out.usage(QStringLiteral("--groups is required"), QStringLiteral("copy-settings"));
    if (!parseList(c.args.value(QStringLiteral("groups")), allowed, &groups, &unknown))
        return c.out.usage(QStringLiteral("unknown group '%1' (one of: %2)").arg(unknown, allowed.join(QLatin1Char(','))),
                           QStringLiteral("copy-settings"));
    if (!checkUserId(from) || !checkUserId(to))
        return ExitFailed;
    if (from == to) {
        support::showError(accounts::sameUserMessage());
        return ExitFailed;
    }
    accounts::CopySelection selection;
    selection.permissions = groups.contains(QStringLiteral("permissions"));
    selection.all = groups.contains(QStringLiteral("all"));
    for (int g = 0; g < groupNames().size(); ++g)
        selection.groups[size_t(g)] = groups.contains(groupNames()[g]);

    store::Table fromTable(catalogue::kAlias, catalogue::kUserPref);
    store::Table toTable(catalogue::kAlias, catalogue::kUserPref);
    fromTable.open();
    toTable.open();
    switch (accounts::copyUserSettings(fromTable, toTable, from, to, selection)) {
    case accounts::CopyOutcome::UserMissing:
        return ExitFailed;
    case accounts::CopyOutcome::NothingSelected:
        c.out.result({{QStringLiteral("copied"), false}}, {accounts::nothingCopiedMessage()});
        return ExitOk;
    case accounts::CopyOutcome::Copied:
        break;
    }
    c.out.result({{QStringLiteral("copied"), true}, {QStringLiteral("from"), from}, {QStringLiteral("to"), to},
                  {QStringLiteral("groups"), QJsonArray::fromStringList(groups)}},
                 {accounts::copiedMessage(from, to)});
    return ExitOk;
}

} // namespace

QList<Command> userCommands()
{
    const Option password{QStringLiteral("password"), QStringLiteral("P"),
                          QStringLiteral("the password (stored in lower case, as the password dialog does)")};
    const Option supervisor{QStringLiteral("supervisor"), QString(), QStringLiteral("make the user a supervisor")};
    const Option tables{QStringLiteral("tables"), QStringLiteral("LIST"),
                        QStringLiteral("comma-separated: contacts,notdone,done,marketing,holiday (default: all)")};
    const Option dryRun{QStringLiteral("dry-run"), QString(), QStringLiteral("only count the rows; change nothing")};
    const Option groups{QStringLiteral("groups"), QStringLiteral("LIST"),
                        QStringLiteral("comma-separated: ") + groupNames().join(QLatin1Char(','))
                            + QStringLiteral(",permissions,all")};
    return {
        {{QStringLiteral("users")}, QString(), QStringLiteral("list the users: ID, full name, supervisor flag"),
         QString(), {}, 0, 0, listUsers},
        {{QStringLiteral("user"), QStringLiteral("add")}, QStringLiteral("WHO \"FULL NAME\""),
         QStringLiteral("add a user with a new user's defaults (journalled)"),
         QStringLiteral("WHO is two or three characters, turned into capitals. The user gets every system "
                        "permission, as in the window,\nbut is a supervisor only with --supervisor. Permission rows "
                        "follow from 'perms set' or Brisel's exit clean-up."),
         {password, supervisor}, 2, 2, addUser},
        {{QStringLiteral("user"), QStringLiteral("delete")}, QStringLiteral("WHO"),
         QStringLiteral("delete a user and the user's own rows (refused while Kontiva is in use)"),
         QStringLiteral("Removes the user row (journalled) and the user's rows of USERDB, PERM, holiday, inout, marks "
                        "and userson.\nContacts, events and marketing plans stay: hand them over with 'user "
                        "rename-id'."),
         {}, 1, 1, deleteUser},
        {{QStringLiteral("user"), QStringLiteral("rename-id")}, QStringLiteral("OLD NEW"),
         QStringLiteral("hand the rows of ID OLD over to the existing user NEW (journalled)"),
         QStringLiteral("Prints the rows each table will change, then replaces them. OLD may be an ID that no longer "
                        "exists,\nor \"\" for rows without an owner. Refused while Kontiva is in use (but for "
                        "--dry-run)."),
         {tables, dryRun}, 2, 2, renameId},
        {{QStringLiteral("copy-settings")}, QStringLiteral("FROM TO"),
         QStringLiteral("copy groups of settings (and permission flags) from one user to another"),
         QStringLiteral("Only fields that differ are written, each journalled. 'permissions' copies the flags of "
                        "every database\nin which both users have a permission row."),
         {groups}, 2, 2, copySettings},
    };
}

} // namespace admin
