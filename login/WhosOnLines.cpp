#include "login/WhosOnLines.h"

#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/Table.h"
#include "support/Formatters.h"
#include "support/Text.h"

#include <QHash>
#include <QLocale>

#include <cmath>

namespace login {

namespace {

// The latest USERDB.DB row of one user, as far as the rows seen so far go.
// Starts before any real entry, so a user without rows shows this moment.
struct Latest {
    QString database;
    double date = store::daysFromDate(QDate(1800, 1, 1));
    double time = store::daysFromTime(QTime(0, 0, 1));
    int count = 0;

    // A later row wins a tie on date and time: the comparison is "not
    // earlier", not "later".
    void offer(double rowDate, double rowTime, const QString& rowDatabase, int rowCount)
    {
        if (rowDate > date || (rowDate == date && rowTime >= time)) {
            database = rowDatabase;
            date = rowDate;
            time = rowTime;
            count = rowCount;
        }
    }
};

// The USERDB.DB fields a scan reads, looked up once per walk.
struct UserDbFields {
    store::Field& who;
    store::Field& database;
    store::Field& date;
    store::Field& time;
    store::Field& count;

    explicit UserDbFields(store::Table& t)
        : who(t.fieldByName(catalogue::fWho)),
          database(t.fieldByName(catalogue::fDb)),
          date(t.fieldByName(QStringLiteral("datelastlogin"))),
          time(t.fieldByName(QStringLiteral("timelastlogin"))),
          count(t.fieldByName(QStringLiteral("ntimes")))
    {
    }
    void offerTo(Latest& latest) const
    {
        latest.offer(date.asDateTime(), time.asDateTime(), database.asString(), count.asInteger());
    }
};

// Columns 0, 1 and 6 of a log-in: its user ID, then the user's full name and
// machine, empty when no user row has that ID.
QStringList startLine(const QString& who, store::Table& userPref)
{
    QStringList line(ColumnCount);
    line[ColWho] = who;
    if (userPref.findKey({who})) {
        line[ColFullName] = userPref.fieldByName(QStringLiteral("fullname")).asString();
        line[ColMachine] = userPref.fieldByName(QStringLiteral("LogInMachineName")).asString();
    }
    return line;
}

// Columns 2 to 5 from the user's latest database row.
void finishLine(QStringList& line, const Latest& latest, double now)
{
    const QLocale locale;
    line[ColDatabase] = latest.database;
    line[ColSince] = locale.toString(store::dateFromDays(latest.date), QLocale::ShortFormat) + QLatin1Char(' ')
        + locale.toString(store::timeFromDays(latest.time), QLocale::LongFormat);
    line[ColDuration] = latest.date + latest.time > now ? support::uiText(QStringLiteral("Future???"))
                                                        : showDuration(now, latest.date, latest.time);
    line[ColTimes] = QString::number(latest.count);
}

// The log-in rows' user IDs, in table order.
QStringList logIns(store::Table& usersOn)
{
    QStringList who;
    store::Field& field = usersOn.fieldByName(catalogue::fWho);
    for (usersOn.first(); !usersOn.eof(); usersOn.next())
        who << field.asString();
    return who;
}

} // namespace

QStringList whosOnHeadings()
{
    QStringList headings;
    for (const char* h : {"Who", "Fullname", "Database", "In Database Since", "Duration", "# times", "Machine"})
        headings << support::uiText(QString::fromLatin1(h));
    return headings;
}

QVector<QStringList> whosOnLines(store::Table& usersOn, store::Table& userPref, store::Table& userDb, double now)
{
    const QStringList who = logIns(usersOn);
    QHash<QString, Latest> latest;
    for (const QString& w : who)
        latest.insert(w, Latest());

    // One walk for everybody: each user's rows are offered in table order,
    // exactly as a walk of that user's rows alone would offer them.
    if (!latest.isEmpty()) {
        const UserDbFields fields(userDb);
        for (userDb.first(); !userDb.eof(); userDb.next()) {
            const auto it = latest.find(fields.who.asString());
            if (it != latest.end())
                fields.offerTo(*it);
        }
    }

    QVector<QStringList> lines;
    lines.reserve(who.size());
    for (const QString& w : who) {
        lines.append(startLine(w, userPref));
        finishLine(lines.last(), latest.value(w), now);
    }
    return lines;
}

QVector<QStringList> whosOnLinesPerLogIn(store::Table& usersOn, store::Table& userPref, store::Table& userDb,
                                         double now)
{
    QVector<QStringList> lines;
    const UserDbFields fields(userDb);
    for (const QString& w : logIns(usersOn)) {
        lines.append(startLine(w, userPref));
        Latest latest;
        for (userDb.first(); !userDb.eof(); userDb.next())
            if (fields.who.asString() == w)
                fields.offerTo(latest);
        finishLine(lines.last(), latest, now);
    }
    return lines;
}

QString showDuration(double now, double date, double time)
{
    if (std::trunc(now) != std::trunc(date))
        return support::relativeDateText(now, date);
    return support::timeSpanText(false, now, time);
}

} // namespace login
