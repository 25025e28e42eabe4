#include "tools/demo/Installer.h"

#include "store/Catalogue.h"
#include "store/FileModes.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "tools/demo/AlarmWave.h"
#include "tools/demo/Layout.h"
#include "tools/demo/RecordIds.h"
#include "tools/demo/SqlFill.h"
#include "tools/topg/Copy.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <random>

namespace demo {

namespace {

using namespace catalogue;

struct SampleUser {
    QString who;
    QString fullName;
    QString password;
    bool supervisor = false;
};

const SampleUser kNamedUsers[] = {
    {QStringLiteral("ADM"), QStringLiteral("Administrator"), QStringLiteral("admin"), true},
    {QStringLiteral("JDS"), QStringLiteral("Jane D. Smith"), QStringLiteral("jane"), false},
    {QStringLiteral("MKL"), QStringLiteral("Mark Keller"), QString(), false},
    {QStringLiteral("RTP"), QStringLiteral("Rita Paulsen"), QStringLiteral("rita"), false},
    {QStringLiteral("EVB"), QStringLiteral("Eva Brandt"), QStringLiteral("eva"), false},
    {QStringLiteral("TOK"), QStringLiteral("Tom Okafor"), QString(), false},
    {QStringLiteral("LIW"), QStringLiteral("Li Wen"), QStringLiteral("liwen"), false},
    {QStringLiteral("PGR"), QStringLiteral("Paul Grant"), QStringLiteral("paul"), false},
    {QStringLiteral("SAN"), QStringLiteral("Sandra Novak"), QString(), false},
    {QStringLiteral("HBK"), QStringLiteral("Hugo Becker"), QStringLiteral("hugo"), false},
};

struct SampleDatabase {
    QString code;
    QString description;
};

const SampleDatabase kNamedDatabases[] = {
    {QStringLiteral("MAIN"), QStringLiteral("Main contacts")},
    {QStringLiteral("SALES"), QStringLiteral("Sales prospects")},
    {QStringLiteral("SUPPORT"), QStringLiteral("Support customers")},
};

constexpr int kMaxUsers = 26 * 26 * 26; // every three-letter ID
constexpr int kMaxDatabases = 99999;
constexpr int kLinkedContacts = 1000;   // contacts that events, actions and marks point to

const char* const kCompanies[] = {"Northwind Traders", "Blue Harbour Ltd", "Greenfield Farms", "Orbit Logistics",
                                  "Maple & Stone", "Copperline Tools", "Silver Birch Media", "Redwood Clinic",
                                  "Lakeside Books", "Quarry Hill Builders", "Pine Valley Bakery", "Summit Optics"};
const char* const kFirstNames[] = {"Anna", "Ben", "Clara", "David", "Elif", "Farid", "Grace", "Henrik",
                                   "Ines", "Jonas", "Kira", "Luca", "Maya", "Noah", "Olga", "Pedro"};
const char* const kLastNames[] = {"Abbott", "Brenner", "Castillo", "Dunn", "Eriksen", "Fischer", "Gomez",
                                  "Hale", "Ivanova", "Jansen", "Kowalski", "Lindqvist", "Moreau", "Nakamura"};
const char* const kCities[] = {"Springfield", "Riverton", "Lakewood", "Fairview", "Georgetown",
                               "Kingsbridge", "Ashford", "Milton", "Brookside", "Westhaven"};
const char* const kEventTypes[] = {"Call", "Meeting", "To-do", "Note", "Letter"};

template <std::size_t N>
const char* pick(const char* const (&items)[N], qint64 index)
{
    return items[std::size_t(index) % N];
}

// A stable small number from a name, so that generated values do not depend
// on Qt's per-process hash seed.
int nameHash(const QString& name)
{
    int h = 0;
    for (QChar c : name)
        h = (h * 31 + c.unicode()) % 9973;
    return h;
}

// The three-letter ID number n: AAA, AAB, ...
QString generatedWho(int n)
{
    QString who(3, QLatin1Char('A'));
    for (int i = 2; i >= 0; --i) {
        who[i] = QLatin1Char(char('A' + n % 26));
        n /= 26;
    }
    return who;
}

QVector<SampleUser> makeUsers(int count)
{
    QVector<SampleUser> users;
    QSet<QString> taken;
    for (const SampleUser& u : kNamedUsers) {
        if (users.size() == count)
            return users;
        users.append(u);
        taken.insert(u.who);
    }
    for (int n = 0; users.size() < count; ++n) {
        const QString who = generatedWho(n);
        if (taken.contains(who))
            continue;
        users.append({who, QStringLiteral("Demo user ") + who,
                      n % 3 == 1 ? QString() : who.toLower() + QStringLiteral("pw"), false});
    }
    return users;
}

QVector<SampleDatabase> makeDatabases(int count)
{
    QVector<SampleDatabase> databases;
    for (const SampleDatabase& d : kNamedDatabases) {
        if (databases.size() == count)
            return databases;
        databases.append(d);
    }
    while (databases.size() < count) {
        const int n = int(databases.size()) + 1;
        databases.append({QStringLiteral("DB%1").arg(n, 4, 10, QLatin1Char('0')),
                          QStringLiteral("Database %1").arg(n)});
    }
    return databases;
}

QStringList columnNames(const store::TableDef& def)
{
    QStringList names;
    for (const store::ColumnDef& c : def.columns)
        names << c.name;
    return names;
}

int textLength(const QString& declaredType)
{
    const int open = int(declaredType.indexOf(QLatin1Char('(')));
    return open < 0 ? 0 : declaredType.mid(open + 1).chopped(1).toInt();
}

class Filler {
public:
    // The table files are in tablesDir; the alarm sound goes into dataDir.
    Filler(const Options& options, const QString& tablesDir, const QString& dataDir)
        : m_options(options),
          m_tablesDir(tablesDir),
          m_dataDir(dataDir),
          m_now(QDateTime::currentDateTime()),
          m_today(m_now.date()),
          m_ids(options.seed, m_today),
          m_random(options.seed ^ 0x5eedu),
          m_users(makeUsers(options.users)),
          m_databases(makeDatabases(options.databases))
    {
        for (const SampleUser& u : m_users)
            m_whoUtf8.append(u.who.toUtf8());
        for (const SampleDatabase& d : m_databases)
            m_codeUtf8.append(d.code.toUtf8());
    }

    void fillAll()
    {
        fillUserPref();
        fillDatabase();
        fillPermAndUserDb();
        fillUsersOn();
        fillSettings();
        fillContacts();
        fillEvents();
        fillHoliday();
        fillSteps();
        fillActions();
        fillInOut();
        fillMarks();
    }

private:
    QString path(const QString& table) const { return QDir(m_tablesDir).filePath(store::tableFileName(table)); }
    int userCount() const { return int(m_users.size()); }
    int databaseCount() const { return int(m_databases.size()); }
    // The last user gets no permission or per-database rows, so that the
    // exit clean-up of the utility has pairs to complete.
    int usersWithRows() const { return userCount() >= 2 ? userCount() - 1 : userCount(); }
    bool hasUsers() const { return !m_users.isEmpty(); }
    const QByteArray& owner(qint64 index) const { return m_whoUtf8[int(index % userCount())]; }
    const QByteArray& code(int database) const { return m_codeUtf8[database]; }

    // Moments relative to now, always in the past.
    QDateTime minutesAgo(int minutes) const { return m_now.addSecs(-60LL * minutes); }
    // Users 0 and 1 are logged in at the moment.
    bool loggedIn(int user) const { return user < 2; }
    QDateTime loginMoment(int user) const { return minutesAgo(25 + 40 * user); }

    QVariant userPrefValue(const QString& column, const QString& type, int u) const
    {
        const SampleUser& user = m_users[u];
        const QString name = column.toLower();
        if (column == fWho)
            return user.who;
        if (column == fFullName)
            return user.fullName;
        if (column == fPassword)
            return user.password.isEmpty() ? QVariant() : QVariant(user.password);
        if (column == fSuperUser)
            return user.supervisor;
        if (name.startsWith(QLatin1String("sys")))
            return user.supervisor || (nameHash(column) + 3 * u) % 5 != 0;
        if (name == QLatin1String("showhint") || name == QLatin1String("qanimation") ||
            name == QLatin1String("viewstatus") || name == QLatin1String("viewbuttons"))
            return true;
        if (name.startsWith(QLatin1String("autofollow")))
            return u % 3 == 1;
        if (name == QLatin1String("loginmachinename"))
            return QStringLiteral("WS-") + user.who;
        if (name == QLatin1String("returnaddress")) {
            if (u % 2 == 1)
                return QVariant();
            return QStringLiteral("%1\r\n%2 Harbour Road\r\n%3\r\n")
                .arg(user.fullName)
                .arg(10 + u)
                .arg(QLatin1String(pick(kCities, u)));
        }
        // The preferences: every third user leaves the texts blank, so that
        // copying between users has blanks to deal with.
        if (type == QLatin1String("BOOLEAN"))
            return (nameHash(column) + u) % 2 == 0;
        if (type == QLatin1String("INTEGER"))
            return integerPreference(name, u);
        if (type == QLatin1String("DATETIME")) {
            if (name.contains(QLatin1String("time")))
                return dateTimeText(QDateTime(QDate(1899, 12, 30), QTime(9, 30 + u % 30)));
            return dateTimeText(QDateTime(m_today.addDays(u % 7), QTime(9, 0)));
        }
        if (u % 3 == 2)
            return QVariant();
        return textPreference(name, user).left(textLength(type));
    }

    static int integerPreference(const QString& name, int u)
    {
        if (name == QLatin1String("comport"))
            return 1 + u % 4;
        if (name.endsWith(QLatin1String("fontsize")))
            return 9 + u % 4;
        if (name.endsWith(QLatin1String("fontcolor")))
            return u % 2 ? 0x000080 : 0;
        if (name.startsWith(QLatin1String("alarm")))
            return 5 + 5 * (u % 3);
        if (name.startsWith(QLatin1String("duration")))
            return 15 * (1 + u % 4);
        if (name == QLatin1String("dialspeed"))
            return 50 + 10 * (u % 3);
        return (nameHash(name) + u) % 3;
    }

    static QString textPreference(const QString& name, const SampleUser& user)
    {
        const QString who = user.who.toLower();
        if (name.endsWith(QLatin1String("fontname")))
            return QStringLiteral("DejaVu Sans");
        if (name == QLatin1String("wppath"))
            return QStringLiteral("/usr/bin/lowriter");
        if (name == QLatin1String("alarmwav"))
            return QStringLiteral("/usr/share/sounds/alarm.wav");
        if (name.startsWith(QLatin1String("carrier")))
            return name.endsWith(QLatin1String("name")) ? QStringLiteral("Carrier ") + name.mid(7, 1) : QStringLiteral("10");
        if (name == QLatin1String("defcompany"))
            return QLatin1String(kCompanies[0]);
        if (name == QLatin1String("defcity"))
            return QLatin1String(kCities[0]);
        if (name == QLatin1String("defcountry"))
            return QStringLiteral("United Kingdom");
        if (name == QLatin1String("defzip"))
            return QStringLiteral("AB1 2CD");
        if (name == QLatin1String("winfaxresolution"))
            return QStringLiteral("Fine");
        if (name == QLatin1String("emailencoding"))
            return QStringLiteral("MIME");
        if (name == QLatin1String("emailcharset"))
            return QStringLiteral("UTF-8");
        if (name == QLatin1String("emailname"))
            return user.fullName;
        if (name.startsWith(QLatin1String("emailpop")) && name.endsWith(QLatin1String("server")))
            return QStringLiteral("pop.example.com");
        if (name == QLatin1String("emailsmtp"))
            return QStringLiteral("smtp.example.com");
        if (name.endsWith(QLatin1String("path")) || name.endsWith(QLatin1String("pathname")) ||
            name.endsWith(QLatin1String("file")) || name.endsWith(QLatin1String("logfile")) ||
            name.endsWith(QLatin1String("attachments")) || name.endsWith(QLatin1String("program")))
            return QStringLiteral("/home/") + who + QStringLiteral("/kontiva/") + name;
        return name + QLatin1Char(' ') + who;
    }

    void fillUserPref()
    {
        const store::TableDef def = tableDef(kUserPref);
        FillConnection db(path(kUserPref), kUserPref);
        RowWriter rows(db, columnNames(def));
        for (int u = 0; u < userCount(); ++u) {
            for (int c = 0; c < def.columns.size(); ++c)
                rows.value(c, userPrefValue(def.columns[c].name, def.columns[c].declaredType, u));
            rows.row();
        }
        db.commit();
    }

    void fillDatabase()
    {
        FillConnection db(path(kDatabase), kDatabase);
        RowWriter rows(db, {fDb, fDescription});
        for (const SampleDatabase& d : m_databases)
            rows.text(0, d.code).text(1, d.description).row();
        db.commit();
    }

    // Permission rows: the supervisor may do everything; the others lose a
    // few rights in a pattern, so the permission windows show a mix.
    void fillPermAndUserDb()
    {
        const store::TableDef permDef = tableDef(kPerm);
        FillConnection perm(path(kPerm), kPerm);
        RowWriter permRows(perm, columnNames(permDef));
        FillConnection userDb(path(kUserDb), kUserDb);
        const QStringList userDbColumns = {fDb, fWho, fSyncwellNo, QStringLiteral("ntimes"),
                                           QStringLiteral("datelastlogin"), QStringLiteral("timelastlogin"),
                                           QStringLiteral("FontDataSize"), QStringLiteral("FontDataColor"),
                                           QStringLiteral("FontDataStyle"), QStringLiteral("FontDataName"),
                                           QStringLiteral("FontLabelSize"), QStringLiteral("FontLabelColor"),
                                           QStringLiteral("FontLabelStyle"), QStringLiteral("FontLabelName"),
                                           QStringLiteral("FontGridSize"), QStringLiteral("FontGridColor"),
                                           QStringLiteral("FontGridStyle"), QStringLiteral("FontGridName"),
                                           QStringLiteral("ShowGridLines"), QStringLiteral("OpenOnStart")};
        RowWriter userDbRows(userDb, userDbColumns);
        std::uniform_int_distribution<int> timesDraw(1, 250);
        std::uniform_int_distribution<int> secondsDraw(8 * 3600, 17 * 3600);

        for (int d = 0; d < databaseCount(); ++d) {
            const QString code = m_databases[d].code;
            for (int u = 0; u < usersWithRows(); ++u) {
                const SampleUser& user = m_users[u];
                for (int c = 0; c < permDef.columns.size(); ++c) {
                    const QString& column = permDef.columns[c].name;
                    if (column == fDb)
                        permRows.text(c, code);
                    else if (column == fWho)
                        permRows.text(c, user.who);
                    else if (column == fSyncwellNo)
                        permRows.text(c, m_ids.nextUtf8());
                    else if (column == QLatin1String("Access"))
                        permRows.boolean(c, !(u % 4 == 2 && d == 1));
                    else if (user.supervisor)
                        permRows.boolean(c, true);
                    else if (column.endsWith(QLatin1String("Delete")) && column.size() == 7)
                        permRows.boolean(c, u % 2 == 0);
                    else if (column == QLatin1String("Tab3"))
                        permRows.boolean(c, u % 3 != 1);
                    else
                        permRows.boolean(c, (nameHash(column) + u + d) % 7 != 0);
                }
                permRows.row();

                // When each user last entered each database; the logged-in
                // users entered the first database a little while ago.
                QDate date = m_today.addDays(-1 - (u + 3 * d) % 20);
                QTime time = QTime(0, 0).addSecs(secondsDraw(m_random));
                if (d == 0 && loggedIn(u)) {
                    date = loginMoment(u).date();
                    time = loginMoment(u).time();
                }
                const int fontSize = u % 2 ? 10 : 9;
                const QString fontName = u % 2 ? QStringLiteral("DejaVu Sans") : QStringLiteral("Arial");
                userDbRows.text(0, code).text(1, user.who).text(2, m_ids.nextUtf8());
                userDbRows.integer(3, timesDraw(m_random)).text(4, dateText(date)).text(5, timeText(time));
                for (int font = 0; font < 3; ++font)
                    userDbRows.integer(6 + 4 * font, fontSize).integer(7 + 4 * font, 0).integer(8 + 4 * font, 0)
                        .text(9 + 4 * font, fontName);
                userDbRows.boolean(18, u % 2 == 1).boolean(19, d == 0);
                userDbRows.row();
            }
        }
        perm.commit();
        userDb.commit();
    }

    void fillUsersOn()
    {
        FillConnection db(path(kUsersOn), kUsersOn);
        RowWriter rows(db, {fWho, fDb, QStringLiteral("MachineName"), QStringLiteral("datelogin"),
                            QStringLiteral("timelogin")});
        for (int u = 0; u < userCount() && loggedIn(u); ++u) {
            rows.text(0, m_users[u].who);
            if (databaseCount() > 0)
                rows.text(1, m_databases[0].code);
            rows.text(2, QStringLiteral("WS-") + m_users[u].who)
                .text(3, dateText(loginMoment(u).date()))
                .text(4, timeText(loginMoment(u).time()))
                .row();
        }
        db.commit();
    }

    // The settings row as a fresh installation has it: nobody forced off yet,
    // the alarm pointing at the installation's own sound.
    void fillSettings()
    {
        const QString wave = QDir(m_dataDir).filePath(kAlarmFileName);
        writeAlarmWave(wave);
        FillConnection db(path(kSettings), kSettings);
        RowWriter rows(db, {QStringLiteral("ForceOff"), QStringLiteral("forceWarn"), QStringLiteral("ForcePlay"),
                            QStringLiteral("ForceRepeat"), QStringLiteral("ForceWav")});
        rows.boolean(0, false).integer(1, 3).boolean(2, false).boolean(3, false).text(4, wave).row();
        db.commit();
    }

    // Contacts spread over the databases and the users; every 17th has no
    // owner, so that blank owners can be handed over.
    void fillContacts()
    {
        FillConnection db(path(kContact), kContact);
        RowWriter rows(db, {QStringLiteral("recno"), fDb, fWho, QStringLiteral("Company"), QStringLiteral("Contact"),
                            QStringLiteral("Phone"), QStringLiteral("City")});
        const int perDatabase = qMax(1, databaseCount());
        for (qint64 i = 0; i < m_options.contacts; ++i) {
            const QByteArray recno = m_ids.nextUtf8();
            const int database = databaseCount() > 0 ? int(i % databaseCount()) : -1;
            if (m_links.size() < kLinkedContacts)
                m_links.append({recno, database});
            rows.text(0, recno);
            if (database >= 0)
                rows.text(1, code(database));
            if (i % 17 == 16)
                rows.text(2, QByteArray());
            else
                rows.text(2, owner(i / perDatabase));
            rows.text(3, QByteArray(pick(kCompanies, i)))
                .text(4, QByteArray(pick(kFirstNames, i)) + ' ' + pick(kLastNames, i / 16))
                .text(5, QByteArray("555-") + QByteArray::number(1000 + i % 9000))
                .text(6, QByteArray(pick(kCities, i / 3)));
            rows.row();
        }
        db.commit();
    }

    void fillEvents()
    {
        FillConnection db(path(kEvent), kEvent);
        RowWriter rows(db, {QStringLiteral("erecno"), QStringLiteral("recno"), fDb, fWho,
                            QStringLiteral("completed"), QStringLiteral("EventType"), QStringLiteral("EventDate"),
                            QStringLiteral("EventTime"), QStringLiteral("Subject")});
        for (qint64 i = 0; i < m_options.events; ++i) {
            rows.text(0, m_ids.nextUtf8());
            int database = databaseCount() > 0 ? int(i % databaseCount()) : -1;
            if (!m_links.isEmpty()) {
                const Link& link = m_links[int(i % m_links.size())];
                rows.text(1, link.recno);
                database = link.database;
            }
            if (database >= 0)
                rows.text(2, code(database));
            if (i % 19 == 18)
                rows.text(3, QByteArray());
            else
                rows.text(3, owner(i / 2));
            // Done, not done, and now and then never marked either way.
            if (i % 5 != 4)
                rows.boolean(4, i % 3 == 0);
            const char* type = pick(kEventTypes, i);
            rows.text(5, QByteArray(type))
                .text(6, dateText(m_today.addDays(i % 121 - 60)))
                .text(7, timeText(QTime(8, 0).addSecs(int(i % 20) * 1800)))
                .text(8, QByteArray(type) + " with " + pick(kCompanies, i / 5));
            rows.row();
        }
        db.commit();
    }

    void fillHoliday()
    {
        FillConnection db(path(kHoliday), kHoliday);
        RowWriter rows(db, {fWho, fSyncwellNo, QStringLiteral("HolidayDate"), fDescription});
        for (int u = 0; u < userCount(); ++u)
            for (int k = 0; k < 2; ++k)
                rows.text(0, m_users[u].who)
                    .text(1, m_ids.nextUtf8())
                    .text(2, dateText(m_today.addDays(30 + 3 * u + 7 * k)))
                    .text(3, k == 0 ? QStringLiteral("Annual leave") : QStringLiteral("Training day"))
                    .row();
        db.commit();
    }

    void fillSteps()
    {
        if (!hasUsers())
            return;
        static const char* const plans[] = {"New customer", "Renewal", "Trade show follow-up"};
        static const char* const steps[] = {"Send welcome letter", "Phone call", "Send brochure", "Visit"};
        FillConnection db(path(kSteps), kSteps);
        RowWriter rows(db, {fWho, fSyncwellNo, QStringLiteral("PlanName"), QStringLiteral("StepNo"), fDescription,
                            QStringLiteral("DaysAfter")});
        for (int p = 0; p < 3; ++p)
            for (int s = 0; s < 4; ++s)
                rows.text(0, owner(p))
                    .text(1, m_ids.nextUtf8())
                    .text(2, QByteArray(plans[p]))
                    .integer(3, s + 1)
                    .text(4, QByteArray(steps[s]))
                    .integer(5, 7 * s)
                    .row();
        db.commit();
    }

    void fillActions()
    {
        if (!hasUsers())
            return;
        FillConnection db(path(kActions), kActions);
        RowWriter rows(db, {fWho, fSyncwellNo, QStringLiteral("recno"), QStringLiteral("PlanName"),
                            QStringLiteral("ActionDate"), QStringLiteral("Done")});
        for (int k = 0; k < 8; ++k) {
            rows.text(0, owner(k)).text(1, m_ids.nextUtf8());
            if (!m_links.isEmpty())
                rows.text(2, m_links[k % m_links.size()].recno);
            rows.text(3, k % 2 ? QStringLiteral("Renewal") : QStringLiteral("New customer"))
                .text(4, dateText(m_today.addDays(k * 3 - 6)))
                .boolean(5, k * 3 - 6 < 0)
                .row();
        }
        db.commit();
    }

    void fillInOut()
    {
        FillConnection db(path(kInOut), kInOut);
        RowWriter rows(db, {fWho, QStringLiteral("IsIn"), QStringLiteral("Note"), QStringLiteral("ReturnDate"),
                            QStringLiteral("ReturnTime")});
        for (int u = 0; u < userCount(); ++u) {
            rows.text(0, m_users[u].who);
            if (u % 3 == 1)
                rows.boolean(1, false)
                    .text(2, QStringLiteral("At a customer"))
                    .text(3, dateText(m_today.addDays(1)))
                    .text(4, timeText(QTime(9, 0)));
            else
                rows.boolean(1, true);
            rows.row();
        }
        db.commit();
    }

    void fillMarks()
    {
        FillConnection db(path(kMarks), kMarks);
        RowWriter rows(db, {fWho, fDb, QStringLiteral("recno"), QStringLiteral("MarkedOn")});
        for (int u = 0; u < userCount(); ++u)
            for (int k = 0; k < 2 && !m_links.isEmpty(); ++k) {
                const Link& link = m_links[(2 * u + k) % m_links.size()];
                rows.text(0, m_users[u].who);
                if (link.database >= 0)
                    rows.text(1, m_databases[link.database].code);
                rows.text(2, link.recno).text(3, dateTimeText(minutesAgo(60 * (u + 1) + k))).row();
            }
        db.commit();
    }

    struct Link {
        QByteArray recno;
        int database = -1;
    };

    const Options& m_options;
    QString m_tablesDir;
    QString m_dataDir;
    QDateTime m_now;
    QDate m_today;
    RecordIds m_ids;
    std::mt19937 m_random;
    QVector<SampleUser> m_users;
    QVector<SampleDatabase> m_databases;
    QVector<QByteArray> m_whoUtf8;
    QVector<QByteArray> m_codeUtf8;
    QVector<Link> m_links;
};

void checkOptions(const Options& options)
{
    if (options.root.trimmed().isEmpty())
        throw store::StoreError(QStringLiteral("No folder was given for the installation."));
    if (options.users < 1 || options.users > kMaxUsers)
        throw store::StoreError(QStringLiteral("The number of users must lie between 1 and %1.").arg(kMaxUsers));
    if (options.databases < 0 || options.databases > kMaxDatabases)
        throw store::StoreError(
            QStringLiteral("The number of databases must lie between 0 and %1.").arg(kMaxDatabases));
    if (options.contacts < 0 || options.events < 0)
        throw store::StoreError(QStringLiteral("The numbers of contacts and events cannot be negative."));
    if (options.engine == Engine::PostgreSQL && options.connection.trimmed().isEmpty())
        throw store::StoreError(QStringLiteral("No database server was given for the installation."));
}

void makeDir(const QString& path)
{
    if (!store::makeFolder(path))
        throw store::StoreError(QStringLiteral("Could not create the folder %1.").arg(QDir::toNativeSeparators(path)));
}

// The table files with their sample rows.
void makeTables(const Options& options, const QString& tablesDir, const QString& dataDir)
{
    for (const store::TableDef& def : catalogue::tableDefs()) {
        if (!options.journal && store::tableFileName(def.name) == store::tableFileName(kMerge))
            continue;
        store::createTableFile(tablesDir, def, options.protectTables ? catalogue::protectingPassword(def.name) : QString());
    }
    Filler(options, tablesDir, dataDir).fillAll();
}

void installFiles(const Options& options, const QString& root, const Result& result)
{
    if (installationExists(root)) {
        if (!options.replace)
            throw store::StoreError(QStringLiteral("There is an installation in %1 already; it was left as it is.")
                                        .arg(QDir::toNativeSeparators(root)));
        removeInstallation(root);
    }
    makeDir(result.dataDir);
    makeDir(result.netDir);

    // A half-made installation would be refused next time; take it away.
    try {
        makeTables(options, result.dataDir, result.dataDir);
    } catch (...) {
        try {
            removeInstallation(root);
        } catch (const store::StoreError&) {
        }
        throw;
    }
}

// The tables are filled in a private staging folder, then copied to the
// server in one transaction: a failure leaves the schema as it was.
void installOnServer(const Options& options, const Result& result)
{
    if (!options.replace && serverInstallationExists(options.connection, result.schema))
        throw store::StoreError(QStringLiteral("The schema %1 on the server holds an installation already; it was "
                                               "left as it is.").arg(result.schema));
    // Table files of an earlier installation in the folder would be taken
    // for the installation; the tables live on the server now.
    const QString root = QFileInfo(result.dataDir).absolutePath();
    if (options.replace && installationExists(root))
        removeInstallation(root);
    makeDir(result.dataDir);
    makeDir(result.netDir);
    const QTemporaryDir staging;
    if (!staging.isValid())
        throw store::StoreError(QStringLiteral("No staging folder for the tables: %1").arg(staging.errorString()));
    makeTables(options, staging.path(), result.dataDir);
    topg::Options copy;
    copy.dataDir = staging.path();
    copy.connection = options.connection;
    copy.schema = result.schema;
    copy.replace = options.replace;
    topg::copyInstallation(copy);
}

} // namespace

Result install(const Options& options)
{
    checkOptions(options);
    const QString root = QDir::cleanPath(QDir(options.root).absolutePath());
    Result result;
    result.engine = options.engine;
    result.dataDir = dataDirOf(root);
    result.netDir = netDirOf(root);
    QString programDir = options.programDir;
    if (programDir.isEmpty())
        programDir = QCoreApplication::applicationDirPath();
    result.configPath = QDir::cleanPath(QDir(programDir).absoluteFilePath(QStringLiteral("brisel-store.ini")));

    if (options.engine == Engine::PostgreSQL) {
        result.connection = options.connection;
        result.schema = schemaName(options.schema);
        installOnServer(options, result);
    } else {
        installFiles(options, root, result);
    }

    if (options.writeProgramFiles) {
        makeDir(programDir);
        writeNetDirIni(QDir(programDir).filePath(QStringLiteral("NETDIR.INI")), result.netDir);
        writeStoreConfig(result);
    }
    return result;
}

void writeStoreConfig(const Result& result)
{
    if (result.engine == Engine::PostgreSQL)
        writeServerStoreConfig(result.configPath, result.dataDir, result.connection, result.schema);
    else
        writeStoreConfig(result.configPath, result.dataDir);
}

} // namespace demo
