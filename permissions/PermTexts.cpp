#include "permissions/PermTexts.h"

#include "support/Text.h"

namespace permissions {

const QStringList& actionCaptions()
{
    static const QStringList captions{
        QStringLiteral("Browse contact list (F9)"),
        QStringLiteral("E-mail sending"),
        QStringLiteral("Edit quick letter templates (F6)"),
        QStringLiteral("Envelope printing (F5)"),
        QStringLiteral("Export data"),
        QStringLiteral("Filter contact records"),
        QStringLiteral("Graphs and chart display "),
        QStringLiteral("Import data"),
        QStringLiteral("Mail/merge access (F6)"),
        QStringLiteral("Mailing labels "),
        QStringLiteral("Marketing plan execute/run access"),
        QStringLiteral("Marketing plan scheduling access "),
        QStringLiteral("Phone call dialing (F3)"),
        QStringLiteral("Phone calls receive allowed "),
        QStringLiteral("Print contact from main screen"),
        QStringLiteral("Profile screen access "),
        QStringLiteral("Quick letter merge (F6)"),
        QStringLiteral("Report printing/viewing access"),
        QStringLiteral("All contact list access"),
        QStringLiteral("Setup categories "),
        QStringLiteral("Setup date fields "),
        QStringLiteral("Setup form letter paths "),
        QStringLiteral("Setup numeric fields "),
        QStringLiteral("Setup user defined string fields"),
        QStringLiteral("Setup user tab formats"),
        QStringLiteral("Setup date fields"),
        QStringLiteral("Setup screen colors/fonts"),
    };
    return captions;
}

const QStringList& systemCaptions()
{
    static const QStringList captions{
        QStringLiteral("Broadcast messages allowed"),
        QStringLiteral("Quick view access all databases (F9)"),
        QStringLiteral("Calendar access (F2)"),
        QStringLiteral("Calendar: access other user's calendar?"),
        QStringLiteral("Co-star mailing label: Editing allowed "),
        QStringLiteral("Co-star mailing label: Printing allowed "),
        QStringLiteral("Database: Create new databases?"),
        QStringLiteral("Database: Delete contact databases?"),
        QStringLiteral("E-mail: Receive e-mail messages into Kontiva?"),
        QStringLiteral("E-mail: Templates add/edit/delete"),
        QStringLiteral("Equipment reservation access "),
        QStringLiteral("Filter add/edit/delete"),
        QStringLiteral("View Events screen access (F4)"),
        QStringLiteral("View Events: Access all databases"),
        QStringLiteral("View Events: Allow user to view ALL events "),
        QStringLiteral("View Events: Allow user to view CALLS "),
        QStringLiteral("View Events: Allow user to view LETTERS"),
        QStringLiteral("View Events: Allow user to view MEETINGS"),
        QStringLiteral("View Events: Allow user to view QUOTES"),
        QStringLiteral("View Events: Allow user to view SALES"),
        QStringLiteral("View Events: Allow user to view TO-DO'S"),
        QStringLiteral("Holiday access"),
        QStringLiteral("In/Out board: access "),
        QStringLiteral("In/Out board: Add/edit/delete"),
        QStringLiteral("Internet shortcut access"),
        QStringLiteral("InterOffice Mail access "),
        QStringLiteral("InterOffice Mail: access other user's mail"),
        QStringLiteral("Marketing plan: allow user to access/edit plans?"),
        QStringLiteral("Password changing allowed"),
        QStringLiteral("Phone message access "),
        QStringLiteral("Phone message: Access other user's messages"),
        QStringLiteral("Quick data entry edit access"),
        QStringLiteral("Quick data entry allowed "),
        QStringLiteral("Report all databases or composite allowed"),
        QStringLiteral("Search for contact/event records (F8)"),
        QStringLiteral("Search for dates"),
        QStringLiteral("Search for e-mail addresses"),
        QStringLiteral("Search for phone numbers"),
        QStringLiteral("Transfer contacts between databases"),
        QStringLiteral("Who is on the system access"),
        QStringLiteral("Last Used screen access"),
        QStringLiteral("Last Used : view other user's last used records"),
        QStringLiteral("Setup duplicates"),
        QStringLiteral("Setup alarms"),
        QStringLiteral("Setup address formatting"),
        QStringLiteral("Setup International settings"),
        QStringLiteral("Setup dialer"),
        QStringLiteral("Setup winfax"),
        QStringLiteral("Setup word processor"),
    };
    return captions;
}

const QList<RecordKind>& recordKinds()
{
    static const QList<RecordKind> kinds{
        {QLatin1Char('C'), QStringLiteral("Contacts"), QStringLiteral("Contact"), QColor(0x00, 0xFF, 0x00)},
        {QLatin1Char('N'), QStringLiteral("Notes"), QStringLiteral("Notes"), QColor(0xFF, 0xFF, 0x00)},
        {QLatin1Char('P'), QStringLiteral("Phone calls"), QStringLiteral("Calls"), QColor(0xFF, 0x00, 0xFF)},
        {QLatin1Char('L'), QStringLiteral("Correspondence"), QStringLiteral("Letters"), QColor(0x00, 0xFF, 0xFF)},
        {QLatin1Char('M'), QStringLiteral("Meetings"), QStringLiteral("Meetings"), QColor(0x00, 0x00, 0xFF)},
        {QLatin1Char('T'), QStringLiteral("To-do's"), QStringLiteral("To-dos"), QColor(0xFF, 0x00, 0x00)},
        {QLatin1Char('Q'), QStringLiteral("Quotes"), QStringLiteral("Quotes"), QColor(0x00, 0x80, 0x00)},
        {QLatin1Char('S'), QStringLiteral("Sales"), QStringLiteral("Sales"), QColor(0xFF, 0xFF, 0xFF)},
    };
    return kinds;
}

const QList<KindOperation>& kindOperations()
{
    static const QList<KindOperation> operations{
        {QStringLiteral("Visible"), QStringLiteral("View"), QStringLiteral("View")},
        {QStringLiteral("Add"), QStringLiteral("Add"), QStringLiteral("add")},
        {QStringLiteral("Change"), QStringLiteral("Chg"), QStringLiteral("chg")},
        {QStringLiteral("Delete"), QStringLiteral("Delete"), QStringLiteral("del")},
    };
    return operations;
}

QStringList recordKindFields()
{
    QStringList names;
    for (const RecordKind& kind : recordKinds())
        for (const KindOperation& op : kindOperations())
            names << kind.letter + op.suffix;
    return names;
}

const QList<TabFlag>& tabFlags()
{
    static const QList<TabFlag> tabs{
        {QStringLiteral("CatTab"), QStringLiteral("Category Tab")},
        {QStringLiteral("PhoneTab"), QStringLiteral("Phone Tab")},
        {QStringLiteral("EmailTab"), QStringLiteral("E-mail Tab")},
        {QStringLiteral("DescTab"), QStringLiteral("Description Tab")},
        {QStringLiteral("AddrTab"), QStringLiteral("Address Tab")},
        {QStringLiteral("Tab1"), QStringLiteral("User Tab 1")},
        {QStringLiteral("Tab2"), QStringLiteral("User Tab 2")},
        {QStringLiteral("Tab3"), QStringLiteral("User Tab 3")},
        {QStringLiteral("SummTab"), QStringLiteral("Summary Tab")},
        {QStringLiteral("DatesTab"), QStringLiteral("Dates")},
        {QStringLiteral("CountTab"), QStringLiteral("Counts/totals")},
        {QStringLiteral("EventTab"), QStringLiteral("Events Tab")},
        {QStringLiteral("PlanTab"), QStringLiteral("Plans Tab")},
    };
    return tabs;
}

QString countText(int set, int clear)
{
    return support::uiText(QStringLiteral("%1 set, %2 clear")).arg(set).arg(clear);
}

QString accessCaption()
{
    return support::uiText(QStringLiteral("Yes, user has access to database"));
}

QString supervisorCaption()
{
    return support::uiText(QStringLiteral("Yes, supervisor overrides all permission settings"));
}

QString databaseSupervisorWarning()
{
    const QString breaks = QStringLiteral("\r\r");
    return support::uiText(QStringLiteral(
               "Note that you have set this user to be a Supervisor but there are some permissions set to FALSE."))
           + breaks + support::uiText(QStringLiteral("The Supervisor setting will override any negative permissions."))
           + breaks + support::uiText(QStringLiteral("Thus allowing this user full access to all Data, Tabs and Functions."));
}

} // namespace permissions
