#include "accounts/UserRows.h"

#include "shell/Records.h"
#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Text.h"

namespace accounts {

void startNewUser(store::Table& userPref)
{
    userPref.insert();
    shell::setTableBooleans(userPref, true);
    userPref.fieldByName(catalogue::fWho).setAsString(QString());
    userPref.fieldByName(QStringLiteral("Fullname")).setAsString(QString());
    for (const char* on : {"showhint", "Qanimation", "ViewStatus", "ViewButtons"})
        userPref.fieldByName(QString::fromLatin1(on)).setAsBoolean(true);
    for (const char* off : {"AutoFollowCall", "AutoFollowLtr", "AutoFollowEmail", "AutoFollowEnv", "AutoFollowLabel"})
        userPref.fieldByName(QString::fromLatin1(off)).setAsBoolean(false);
}

QString userIdProblem(const QString& who)
{
    if (support::isBlank(who))
        return support::uiText(QStringLiteral("The user ID or who field is blank."));
    if (who.size() == 1)
        return support::uiText(QStringLiteral("Use at least 2 characters for the user ID."));
    return QString();
}

void saveUserRow(store::Table& userPref)
{
    const bool modify = userPref.state() == store::TableState::Edit;
    store::ChangeUnit unit(userPref);
    userPref.post();
    if (modify) {
        support::journalfield(userPref, QStringLiteral("Fullname"), support::ActionField);
        support::journalfield(userPref, QStringLiteral("Password"), support::ActionField);
    } else {
        support::journalrecord(userPref, support::ActionAdded);
    }
    unit.commit();
}

QString userIdInUseMessage()
{
    return support::uiText(QStringLiteral("Try a different WHO value.  The user id is in use by somebody else."));
}

QString storedPassword(const QString& typed)
{
    return support::trimRight(typed).toLower();
}

} // namespace accounts
