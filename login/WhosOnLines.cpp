#include "login/WhosOnLines.h"

#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/StoreError.h"
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

// The decimal number of count digits from s[i], or -1.
int digits(const QChar* s, int i, int count)
{
    int n = 0;
    for (int k = i; k < i + count; ++k) {
        const char16_t c = s[k].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        n = n * 10 + (c - u'0');
    }
    return n;
}

// The store's own formats, "yyyy-MM-dd" for a date field and "HH:mm:ss.zzz"
// for a time field, read without the general date parser, which costs more
// than the rest of a refresh. Anything else is left to the store (false).
bool quickDays(const QVariant& v, store::FieldType type, double* days)
{
    if (v.typeId() != QMetaType::QString)
        return false;
    const QString text = v.toString();
    const QChar* s = text.constData();
    if (type == store::FieldType::Date && text.size() == 10 && s[4] == u'-' && s[7] == u'-') {
        const QDate date(digits(s, 0, 4), digits(s, 5, 2), digits(s, 8, 2));
        if (!date.isValid() || date.year() < 1)
            return false;
        *days = store::daysFromDate(date);
        return true;
    }
    if (type == store::FieldType::Time && text.size() == 12 && s[2] == u':' && s[5] == u':' && s[8] == u'.') {
        const QTime time(digits(s, 0, 2), digits(s, 3, 2), digits(s, 6, 2), digits(s, 9, 3));
        if (!time.isValid())
            return false;
        *days = store::daysFromTime(time);
        return true;
    }
    return false;
}

// Stored values of USERDB.DB read as its fields read them; odd contents
// give the store's clear error.
struct StoredReader {
    store::FieldType dateType;
    store::FieldType timeType;

    explicit StoredReader(store::Table& t)
        : dateType(t.fieldByName(QStringLiteral("datelastlogin")).dataType()),
          timeType(t.fieldByName(QStringLiteral("timelastlogin")).dataType())
    {
    }
    static QString text(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }
    static double days(const QVariant& v, store::FieldType type, const char* field)
    {
        double d = 0;
        if (quickDays(v, type, &d))
            return d;
        if (!store::storedValueDays(v, type, &d))
            throw store::StoreError(QStringLiteral("Table %1: \"%2\" in field %3 is not a valid %4.")
                                        .arg(catalogue::kUserDb, v.toString(), QLatin1String(field),
                                             store::fieldTypeName(type)));
        return d;
    }
    static int whole(const QVariant& v)
    {
        if (v.isNull())
            return 0;
        if (v.typeId() == QMetaType::LongLong)
            return int(v.toLongLong());
        if (v.typeId() == QMetaType::Double)
            return int(std::llround(v.toDouble()));
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        if (!ok)
            throw store::StoreError(QStringLiteral("Table %1: \"%2\" in field ntimes is not a whole number.")
                                        .arg(catalogue::kUserDb, v.toString()));
        return int(n);
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
        + longTimeText(store::timeFromDays(latest.time));
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

    // One read of the five columns of the logged-in users' rows: each user's
    // rows are offered in table order, exactly as a walk of that user's rows alone
    // would offer them, and converted as the fields would read them.
    if (!latest.isEmpty()) {
        const StoredReader read(userDb);
        // A log-in with an empty ID owns the rows whose Who reads empty, NULL
        // included, which no match on the value finds: then every row is read.
        const bool blankId = latest.contains(QString());
        const auto rows = userDb.snapshot({catalogue::fWho, catalogue::fDb, QStringLiteral("datelastlogin"),
                                           QStringLiteral("timelastlogin"), QStringLiteral("ntimes")},
                                          blankId ? QString() : catalogue::fWho,
                                          blankId ? QStringList() : latest.keys());
        for (const store::RowSnapshot& row : rows) {
            const auto it = latest.find(read.text(row.values[0]));
            if (it != latest.end())
                it->offer(read.days(row.values[2], read.dateType, "datelastlogin"),
                          read.days(row.values[3], read.timeType, "timelastlogin"), read.text(row.values[1]),
                          read.whole(row.values[4]));
        }
    }

    // The users' names and machines in one read as well, not a lookup each.
    QHash<QString, std::pair<QString, QString>> users;
    if (!latest.isEmpty()) {
        const auto rows = userPref.snapshot({catalogue::fWho, QStringLiteral("fullname"), QStringLiteral("LogInMachineName")},
                                            catalogue::fWho, latest.keys());
        for (const store::RowSnapshot& row : rows)
            users.insert(StoredReader::text(row.values[0]),
                         {StoredReader::text(row.values[1]), StoredReader::text(row.values[2])});
    }

    QVector<QStringList> lines;
    lines.reserve(who.size());
    for (const QString& w : who) {
        QStringList line(ColumnCount);
        line[ColWho] = w;
        const auto user = users.constFind(w);
        if (user != users.constEnd()) {
            line[ColFullName] = user->first;
            line[ColMachine] = user->second;
        }
        finishLine(line, latest.value(w), now);
        lines.append(std::move(line));
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

QString longTimeText(const QTime& time)
{
    static const QString format = [] {
        // Drops the zone letters outside quoted literals, then the blanks
        // they leave.
        const QString pattern = QLocale().timeFormat(QLocale::LongFormat);
        QString result;
        bool quoted = false;
        for (QChar c : pattern) {
            if (c == u'\'')
                quoted = !quoted;
            if (!quoted && c == u't')
                continue;
            result += c;
        }
        return result.simplified();
    }();
    return QLocale().toString(time, format);
}

QString showDuration(double now, double date, double time)
{
    if (std::trunc(now) != std::trunc(date))
        return support::relativeDateText(now, date);
    return support::timeSpanText(false, now, time);
}

} // namespace login
