// The report commands: what one user may do, who may do one thing, and every
// permission of the installation as CSV or JSON, read by the permission
// report's own functions.
#include "tools/admin/Command.h"

#include "permissions/PermTexts.h"
#include "permissions/Report.h"
#include "permissions/ReportFormat.h"
#include "support/Messages.h"
#include "support/Text.h"

#include <QDir>
#include <QSaveFile>

namespace admin {

namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

// An unknown user, database or field, in the report's words.
int refuse(const permissions::ReportError& error)
{
    support::showError(error.message());
    return ExitFailed;
}

// Blank cells stay blank in text and read null in JSON.
QVariant orNull(const QString& value) { return value.isEmpty() ? QVariant() : QVariant(value); }

QVariant orNull(std::optional<bool> value) { return value ? QVariant(*value) : QVariant(); }

int showPerms(Context& c)
{
    // An empty --db would quietly widen the report to every database.
    if (c.args.has(QStringLiteral("db")) && c.args.value(QStringLiteral("db")).isEmpty())
        return c.out.usage(QStringLiteral("--db needs a database code"), QStringLiteral("perms show"));
    permissions::UserReport report;
    try {
        report = permissions::userReport(c.args.positional[0], c.args.value(QStringLiteral("db")));
    } catch (const permissions::ReportError& error) {
        return refuse(error);
    }
    if (report.supervisorWarning)
        support::showWarning(permissions::databaseSupervisorWarning());
    QList<QVariantList> rows;
    for (const permissions::ReportRow& row : permissions::userReportRows(report))
        rows.append({orNull(row.db), row.section, row.field, row.caption, orNull(row.value)});
    c.out.table({text("Database"), text("Section"), text("Field"), text("Caption"), text("Allowed")},
                {QStringLiteral("database"), QStringLiteral("section"), QStringLiteral("field"),
                 QStringLiteral("caption"), QStringLiteral("allowed")},
                rows);
    return ExitOk;
}

int whoCan(Context& c)
{
    permissions::WhoCan result;
    try {
        result = permissions::whoCan(c.args.positional[0], c.args.positional[1]);
    } catch (const permissions::ReportError& error) {
        return refuse(error);
    }
    // The same rows and words as the report window's CSV.
    QList<QVariantList> rows;
    for (const permissions::AllowedUser& u : result.users)
        rows.append({u.who, u.fullName, u.superUser,
                     u.byPermission ? QStringLiteral("permission") : QStringLiteral("supervisor")});
    for (const permissions::AllowedUser& u : result.noRow)
        rows.append({u.who, u.fullName, u.superUser, QStringLiteral("no permission row")});
    c.out.table({text("Who"), text("Full Name"), text("Supervisor?"), text("Allowed by")},
                {QStringLiteral("who"), QStringLiteral("fullName"), QStringLiteral("supervisor"),
                 QStringLiteral("allowedBy")},
                rows);
    return ExitOk;
}

// The whole document or nothing: the file replaces an old one only once it
// is written, so a failure leaves neither a half-written report nor a stray
// temporary file.
bool saveReport(const QString& path, const QByteArray& document)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(document) == document.size() && file.commit())
        return true;
    support::showError(text("The report could not be saved as %1.").arg(QDir::toNativeSeparators(path)),
                       file.errorString());
    return false;
}

int fullReport(Context& c)
{
    const QString format = c.args.value(QStringLiteral("format")).toLower();
    if (format != QLatin1String("csv") && format != QLatin1String("json"))
        return c.out.usage(c.args.has(QStringLiteral("format"))
                               ? QStringLiteral("--format takes csv or json, not '%1'").arg(c.args.value(QStringLiteral("format")))
                               : QStringLiteral("--format is required"),
                           QStringLiteral("report"));
    const QVector<permissions::ReportRow> rows = permissions::fullReport();
    // Scripts read the values as stored: the exact CSV, never the
    // spreadsheet's apostrophes.
    const QByteArray document = format == QLatin1String("csv")
        ? permissions::rowsCsv(rows, permissions::CsvStyle::Exact).toUtf8()
        : permissions::rowsJson(rows);
    if (!c.args.has(QStringLiteral("output"))) {
        c.out.write(QString::fromUtf8(document));
        return ExitOk;
    }
    const QString path = c.args.value(QStringLiteral("output"));
    if (!saveReport(path, document))
        return ExitFailed;
    c.out.result({{QStringLiteral("written"), path}, {QStringLiteral("rows"), int(rows.size())}},
                 {QStringLiteral("written"), path, QString::number(rows.size())});
    return ExitOk;
}

} // namespace

QList<Command> reportCommands()
{
    return {
        {{QStringLiteral("perms"), QStringLiteral("show")}, QStringLiteral("WHO"),
         QStringLiteral("list what a user may do: every permission in each database, and the system flags"),
         QStringLiteral("A database without access lists its Access alone; one without a permission row for the "
                        "user lists\nAccess blank."),
         {{QStringLiteral("db"), QStringLiteral("DB"), QStringLiteral("only this contact database")}}, 1, 1,
         showPerms},
        {{QStringLiteral("perms"), QStringLiteral("who")}, QStringLiteral("DB FIELD"),
         QStringLiteral("list the users allowed one permission in a contact database"),
         QStringLiteral("FIELD is a boolean field of PERM.DB as stored (Access, CAdd, actExport, ...), in any case. "
                        "Allowed by\nis \"permission\", \"supervisor\" (the supervisor flag overrides the row), or "
                        "\"no permission row\"\n(not allowed until the row is made, which grants everything)."),
         {}, 2, 2, whoCan},
        {{QStringLiteral("report")}, QString(),
         QStringLiteral("write every permission of every user (and the system flags) as CSV or JSON"),
         QStringLiteral("One row per user x database x permission, then per user x system flag and the supervisor "
                        "flag.\nValues are written exactly as stored; a blank flag or a missing permission row "
                        "has no value."),
         {{QStringLiteral("format"), QStringLiteral("csv|json"), QStringLiteral("the format (required)")},
          {QStringLiteral("output"), QStringLiteral("FILE"),
           QStringLiteral("write the report to FILE (replaced whole) instead of standard output")}},
         0, 0, fullReport},
    };
}

} // namespace admin
