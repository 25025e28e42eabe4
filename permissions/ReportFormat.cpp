#include "permissions/ReportFormat.h"

#include "permissions/PermTexts.h"
#include "support/Text.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPrinter>
#include <QTextDocument>

namespace permissions {

namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

QString flagText(std::optional<bool> value)
{
    if (!value)
        return QString();
    return *value ? QStringLiteral("true") : QStringLiteral("false");
}

QString yesNo(bool value) { return value ? text("Yes") : text("No"); }

// A denial stands out in the grid.
QString gridCell(bool value) { return value ? yesNo(true) : QStringLiteral("<b>%1</b>").arg(yesNo(false)); }

QString esc(const QString& s) { return s.toHtmlEscaped(); }

// "Visible Tabs (11 of 13): ..." with the granted captions, then the others
// after offHeading.
QString flagList(const QString& heading, const QVector<Flag>& flags, const QString& offHeading)
{
    QStringList on;
    QStringList off;
    for (const Flag& f : flags)
        (f.value ? on : off) << esc(f.caption.trimmed());
    QString html = QStringLiteral("<p><b>%1 (%2 of %3):</b> %4</p>")
                       .arg(esc(heading))
                       .arg(on.size())
                       .arg(flags.size())
                       .arg(on.isEmpty() ? text("none") : on.join(QStringLiteral(", ")));
    if (!off.isEmpty())
        html += QStringLiteral("<p><i>%1</i> %2</p>").arg(offHeading, off.join(QStringLiteral(", ")));
    return html;
}

QString kindGrid(const QVector<KindGrant>& kinds)
{
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr><th></th>");
    for (const KindOperation& op : kindOperations())
        html += QStringLiteral("<th>%1</th>").arg(esc(op.dialogLabel));
    html += QStringLiteral("</tr>");
    for (const KindGrant& k : kinds) {
        html += QStringLiteral("<tr><td>%1</td>").arg(esc(k.caption));
        for (bool v : {k.view, k.add, k.change, k.remove})
            html += QStringLiteral("<td align=\"center\">%1</td>").arg(gridCell(v));
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

// The document, with the moment it was made under the title: a printout is
// evidence of the permissions at that moment.
QString page(const QString& title, const QString& body)
{
    const QString made = text("Made %1").arg(QLocale().toString(QDateTime::currentDateTime(), QLocale::LongFormat));
    return QStringLiteral("<html><head><meta charset=\"utf-8\"><title>%1</title></head><body><h2>%1</h2><p>%2</p>%3"
                          "</body></html>")
        .arg(esc(title), esc(made), body);
}

} // namespace

QString csvCell(const QString& value, CsvStyle style)
{
    QString cell = value;
    if (style == CsvStyle::Spreadsheet && !cell.isEmpty()
        && QStringLiteral("=+-@\t\r").contains(cell.front()))
        cell.prepend(QLatin1Char('\''));
    static const QString special = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (QChar c : cell)
        quote = quote || special.contains(c);
    if (!quote)
        return cell;
    cell.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

QString csvLine(const QStringList& cells, CsvStyle style)
{
    QStringList out;
    for (const QString& c : cells)
        out << csvCell(c, style);
    return out.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString rowsCsv(const QVector<ReportRow>& rows, CsvStyle style)
{
    QString csv = csvLine({QStringLiteral("Who"), QStringLiteral("FullName"), QStringLiteral("Supervisor"),
                           QStringLiteral("Database"), QStringLiteral("Section"), QStringLiteral("Field"),
                           QStringLiteral("Caption"), QStringLiteral("Allowed")},
                          style);
    for (const ReportRow& r : rows)
        csv += csvLine({r.who, r.fullName, flagText(r.superUser), r.db, r.section, r.field, r.caption,
                        flagText(r.value)},
                       style);
    return csv;
}

QByteArray rowsJson(const QVector<ReportRow>& rows)
{
    QJsonArray array;
    for (const ReportRow& r : rows) {
        QJsonObject o;
        o.insert(QStringLiteral("who"), r.who);
        o.insert(QStringLiteral("fullName"), r.fullName);
        o.insert(QStringLiteral("supervisor"), r.superUser);
        o.insert(QStringLiteral("database"), r.db.isEmpty() ? QJsonValue() : QJsonValue(r.db));
        o.insert(QStringLiteral("section"), r.section);
        o.insert(QStringLiteral("field"), r.field);
        o.insert(QStringLiteral("caption"), r.caption);
        o.insert(QStringLiteral("allowed"), r.value ? QJsonValue(*r.value) : QJsonValue());
        array.append(o);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("rows"), array}}).toJson(QJsonDocument::Indented);
}

QString whoCanCsv(const WhoCan& result, CsvStyle style)
{
    QString csv = csvLine({QStringLiteral("Who"), QStringLiteral("FullName"), QStringLiteral("Supervisor"),
                           QStringLiteral("Allowed by")},
                          style);
    for (const AllowedUser& u : result.users)
        csv += csvLine({u.who, u.fullName, flagText(u.superUser),
                        u.byPermission ? QStringLiteral("permission") : QStringLiteral("supervisor")},
                       style);
    for (const AllowedUser& u : result.noRow)
        csv += csvLine({u.who, u.fullName, flagText(u.superUser), QStringLiteral("no permission row")}, style);
    return csv;
}

QString userReportHtml(const UserReport& report)
{
    const QString title = text("What %1 %2 can do").arg(report.who, report.fullName);
    QString body = QStringLiteral("<p>%1 %2</p>").arg(esc(supervisorCaption() + QLatin1Char(':')), yesNo(report.superUser));
    if (report.supervisorWarning) {
        body += QStringLiteral("<table border=\"1\" cellpadding=\"6\" cellspacing=\"0\"><tr><td>");
        for (const QString& sentence : databaseSupervisorWarning().split(QStringLiteral("\r\r")))
            body += QStringLiteral("<p><b>%1</b></p>").arg(esc(sentence));
        body += QStringLiteral("</td></tr></table>");
    }
    for (const DatabaseGrant& grant : report.databases) {
        body += QStringLiteral("<h3>%1</h3>").arg(esc(text("Database: %1 (%2)").arg(grant.db, grant.description)));
        body += kindGrid(grant.kinds);
        body += flagList(sectionTabs(), grant.tabs, text("Hidden:"));
        body += flagList(sectionActions(), grant.actions, text("Not allowed:"));
    }
    if (!report.noAccess.isEmpty())
        body += QStringLiteral("<h3>%1</h3><p>%2</p>")
                    .arg(text("No access"), esc(report.noAccess.join(QStringLiteral(", "))));
    if (!report.noRow.isEmpty())
        body += QStringLiteral("<h3>%1</h3><p>%2 %3</p>")
                    .arg(text("No permission row"), esc(report.noRow.join(QStringLiteral(", "))),
                         text("(the row is made, granting everything, when the database permissions are opened or "
                              "when Brisel closes)"));
    body += QStringLiteral("<h3>%1</h3>").arg(text("System permissions"));
    body += flagList(sectionSystem(), report.systemFlags, text("Not allowed:"));
    return page(title, body);
}

QString whoCanHtml(const WhoCan& result)
{
    const QString title = text("Who can use \"%1\" in database %2").arg(result.caption.trimmed(), result.db);
    QString body = QStringLiteral("<p>%1</p>").arg(esc(text("%1, field %2").arg(result.section, result.field)));
    QStringList noRow;
    for (const AllowedUser& u : result.noRow)
        noRow << u.who;
    const QString noRowNote =
        noRow.isEmpty() ? QString()
                        : QStringLiteral("<p><i>%1</i> %2</p>")
                              .arg(text("No permission row (made, granting everything, when the database permissions "
                                        "are opened or when Brisel closes):"),
                                   esc(noRow.join(QStringLiteral(", "))));
    if (result.users.isEmpty())
        return page(title, body + QStringLiteral("<p>%1</p>").arg(text("Nobody.")) + noRowNote);
    body += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr><th>%1</th><th>%2</th><th>%3</th></tr>")
                .arg(text("Who"), text("FullName"), text("Allowed by"));
    for (const AllowedUser& u : result.users)
        body += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(esc(u.who), esc(u.fullName),
                         u.byPermission ? text("permission") : text("supervisor (overrides the permission)"));
    body += QStringLiteral("</table>");
    return page(title, body + noRowNote);
}

bool printHtml(const QString& html, QPrinter& printer)
{
    QTextDocument document;
    document.setHtml(html);
    document.print(&printer);
    if (printer.printerState() == QPrinter::Error)
        return false;
    // A PDF file that could not be written leaves no file and no error state.
    return printer.outputFormat() != QPrinter::PdfFormat || QFileInfo(printer.outputFileName()).size() > 0;
}

} // namespace permissions
