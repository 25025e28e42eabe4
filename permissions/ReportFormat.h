#pragma once

// Writers of the permission report: CSV, JSON and the printable document
// (HTML that a QTextDocument lays out, for the window, the printer and PDF).
//
// CSV follows RFC 4180: cells are parted by commas, lines end CR LF, a cell
// holding a comma, a double quote, CR or LF is quoted and its quotes doubled.
// A spreadsheet takes a cell beginning with = + - or @ for a formula. Names
// come from the supervisor's own entries, so the CSV for scripts keeps every
// value exact (CsvStyle::Exact); the CSV that a person saves from the window
// to open in a spreadsheet puts an apostrophe before such a cell, as before
// one beginning with a tab or CR (CsvStyle::Spreadsheet), so that it shows as
// text and never runs.

#include "permissions/Report.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class QPrinter;

namespace permissions {

enum class CsvStyle { Exact, Spreadsheet };

QString csvCell(const QString& value, CsvStyle style);
QString csvLine(const QStringList& cells, CsvStyle style); // with its CR LF

// The rows with the heading line: Who, FullName, Supervisor, Database,
// Section, Field, Caption, Allowed. Flags read "true" or "false"; a missing
// value reads as the empty cell.
QString rowsCsv(const QVector<ReportRow>& rows, CsvStyle style);
// {"rows": [{"who", "fullName", "supervisor", "database" (null for the system
// flags), "section", "field", "caption", "allowed" (true, false or null)}]}
QByteArray rowsJson(const QVector<ReportRow>& rows);

// The allowed users with the heading line: Who, FullName, Supervisor,
// Allowed by ("permission" or "supervisor"); then the users without a
// permission row ("no permission row").
QString whoCanCsv(const WhoCan& result, CsvStyle style);

// The printable documents.
QString userReportHtml(const UserReport& report);
QString whoCanHtml(const WhoCan& result);

// Lays the HTML out on the printer's pages and prints it; false when the
// printer could not start (no such file, no printer).
bool printHtml(const QString& html, QPrinter& printer);

} // namespace permissions
