#include "store/Catalogue.h"

#include "store/Session.h"
#include "store/StoreError.h"

namespace catalogue {

namespace {

using store::ColumnDef;
using store::TableDef;

QString text(int length)
{
    return QStringLiteral("VARCHAR(%1)").arg(length);
}

const QString kBoolean = QStringLiteral("BOOLEAN");
const QString kSmallInt = QStringLiteral("SMALLINT");
const QString kInteger = QStringLiteral("INTEGER");
const QString kMemo = QStringLiteral("TEXT");
const QString kDate = QStringLiteral("DATE");
const QString kTime = QStringLiteral("TIME");
const QString kDateTime = QStringLiteral("DATETIME");

// Widths shared by several tables.
constexpr int kWhoWidth = 3;
constexpr int kDbWidth = 8;
constexpr int kSyncwellWidth = 24;
constexpr int kRecnoWidth = 25;
constexpr int kPathWidth = 255;

// The action flags in the order of the Actions check list.
const char* const kActionFlags[kActionFlagCount] = {
    "ActBrowse",           "ActEmailSend",       "ActEditQuickLetters", "ActEnvelopePrint",
    "ActExport",           "ActFilter",          "ActGraphs",           "ActImport",
    "ActMailMerge",        "ActMailLabels",      "ActPlanExecute",      "ActPlanSchedule",
    "ActPhoneDial",        "ActPhoneReceive",    "ActPrintContact",     "ActProfileScreen",
    "ActQuickLetterMerge", "ActReports",         "ActAllContacts",      "ActSetupCategories",
    "ActSetupDates",       "ActSetupPaths",      "ActSetupNumeric",     "ActSetupStrings",
    "ActSetupTabs",        "ActSetupDateFields", "ActSetupScreen",
};

// The system flags in the order of the system check list.
const char* const kSystemFlags[kSystemFlagCount] = {
    "sysBroadcast",       "sysQuickViewAll",     "sysCalendar",          "sysCalendarOthers",
    "sysCoStarEdit",      "sysCoStarPrint",      "sysDbCreate",          "sysDbDelete",
    "sysEmailReceive",    "sysEmailTemplates",   "sysEquipment",         "sysFilterEdit",
    "sysEvents",          "sysEventsAllDb",      "sysEventsAll",         "sysEventsCalls",
    "sysEventsLetters",   "sysEventsMeetings",   "sysEventsQuotes",      "sysEventsSales",
    "sysEventsTodos",     "sysHoliday",          "sysInOut",             "sysInOutEdit",
    "sysInternet",        "sysMail",             "sysMailOthers",        "sysPlans",
    "sysPasswordChange",  "sysPhoneMsg",         "sysPhoneMsgOthers",    "sysQuickEntryEdit",
    "sysQuickEntry",      "sysReportAllDb",      "sysSearch",            "sysSearchDates",
    "sysSearchEmail",     "sysSearchPhone",      "sysTransfer",          "sysWhosOn",
    "sysLastUsed",        "sysLastUsedOthers",   "sysSetupDuplicates",   "sysSetupAlarms",
    "sysSetupAddress",    "sysSetupInternational", "sysSetupDialer",     "sysSetupWinfax",
    "sysSetupWP",
};

const char* const kKindLetters = "CNPLMTQS";
const char* const kKindOperations[] = {"Visible", "Add", "Change", "Delete"};

const char* const kTabFlags[] = {
    "CatTab", "PhoneTab", "EmailTab", "DescTab", "AddrTab", "Tab1", "Tab2",
    "Tab3",   "SummTab",  "EventTab", "PlanTab", "DatesTab", "CountTab",
};

struct Column {
    const char* name;
    char kind;  // t text, b boolean, i integer, d date-time
    int length; // text only
};

// The personal preferences of a user row, in the groups that are copied
// between users.
const Column kPreferences[] = {
    // phone
    {"comport", 'i', 0}, {"dialmethod", 'i', 0}, {"dialspeed", 'i', 0},
    {"Carrier1Name", 't', 30}, {"Carrier1Prefix", 't', 20}, {"Carrier1Suffix", 't', 20},
    {"Carrier2Name", 't', 30}, {"Carrier2Prefix", 't', 20}, {"Carrier2Suffix", 't', 20},
    {"Carrier3Name", 't', 30}, {"Carrier3Prefix", 't', 20}, {"Carrier3Suffix", 't', 20},
    {"Carrier4Name", 't', 30}, {"Carrier4Prefix", 't', 20}, {"Carrier4Suffix", 't', 20},
    {"Carrier5Name", 't', 30}, {"Carrier5Prefix", 't', 20}, {"Carrier5Suffix", 't', 20},
    {"Intndefault", 'i', 0}, {"LDdefault", 'i', 0}, {"LocalDefault", 'i', 0},
    // data entry
    {"AutoNameCap", 'b', 0}, {"AutoCompanyCap", 'b', 0}, {"AutoAddressCap", 'b', 0},
    {"AutoCityCap", 'b', 0}, {"AutoStateCap", 'b', 0}, {"AutoCountryCap", 'b', 0},
    {"AutoTitleCap", 'b', 0}, {"AutoZipCap", 'b', 0}, {"PromptForCopy", 'b', 0},
    {"UseAddDefaults", 'b', 0},
    {"DefCompany", 't', 40}, {"DefAddress1", 't', 40}, {"DefAddress2", 't', 40},
    {"DefCity", 't', 30}, {"DefState", 't', 20}, {"DefZip", 't', 12},
    {"DefCountry", 't', 30}, {"DefTitle", 't', 30},
    {"UseEnter", 'b', 0},
    // word processing
    {"WordProc", 'i', 0}, {"WPPath", 't', kPathWidth},
    // envelope
    {"EnvelopeSize", 'i', 0}, {"EnvelopeOrient", 'i', 0}, {"EnvFontName", 't', 32},
    {"EnvFontSize", 'i', 0}, {"EnvFontColor", 'i', 0}, {"EnvFontStyle", 'i', 0},
    // report font
    {"RepFontName", 't', 32}, {"RepFontSize", 'i', 0}, {"RepFontStyle", 'i', 0},
    {"RepFontColor", 'i', 0},
    // alarms
    {"AlarmCall", 'i', 0}, {"AlarmMeeting", 'i', 0}, {"AlarmTodo", 'i', 0},
    {"DurationCall", 'i', 0}, {"DurationMeeting", 'i', 0}, {"DurationTodo", 'i', 0},
    {"AlarmEnabled", 'b', 0}, {"AlarmRepeat", 'b', 0}, {"AlarmWav", 't', kPathWidth},
    // fax
    {"WinFaxDateDefault", 'd', 0}, {"WinFaxTimeDefault", 'd', 0},
    {"WinFaxPath", 't', kPathWidth}, {"WinFaxPrinter", 't', 80}, {"WinFaxUseAttach", 'b', 0},
    {"WinFaxAttach", 't', kPathWidth}, {"WinFaxUseCover", 'b', 0}, {"WinFaxCover", 't', kPathWidth},
    {"WinFaxKey", 't', 40}, {"WinFaxBilling", 't', 40}, {"WinFaxCoverMemo", 't', kPathWidth},
    {"WinFaxResolution", 't', 10}, {"WinFaxShowPreview", 'b', 0},
    // label printer
    {"CoStarProgram", 't', kPathWidth}, {"CoStarPathname", 't', kPathWidth},
    {"CoStarLabelFile", 't', kPathWidth}, {"CoStarTemplateName", 't', 80},
    {"CoStarHide", 'b', 0}, {"CoStarHistory", 'b', 0},
    // e-mail
    {"EmailPopServer", 't', 80}, {"EmailPopMailbox", 't', 80}, {"EmailPopDialup", 't', 80},
    {"EmailPopLogfile", 't', kPathWidth}, {"EmailPopAttachments", 't', kPathWidth},
    {"EmailPopDelete", 'b', 0}, {"EmailPopDetails", 'b', 0}, {"EmailMAPI", 'b', 0},
    {"EmailSMTP", 't', 80}, {"EmailName", 't', 80}, {"EmailEncoding", 't', 20},
    {"EmailCharSet", 't', 20},
    // duplicates
    {"DupCheck", 'b', 0}, {"DupCompany", 'b', 0}, {"DupAddress", 'b', 0},
    {"DupIgnoreNum", 'b', 0}, {"DupIgnorePunct", 'b', 0}, {"DupWhileEditing", 'b', 0},
};

QString declaredType(const Column& c)
{
    switch (c.kind) {
    case 't': return text(c.length);
    case 'b': return kBoolean;
    case 'i': return kInteger;
    default: return kDateTime;
    }
}

class Builder {
public:
    explicit Builder(const QString& name) { m_def.name = name; }
    Builder& add(const QString& name, const QString& type)
    {
        m_def.columns.append(ColumnDef{name, type});
        return *this;
    }
    Builder& key(const QStringList& fields)
    {
        m_def.primaryKey = fields;
        return *this;
    }
    TableDef def() const { return m_def; }

private:
    TableDef m_def;
};

TableDef userPrefDef()
{
    Builder b(kUserPref);
    b.add(fWho, text(kWhoWidth)).add(fFullName, text(20)).add(fPassword, text(15)).add(fSuperUser, kBoolean);
    for (const QString& name : systemFlagNames())
        b.add(name, kBoolean);
    for (const char* name : {"showhint", "Qanimation", "ViewStatus", "ViewButtons", "AutoFollowCall",
                             "AutoFollowLtr", "AutoFollowEmail", "AutoFollowEnv", "AutoFollowLabel"})
        b.add(QLatin1String(name), kBoolean);
    b.add(QStringLiteral("LogInMachineName"), text(40));
    b.add(QStringLiteral("ReturnAddress"), kMemo);
    for (const Column& c : kPreferences)
        b.add(QLatin1String(c.name), declaredType(c));
    return b.key({fWho}).def();
}

TableDef permDef()
{
    Builder b(kPerm);
    b.add(fDb, text(kDbWidth)).add(fWho, text(kWhoWidth)).add(fSyncwellNo, text(kSyncwellWidth));
    b.add(QStringLiteral("Access"), kBoolean);
    for (const char* letter = kKindLetters; *letter; ++letter)
        for (const char* operation : kKindOperations)
            b.add(QLatin1Char(*letter) + QLatin1String(operation), kBoolean);
    for (const char* tab : kTabFlags)
        b.add(QLatin1String(tab), kBoolean);
    for (const QString& name : actionFlagNames())
        b.add(name, kBoolean);
    return b.key({fDb, fWho}).def();
}

TableDef databaseDef()
{
    return Builder(kDatabase).add(fDb, text(kDbWidth)).add(fDescription, text(40)).key({fDb}).def();
}

TableDef userDbDef()
{
    Builder b(kUserDb);
    b.add(fDb, text(kDbWidth)).add(fWho, text(kWhoWidth)).add(fSyncwellNo, text(kSyncwellWidth));
    b.add(QStringLiteral("ntimes"), kInteger);
    b.add(QStringLiteral("datelastlogin"), kDate).add(QStringLiteral("timelastlogin"), kTime);
    for (const char* font : {"Data", "Label", "Grid"}) {
        const QString prefix = QStringLiteral("Font") + QLatin1String(font);
        b.add(prefix + QStringLiteral("Size"), kInteger)
            .add(prefix + QStringLiteral("Color"), kInteger)
            .add(prefix + QStringLiteral("Style"), kInteger)
            .add(prefix + QStringLiteral("Name"), text(32));
    }
    b.add(QStringLiteral("ShowGridLines"), kBoolean).add(QStringLiteral("OpenOnStart"), kBoolean);
    return b.key({fDb, fWho}).def();
}

TableDef usersOnDef()
{
    return Builder(kUsersOn)
        .add(fWho, text(kWhoWidth))
        .add(fDb, text(kDbWidth))
        .add(QStringLiteral("MachineName"), text(40))
        .add(QStringLiteral("datelogin"), kDate)
        .add(QStringLiteral("timelogin"), kTime)
        .def();
}

TableDef settingsDef()
{
    return Builder(kSettings)
        .add(QStringLiteral("ForceOff"), kBoolean)
        .add(QStringLiteral("forceWho"), text(kWhoWidth))
        .add(QStringLiteral("forceDate"), kDate)
        .add(QStringLiteral("forceTime"), kTime)
        .add(QStringLiteral("forceReason"), text(kPathWidth))
        .add(QStringLiteral("forceWarn"), kInteger)
        .add(QStringLiteral("ForceWav"), text(kPathWidth))
        .add(QStringLiteral("ForcePlay"), kBoolean)
        .add(QStringLiteral("ForceRepeat"), kBoolean)
        .def();
}

TableDef contactDef()
{
    return Builder(kContact)
        .add(QStringLiteral("recno"), text(kRecnoWidth))
        .add(fDb, text(kDbWidth))
        .add(fWho, text(kWhoWidth))
        .add(QStringLiteral("Company"), text(40))
        .add(QStringLiteral("Contact"), text(40))
        .add(QStringLiteral("Phone"), text(25))
        .add(QStringLiteral("City"), text(30))
        .def();
}

TableDef eventDef()
{
    return Builder(kEvent)
        .add(QStringLiteral("erecno"), text(kRecnoWidth))
        .add(QStringLiteral("recno"), text(kRecnoWidth))
        .add(fDb, text(kDbWidth))
        .add(fWho, text(kWhoWidth))
        .add(QStringLiteral("completed"), kBoolean)
        .add(QStringLiteral("EventType"), text(10))
        .add(QStringLiteral("EventDate"), kDate)
        .add(QStringLiteral("EventTime"), kTime)
        .add(QStringLiteral("Subject"), text(60))
        .def();
}

TableDef holidayDef()
{
    return Builder(kHoliday)
        .add(fWho, text(kWhoWidth))
        .add(fSyncwellNo, text(kSyncwellWidth))
        .add(QStringLiteral("HolidayDate"), kDate)
        .add(fDescription, text(40))
        .def();
}

TableDef stepsDef()
{
    return Builder(kSteps)
        .add(fWho, text(kWhoWidth))
        .add(fSyncwellNo, text(kSyncwellWidth))
        .add(QStringLiteral("PlanName"), text(30))
        .add(QStringLiteral("StepNo"), kInteger)
        .add(fDescription, text(60))
        .add(QStringLiteral("DaysAfter"), kInteger)
        .def();
}

TableDef actionsDef()
{
    return Builder(kActions)
        .add(fWho, text(kWhoWidth))
        .add(fSyncwellNo, text(kSyncwellWidth))
        .add(QStringLiteral("recno"), text(kRecnoWidth))
        .add(QStringLiteral("PlanName"), text(30))
        .add(QStringLiteral("ActionDate"), kDate)
        .add(QStringLiteral("Done"), kBoolean)
        .def();
}

TableDef inOutDef()
{
    return Builder(kInOut)
        .add(fWho, text(kWhoWidth))
        .add(QStringLiteral("IsIn"), kBoolean)
        .add(QStringLiteral("Note"), text(60))
        .add(QStringLiteral("ReturnDate"), kDate)
        .add(QStringLiteral("ReturnTime"), kTime)
        .def();
}

TableDef marksDef()
{
    return Builder(kMarks)
        .add(fWho, text(kWhoWidth))
        .add(fDb, text(kDbWidth))
        .add(QStringLiteral("recno"), text(kRecnoWidth))
        .add(QStringLiteral("MarkedOn"), kDateTime)
        .def();
}

// The journal's layout; it has no key and is only appended to.
TableDef mergeDef()
{
    return Builder(kMerge)
        .add(QStringLiteral("recno"), text(kRecnoWidth))
        .add(QStringLiteral("dateGMT"), kDateTime)
        .add(QStringLiteral("time"), kDateTime)
        .add(QStringLiteral("who"), text(kWhoWidth))
        .add(QStringLiteral("database"), kSmallInt)
        .add(QStringLiteral("action"), kSmallInt)
        .add(QStringLiteral("fieldname"), text(40))
        .add(QStringLiteral("to"), text(255))
        .add(QStringLiteral("memo"), kMemo)
        .add(fDb, text(kDbWidth))
        .def();
}

// "USERPREF.DB", "userpref" and "userpref.db" all name one table.
bool sameTable(const QString& a, const QString& b)
{
    return store::tableFileName(a) == store::tableFileName(b);
}

// Passwords are joined from pieces at run time so that none of them stands
// in the program file as one string.
template <std::size_t N>
QString joined(const char* const (&pieces)[N])
{
    QString result;
    for (const char* piece : pieces)
        result += QLatin1String(piece);
    return result;
}

} // namespace

QStringList actionFlagNames()
{
    QStringList names;
    for (const char* name : kActionFlags)
        names << QLatin1String(name);
    return names;
}

QStringList systemFlagNames()
{
    QStringList names;
    for (const char* name : kSystemFlags)
        names << QLatin1String(name);
    return names;
}

QList<store::TableDef> tableDefs()
{
    return {userPrefDef(), permDef(),  databaseDef(), userDbDef(),  usersOnDef(),
            settingsDef(), contactDef(), eventDef(),  holidayDef(), stepsDef(),
            actionsDef(),  inOutDef(),  marksDef(),   mergeDef()};
}

store::TableDef tableDef(const QString& tableName)
{
    for (const store::TableDef& def : tableDefs())
        if (sameTable(def.name, tableName))
            return def;
    throw store::StoreError(QStringLiteral("%1 is not one of the known tables.").arg(tableName));
}

QString startupPasswordA()
{
    static const char* const pieces[] = {"ke", "ls", "o", "-", "7", "Rv", "q"};
    return joined(pieces);
}

QString startupPasswordB()
{
    static const char* const pieces[] = {"t", "ab", "Gu", "ard", "_", "44"};
    return joined(pieces);
}

QString forceOffPassword()
{
    static const char* const pieces[] = {"f", "0", "r", "C", "e", "!"};
    return joined(pieces);
}

QString protectingPassword(const QString& tableName)
{
    if (sameTable(tableName, kUserPref))
        return startupPasswordA();
    if (sameTable(tableName, kPerm))
        return startupPasswordB();
    if (sameTable(tableName, kSettings))
        return forceOffPassword();
    return QString();
}

} // namespace catalogue
