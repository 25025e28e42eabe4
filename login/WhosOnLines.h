#pragma once

#include <QString>
#include <QTime>
#include <QStringList>
#include <QVector>

namespace store { class Table; }

// The lines of the who's-on list, worked out without any widget so that tests
// and the benchmark call the same code as the window.
namespace login {

enum WhosOnColumn { ColWho, ColFullName, ColDatabase, ColSince, ColDuration, ColTimes, ColMachine, ColumnCount };

// The seven headings, in column order.
QStringList whosOnHeadings();

// One line per row of usersOn, in that table's order, each with ColumnCount
// cells; now is the current moment as a day count. The tables must be open;
// they are walked from their first row and left at their end.
//
// USERDB.DB is read once for all log-ins (only the logged-in users' rows and
// the five columns needed): each user's latest database row is the one a
// scan of that user's rows alone would pick.
QVector<QStringList> whosOnLines(store::Table& usersOn, store::Table& userPref, store::Table& userDb, double now);

// The same lines by one scan of USERDB.DB per log-in. Slow on large tables;
// kept as the reference the single pass is checked and measured against.
QVector<QStringList> whosOnLinesPerLogIn(store::Table& usersOn, store::Table& userPref, store::Table& userDb,
                                         double now);

// A time of day in the locale's long time format, without the time zone the
// toolkit's long format adds (a time of day read from a table has none).
QString longTimeText(const QTime& time);

// The Duration cell of an entry made on date (whole days) at time (fraction
// of a day), seen from now: a relative date on another day, a span of hours
// and minutes on the same day.
QString showDuration(double now, double date, double time);

} // namespace login
