#include "login/ForceRow.h"

#include "store/ChangeUnit.h"
#include "store/Table.h"
#include "support/Clock.h"
#include "support/Text.h"

#include <cmath>

namespace login {

namespace {

void startEditing(store::Table& table)
{
    if (table.state() == store::TableState::Browse)
        table.edit();
}

} // namespace

void setForceDefaults(store::Table& settings)
{
    settings.fieldByName(fForceOff).setAsBoolean(false);
    settings.fieldByName(fForceWarn).setAsInteger(kDefaultWarnMinutes);
    settings.fieldByName(fForcePlay).setAsBoolean(false);
    settings.fieldByName(fForceRepeat).setAsBoolean(false);
}

void readForceRow(store::Table& settings)
{
    if (settings.state() == store::TableState::Edit || settings.state() == store::TableState::Insert)
        settings.cancel();
    settings.refresh();
    settings.first();
    if (settings.eof()) {
        settings.insert();
        setForceDefaults(settings);
    }
}

void writeForceRow(store::Table& settings, const std::function<void()>& setFields,
                   const std::function<void()>& onFreshRow)
{
    if (settings.state() != store::TableState::Insert) {
        startEditing(settings);
        setFields();
        settings.post();
        return;
    }
    // The table was empty when read. Another program may have made the row
    // since: the check and the write are one unit.
    settings.cancel();
    store::ChangeUnit unit(settings);
    settings.refresh();
    settings.first();
    if (settings.eof()) {
        settings.insert();
        setForceDefaults(settings);
    }
    if (onFreshRow)
        onFreshRow();
    startEditing(settings);
    setFields();
    settings.post();
    unit.commit();
}

void setForcedOff(store::Table& settings, const QString& who, const QString& reason, int warnMinutes)
{
    settings.fieldByName(fForceOff).setAsBoolean(true);
    settings.fieldByName(fForceWho).setAsString(who);
    settings.fieldByName(fForceDate).setAsDateTime(std::floor(support::nowDays()));
    const double now = support::nowDays();
    settings.fieldByName(fForceTime).setAsDateTime(now - std::floor(now));
    settings.fieldByName(fForceReason).setAsString(reason);
    settings.fieldByName(fForceWarn).setAsInteger(warnMinutes);
}

void setAllowedOn(store::Table& settings)
{
    settings.fieldByName(fForceOff).setAsBoolean(false);
}

QString forceWhoBlankMessage()
{
    return support::uiText(QStringLiteral("The \"Who are you\" field cannot be blank."));
}

QString forceReasonBlankMessage()
{
    return support::uiText(QStringLiteral("The \"Reason\" field cannot be blank."));
}

QString forcedOffMessage()
{
    return support::uiText(QStringLiteral("Users will be forced off of Kontiva Professional"));
}

QString allowedOnMessage()
{
    return support::uiText(QStringLiteral("Users can log back in to Kontiva Professional"));
}

} // namespace login
