#include "tools/admin/Checks.h"

#include "accounts/UserRows.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Messages.h"
#include "support/Text.h"

namespace admin {

namespace {

constexpr int kUserIdLength = 3; // the windows' ID boxes take three characters

} // namespace

QString userNotFoundMessage(const QString& who)
{
    return support::uiText(QStringLiteral("Error ... could not locate user \"%1\"")).arg(who);
}

bool checkUserId(const QString& who)
{
    QString problem = accounts::userIdProblem(who);
    if (problem.isEmpty() && who.size() > kUserIdLength)
        problem = QStringLiteral("The user ID \"%1\" is longer than %2 characters.").arg(who).arg(kUserIdLength);
    if (problem.isEmpty())
        return true;
    support::showError(problem);
    return false;
}

bool findUser(store::Table& userPref, const QString& who)
{
    if (!checkUserId(who))
        return false;
    if (userPref.findKey({who}))
        return true;
    support::showError(userNotFoundMessage(who));
    return false;
}

bool checkFits(store::Table& table, const QString& field, const QString& value, const QString& what)
{
    const int size = table.fieldByName(field).size();
    if (size <= 0 || value.size() <= size)
        return true;
    support::showError(QStringLiteral("The %1 is longer than %2 characters.").arg(what).arg(size));
    return false;
}

bool parseOnOff(const QString& value, bool* on)
{
    if (value.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0)
        *on = true;
    else if (value.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        *on = false;
    else
        return false;
    return true;
}

bool parseList(const QString& value, const QStringList& allowed, QStringList* names, QString* unknown)
{
    names->clear();
    for (const QString& part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = part.trimmed().toLower();
        if (!allowed.contains(name)) {
            *unknown = part.trimmed();
            return false;
        }
        if (!names->contains(name))
            names->append(name);
    }
    return true;
}

} // namespace admin
