#include "permissions/PermEdits.h"

#include "permissions/PermModel.h"
#include "permissions/PermTexts.h"
#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Text.h"

namespace permissions {

namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

// Carriage returns between the sentences of a warning, as the dialogs show.
const QString kTwoReturns = QStringLiteral("\r\r");

} // namespace

bool isFlagField(store::Table& table, const QString& field)
{
    store::Field* f = table.findField(field);
    return f && f->dataType() == store::FieldType::Boolean;
}

bool setPermFlag(store::Table& perm, const QString& db, const QString& who, const QString& field, bool on)
{
    const bool fixed = initializePermRow(perm, db, who) != RowFix::None;
    if (!perm.findKey({db, who}))
        return fixed; // another program removed it just now
    store::Field& flag = perm.fieldByName(field);
    if (!flag.isNull() && flag.asBoolean() == on)
        return fixed;
    perm.edit();
    perm.fieldByName(field).setAsBoolean(on);
    perm.post(); // journalled by the BeforePost hook, in the post's unit
    return true;
}

bool setUserFlag(store::Table& userPref, const QString& field, bool on)
{
    store::Field& flag = userPref.fieldByName(field);
    if (!flag.isNull() && flag.asBoolean() == on)
        return false;
    userPref.edit();
    userPref.fieldByName(field).setAsBoolean(on);
    store::ChangeUnit unit(userPref);
    userPref.post();
    support::journalrecord(userPref, support::ActionChanged);
    unit.commit();
    return true;
}

bool permRowHasClearFlag(store::Table& perm)
{
    const QVector<bool> actions = readRun(perm, actionRun(perm));
    if (countSet(actions) < actions.size())
        return true;
    QStringList fields{QStringLiteral("Access")};
    fields += recordKindFields();
    fields.removeAll(QStringLiteral("CVisible")); // not offered in the dialog
    for (const TabFlag& tab : tabFlags())
        fields << tab.field;
    for (const QString& name : fields)
        if (!perm.fieldByName(name).asBoolean())
            return true;
    return false;
}

bool userRowHasClearSystemFlag(store::Table& userPref)
{
    const QVector<bool> flags = readRun(userPref, systemRun(userPref));
    return countSet(flags) < flags.size();
}

QString sysSupervisorWarning()
{
    return text("Note that this user in now a Supervisor.") + kTwoReturns
        + text("However, there are some global system permission settings set to FALSE.") + kTwoReturns
        + text("Thus, the Supervisor setting will override any FALSE permissions, allowing this "
               "user full access to all functions.");
}

} // namespace permissions
