// brisel-admin run as a real process on a test installation: each command's
// exit status and output, the tables and journal rows read back, and the
// refusals (bad input, another program holding a table) changing nothing.

#include "accounts/CopySettings.h"
#include "login/ForceRow.h"
#include "permissions/PermModel.h"
#include "permissions/Report.h"
#include "shell/Backup.h"
#include "shell/DeleteUser.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

// Runs brisel-admin on the installation with the arguments.
Run admin(const TestInstall& install, const QStringList& arguments)
{
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/brisel-admin"),
                  QStringList{QStringLiteral("--config"), install.configPath(), QStringLiteral("--netdir"),
                              install.netDir()}
                      + arguments);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QVariantMap user(const QString& who) { return testkit::findRow(catalogue::kUserPref, catalogue::fWho, who); }

QVariantMap permRow(const QString& db, const QString& who)
{
    for (const QVariantMap& row : testkit::tableRows(catalogue::kPerm))
        if (row.value("db").toString() == db && row.value("who").toString() == who)
            return row;
    return {};
}

int rowsOf(const QString& table, const QString& who)
{
    return int(testkit::column(table, catalogue::fWho).count(who));
}

int journalSize() { return int(testkit::journalEntries().size()); }

// The journal rows from the from-th on as "table code/action/field".
QStringList journalSince(int from)
{
    QStringList lines;
    for (const testkit::JournalEntry& e : testkit::journalEntries().mid(from))
        lines << QStringLiteral("%1/%2/%3").arg(e.table).arg(e.action).arg(e.fieldname.toLower());
    return lines;
}

QString code(const QString& table) { return QString::number(support::tablecode(table)); }

// The cells of an RFC 4180 text, a list per CR LF line.
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> rows;
    QStringList row;
    QString cell;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch != QLatin1Char('"'))
                cell += ch;
            else if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"'))
                cell += text[++i];
            else
                quoted = false;
        } else if (ch == QLatin1Char('"')) {
            quoted = true;
        } else if (ch == QLatin1Char(',')) {
            row << cell;
            cell.clear();
        } else if (ch == QLatin1Char('\r') && text.mid(i + 1, 1) == QStringLiteral("\n")) {
            rows << (row << cell);
            row.clear();
            cell.clear();
            ++i;
        } else {
            cell += ch;
        }
    }
    return rows;
}

// The full name of a user row changed in place, as another supervisor would.
void setFullName(const QString& who, const QString& fullName)
{
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    QVERIFY(users.findKey({who}));
    users.edit();
    users.fieldByName(catalogue::fFullName).setAsString(fullName);
    users.post();
}

// The exit backup into backup1 (written on an even day).
void backUpIntoFirst()
{
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 1), QTime(12, 0)));
    store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
    store::Table userDb(catalogue::kAlias, catalogue::kUserDb);
    QVERIFY(shell::backupUserTables(userPref, userDb));
}

// A refusal: exit status 1, the message on standard error, nothing on
// standard output and no journal row.
#define QVERIFY_REFUSED(run, message, journalBefore)                                                                \
    do {                                                                                                            \
        const Run r_ = (run);                                                                                       \
        QCOMPARE(r_.code, 1);                                                                                       \
        QVERIFY2(r_.err.contains(message), qPrintable(r_.err));                                                     \
        QCOMPARE(r_.out, QString());                                                                                \
        QCOMPARE(journalSize(), journalBefore);                                                                     \
    } while (false)

} // namespace

class TestAdmin : public QObject {
    Q_OBJECT
private slots:
    void helpAndInstallation();
    void listAndAddUsers();
    void deleteUser();
    void renameId();
    void permissionFlags();
    void copySettings();
    void whosOnAndForceOff();
    void tableHeldByAnotherProgram();
    void permissionReports();
    void fullReport();
    void backupsAndRestore();
};

void TestAdmin::helpAndInstallation()
{
    TestInstall install;
    QVERIFY(install.ok());
    Run run = admin(install, {QStringLiteral("--help")});
    QCOMPARE(run.code, 0);
    for (const char* command : {"users", "user add", "user delete", "user rename-id", "perms set", "sysperm set",
                                "copy-settings", "whoson", "force-off", "allow-on"})
        QVERIFY2(run.out.contains(QLatin1String(command)), command);
    // Every command has its own help, without touching the installation.
    for (const QStringList& command : QList<QStringList>{{"user", "add"}, {"perms", "set"}, {"force-off"}}) {
        run = admin(install, command + QStringList{QStringLiteral("--help")});
        QCOMPARE(run.code, 0);
        QVERIFY(run.out.startsWith(QStringLiteral("Usage: brisel-admin ") + command.join(QLatin1Char(' '))));
    }
    // Usage errors: 2, with a hint on standard error.
    for (const QStringList& bad : QList<QStringList>{{}, {"frobnicate"}, {"user"}, {"users", "extra"},
                                                     {"user", "add", "AB"}, {"users", "--bogus"},
                                                     {"force-off", "--by"}}) {
        run = admin(install, bad);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(QLatin1String("--help")), qPrintable(run.err));
        QCOMPARE(run.out, QString());
    }

    // A missing installation is told, not created.
    QProcess process;
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/brisel-admin");
    process.start(program, {QStringLiteral("--config"), install.root() + QStringLiteral("/none.ini"),
                            QStringLiteral("--netdir"), install.netDir(), QStringLiteral("users")});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("No store configuration"));
    process.start(program, {QStringLiteral("--config"), install.configPath(), QStringLiteral("--netdir"),
                            install.root() + QStringLiteral("/gone"), QStringLiteral("users")});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("does not exist"));
}

void TestAdmin::listAndAddUsers()
{
    JournalledInstall install;
    QVERIFY(install.ok());
    const QStringList who = testkit::column(catalogue::kUserPref, catalogue::fWho);

    Run run = admin(install, {QStringLiteral("users")});
    QCOMPARE(run.code, 0);
    QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.takeFirst(), QStringLiteral("Who\tFull Name\tSupervisor?"));
    QCOMPARE(lines.size(), who.size());
    QCOMPARE(lines.first().section(QLatin1Char('\t'), 0, 0), who.first());

    // A new user: the window's defaults, no supervisor unless asked, the
    // password as the password dialog stores it, the row journalled whole.
    int journal = journalSize();
    run = admin(install, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("nw"),
                          QStringLiteral("New Worker"), QStringLiteral("--password"), QStringLiteral("Secret  ")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, QStringLiteral("added\tNW\n"));
    QVariantMap row = user(QStringLiteral("NW"));
    QCOMPARE(row.value("fullname").toString(), QStringLiteral("New Worker"));
    QCOMPARE(row.value("password").toString(), QStringLiteral("secret"));
    QCOMPARE(row.value("superuser").toBool(), false);
    QCOMPARE(row.value("sysbroadcast").toBool(), true);
    QCOMPARE(row.value("showhint").toBool(), true);
    QCOMPARE(row.value("autofollowcall").toBool(), false);
    QCOMPARE(journalSince(journal), QStringList{code(catalogue::kUserPref) + QStringLiteral("/2/")});

    run = admin(install, {QStringLiteral("--json"), QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("SV"),
                          QStringLiteral("Super Visor"), QStringLiteral("--supervisor")});
    QCOMPARE(run.code, 0);
    QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).object().value("added").toString(), QStringLiteral("SV"));
    QCOMPARE(user(QStringLiteral("SV")).value("superuser").toBool(), true);

    run = admin(install, {QStringLiteral("users"), QStringLiteral("--json")});
    const QJsonArray users = QJsonDocument::fromJson(run.out.toUtf8()).array();
    QCOMPARE(users.size(), who.size() + 2);
    bool seen = false;
    for (const QJsonValue& u : users)
        if (u.toObject().value("who") == QStringLiteral("SV"))
            seen = u.toObject().value("supervisor").toBool();
    QVERIFY(seen);

    // Refusals, with the user dialog's words where it refuses the same.
    journal = journalSize();
    const int count = testkit::rowCount(catalogue::kUserPref);
    auto add = [&](const QString& id, const QString& name) {
        return admin(install, {QStringLiteral("user"), QStringLiteral("add"), id, name});
    };
    QVERIFY_REFUSED(add(QStringLiteral("NW"), QStringLiteral("Again")), QStringLiteral("The user id is in use"), journal);
    QVERIFY_REFUSED(add(QStringLiteral("N"), QStringLiteral("Short")), QStringLiteral("Use at least 2 characters"),
                    journal);
    QVERIFY_REFUSED(add(QStringLiteral("   "), QStringLiteral("Blank")), QStringLiteral("is blank"), journal);
    QVERIFY_REFUSED(add(QStringLiteral("ABCD"), QStringLiteral("Long")), QStringLiteral("longer than 3"), journal);
    QVERIFY_REFUSED(add(QStringLiteral("LN"), QString(40, QLatin1Char('x'))), QStringLiteral("full name is longer"),
                    journal);
    QCOMPARE(testkit::rowCount(catalogue::kUserPref), count);
}

void TestAdmin::deleteUser()
{
    JournalledInstall install;
    QVERIFY(install.ok());
    const QString who = QStringLiteral("MKL");
    QVERIFY(rowsOf(catalogue::kPerm, who) > 0);
    const int journal = journalSize();

    // Somebody runs Kontiva: refused with the main window's words.
    {
        testkit::OtherProgram kontiva(install);
        QVERIFY(kontiva.hold(catalogue::kContact));
        QVERIFY_REFUSED(admin(install, {QStringLiteral("user"), QStringLiteral("delete"), who}),
                        shell::contactInUseMessage(), journal);
        QVERIFY(!user(who).isEmpty());
    }
    // The ID compares exactly: mkl is nobody.
    QVERIFY_REFUSED(admin(install, {QStringLiteral("user"), QStringLiteral("delete"), who.toLower()}),
                    QStringLiteral("could not locate user \"mkl\""), journal);

    const Run run = admin(install, {QStringLiteral("user"), QStringLiteral("delete"), who});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, QStringLiteral("deleted\tMKL\n"));
    QVERIFY(user(who).isEmpty());
    for (const QString& table : {catalogue::kPerm, catalogue::kUserDb, catalogue::kHoliday, catalogue::kUsersOn})
        QCOMPARE(rowsOf(table, who), 0);
    // Only the user row is journalled, as about to be deleted.
    QCOMPARE(journalSince(journal), QStringList{code(catalogue::kUserPref) + QStringLiteral("/3/")});
}

void TestAdmin::renameId()
{
    JournalledInstall install;
    QVERIFY(install.ok());
    const QString from = QStringLiteral("JDS"), to = QStringLiteral("RTP");
    const int contacts = rowsOf(catalogue::kContact, from);
    const int holidays = rowsOf(catalogue::kHoliday, from);
    QVERIFY(contacts > 0);
    int journal = journalSize();

    // A dry run prints the counts and changes nothing.
    Run run = admin(install, {QStringLiteral("user"), QStringLiteral("rename-id"), from, to, QStringLiteral("--dry-run"),
                              QStringLiteral("--tables"), QStringLiteral("contacts,holiday")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, QStringLiteral("Table\tRows\nCONTACT.DB\t%1\nholiday.DB\t%2\n").arg(contacts).arg(holidays));
    QCOMPARE(rowsOf(catalogue::kContact, from), contacts);
    QCOMPARE(journalSize(), journal);

    // Bad input changes nothing.
    auto rename = [&](const QStringList& more) {
        return admin(install, QStringList{QStringLiteral("user"), QStringLiteral("rename-id")} + more);
    };
    QVERIFY_REFUSED(rename({from, QStringLiteral("ZZ")}), QStringLiteral("could not locate user \"ZZ\""), journal);
    QVERIFY_REFUSED(rename({QStringLiteral("ABCD"), to}), QStringLiteral("longer than 3"), journal);
    run = rename({from, to, QStringLiteral("--tables"), QStringLiteral("contacts,bogus")});
    QCOMPARE(run.code, 2);
    QVERIFY(run.err.contains(QStringLiteral("unknown table 'bogus'")));
    {
        testkit::OtherProgram kontiva(install);
        QVERIFY(kontiva.hold(catalogue::kContact));
        QVERIFY_REFUSED(rename({from, to}), shell::contactInUseMessage(), journal);
    }
    QCOMPARE(rowsOf(catalogue::kContact, from), contacts);

    // The replace: counts first, then every row handed over and journalled.
    run = admin(install, {QStringLiteral("--json"), QStringLiteral("user"), QStringLiteral("rename-id"), from, to,
                          QStringLiteral("--tables=contacts")});
    QCOMPARE(run.code, 0);
    const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(result.value("counts").toObject().value("contacts").toInt(), contacts);
    QCOMPARE(result.value("replaced").toBool(), true);
    QCOMPARE(rowsOf(catalogue::kContact, from), 0);
    QCOMPARE(rowsOf(catalogue::kHoliday, from), holidays);
    const QStringList entries = journalSince(journal);
    QCOMPARE(entries.size(), contacts);
    QCOMPARE(entries.first(), code(catalogue::kContact) + QStringLiteral("/0/who"));
}

void TestAdmin::permissionFlags()
{
    JournalledInstall install;
    QVERIFY(install.ok());
    const QString who = QStringLiteral("MKL"), db = QStringLiteral("MAIN");
    QVERIFY(!permRow(db, who).isEmpty());
    int journal = journalSize();

    // A database flag by its stored name in any case; journalled as the
    // dialog's save of an edited row.
    const bool was = permRow(db, who).value("actexport").toBool();
    const QString value = was ? QStringLiteral("off") : QStringLiteral("on");
    Run run = admin(install, {QStringLiteral("perms"), QStringLiteral("set"), who, db, QStringLiteral("actexport"), value});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, QStringLiteral("set\tMKL\tMAIN\tActExport\t%1\n").arg(value));
    QCOMPARE(permRow(db, who).value("actexport").toBool(), !was);
    QCOMPARE(journalSince(journal), QStringList{code(catalogue::kPerm) + QStringLiteral("/6/")});
    // The same value again writes nothing.
    journal = journalSize();
    run = admin(install, {QStringLiteral("perms"), QStringLiteral("set"), who, db, QStringLiteral("ACTEXPORT"),
                          value.toUpper()});
    QCOMPARE(run.code, 0);
    QVERIFY(run.out.startsWith(QStringLiteral("unchanged")));
    QCOMPARE(journalSize(), journal);

    auto perms = [&](const QStringList& more) {
        return admin(install, QStringList{QStringLiteral("perms"), QStringLiteral("set")} + more);
    };
    QVERIFY_REFUSED(perms({QStringLiteral("ZZ"), db, QStringLiteral("Access"), QStringLiteral("on")}),
                    QStringLiteral("could not locate user"), journal);
    QVERIFY_REFUSED(perms({who, QStringLiteral("NODB"), QStringLiteral("Access"), QStringLiteral("on")}),
                    QStringLiteral("no contact database \"NODB\""), journal);
    QVERIFY_REFUSED(perms({who, db, QStringLiteral("Nosuch"), QStringLiteral("on")}),
                    QStringLiteral("no permission flag \"Nosuch\""), journal);
    QVERIFY_REFUSED(perms({who, db, QStringLiteral("syncwellno"), QStringLiteral("on")}),
                    QStringLiteral("no permission flag"), journal);
    run = perms({who, db, QStringLiteral("Access"), QStringLiteral("yes")});
    QCOMPARE(run.code, 2);
    QCOMPARE(journalSize(), journal);

    // A system flag, then the supervisor flag with the dialog's warning,
    // since a system flag is now false.
    run = admin(install, {QStringLiteral("sysperm"), QStringLiteral("set"), who, QStringLiteral("sysbroadcast"),
                          QStringLiteral("off")});
    QCOMPARE(run.code, 0);
    QCOMPARE(user(who).value("sysbroadcast").toBool(), false);
    QCOMPARE(journalSince(journal), QStringList{code(catalogue::kUserPref) + QStringLiteral("/6/")});
    run = admin(install, {QStringLiteral("sysperm"), QStringLiteral("set"), who, QStringLiteral("SuperUser"),
                          QStringLiteral("on")});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.err.startsWith(QStringLiteral("Warning: Note that this user in now a Supervisor.")), qPrintable(run.err));
    QCOMPARE(user(who).value("superuser").toBool(), true);

    // A new user's first permission row is made with every flag on (added),
    // then the flag is set (changed), as the dialog does on opening and OK.
    QCOMPARE(admin(install, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("NU"),
                             QStringLiteral("New User")})
                 .code,
             0);
    journal = journalSize();
    run = admin(install, {QStringLiteral("perms"), QStringLiteral("set"), QStringLiteral("NU"), QStringLiteral("SALES"),
                          QStringLiteral("Access"), QStringLiteral("off")});
    QCOMPARE(run.code, 0);
    const QVariantMap row = permRow(QStringLiteral("SALES"), QStringLiteral("NU"));
    QCOMPARE(row.value("access").toBool(), false);
    QCOMPARE(row.value("cadd").toBool(), true);
    QVERIFY(!row.value("syncwellno").toString().isEmpty());
    QCOMPARE(journalSince(journal), (QStringList{code(catalogue::kPerm) + QStringLiteral("/2/"),
                                                 code(catalogue::kPerm) + QStringLiteral("/6/")}));
    QVERIFY(permRow(QStringLiteral("MAIN"), QStringLiteral("NU")).isEmpty());

    journal = journalSize();
    QVERIFY_REFUSED(admin(install, {QStringLiteral("sysperm"), QStringLiteral("set"), who, QStringLiteral("FullName"),
                                    QStringLiteral("on")}),
                    QStringLiteral("no system flag"), journal);
}

void TestAdmin::copySettings()
{
    JournalledInstall install;
    QVERIFY(install.ok());
    const QString from = QStringLiteral("JDS"), to = QStringLiteral("MKL");
    const QString field = accounts::preferenceGroups().first().fields.at(3).name; // a text of the phone group
    {
        store::Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        QVERIFY(users.findKey({from}));
        users.edit();
        users.fieldByName(field).setAsString(QStringLiteral("Carrier X"));
        users.post();
    }
    int journal = journalSize();
    Run run = admin(install, {QStringLiteral("copy-settings"), from, to, QStringLiteral("--groups"),
                              QStringLiteral("phone")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out.trimmed(), accounts::copiedMessage(from, to));
    QCOMPARE(user(to).value(field.toLower()).toString(), QStringLiteral("Carrier X"));
    QVERIFY(journalSince(journal).contains(code(catalogue::kUserPref) + QStringLiteral("/0/") + field.toLower()));

    journal = journalSize();
    auto copy = [&](const QString& a, const QString& b, const QString& groups) {
        return admin(install, {QStringLiteral("copy-settings"), a, b, QStringLiteral("--groups"), groups});
    };
    QVERIFY_REFUSED(copy(from, from, QStringLiteral("all")), accounts::sameUserMessage(), journal);
    QVERIFY_REFUSED(copy(from, QStringLiteral("ZZ"), QStringLiteral("all")), QStringLiteral("could not locate user \"ZZ\""),
                    journal);
    run = copy(from, to, QStringLiteral("phone,colours"));
    QCOMPARE(run.code, 2);
    run = admin(install, {QStringLiteral("copy-settings"), from, to});
    QCOMPARE(run.code, 2);
    QCOMPARE(journalSize(), journal);
}

void TestAdmin::whosOnAndForceOff()
{
    TestInstall install;
    QVERIFY(install.ok());
    Run run = admin(install, {QStringLiteral("whoson")});
    QCOMPARE(run.code, 0);
    QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.takeFirst().startsWith(QStringLiteral("Who\t")));
    QCOMPARE(lines.size(), testkit::rowCount(catalogue::kUsersOn));
    run = admin(install, {QStringLiteral("whoson"), QStringLiteral("--json")});
    QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).array().size(), lines.size());

    auto settings = [] { return testkit::tableRows(catalogue::kSettings).value(0); };
    auto force = [&](const QStringList& more) { return admin(install, QStringList{QStringLiteral("force-off")} + more); };
    run = force({QStringLiteral("--by"), QStringLiteral("ADM"), QStringLiteral("--reason"), QStringLiteral("Backup"),
                 QStringLiteral("--minutes"), QStringLiteral("5")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out.trimmed(), login::forcedOffMessage());
    QVariantMap row = settings();
    QCOMPARE(row.value("forceoff").toBool(), true);
    QCOMPARE(row.value("forcewho").toString(), QStringLiteral("ADM"));
    QCOMPARE(row.value("forcereason").toString(), QStringLiteral("Backup"));
    QCOMPARE(row.value("forcewarn").toInt(), 5);

    // Already off: the first request stays as the clients read it.
    run = force({QStringLiteral("--by"), QStringLiteral("JDS"), QStringLiteral("--reason"), QStringLiteral("Other"),
                 QStringLiteral("--minutes"), QStringLiteral("2")});
    QCOMPARE(run.code, 1);
    QCOMPARE(settings().value("forcewho").toString(), QStringLiteral("ADM"));

    run = admin(install, {QStringLiteral("allow-on")});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out.trimmed(), login::allowedOnMessage());
    QCOMPARE(settings().value("forceoff").toBool(), false);
    QCOMPARE(admin(install, {QStringLiteral("allow-on")}).code, 0); // already on: the same outcome

    // Bad input leaves the users on.
    const QList<QPair<QStringList, int>> bad{
        {{"--by", "ADM", "--reason", "  ", "--minutes", "3"}, 1},
        {{"--by", "", "--reason", "Why", "--minutes", "3"}, 1},
        {{"--by", "ZZ", "--reason", "Why", "--minutes", "3"}, 1},
        {{"--by", "ADM", "--reason", "Why", "--minutes", "0"}, 1},
        {{"--by", "ADM", "--reason", "Why", "--minutes", "16"}, 1},
        {{"--by", "ADM", "--reason", QString(300, QLatin1Char('r')), "--minutes", "3"}, 1},
        {{"--by", "ADM", "--reason", "Why", "--minutes", "soon"}, 2},
        {{"--by", "ADM", "--minutes", "3"}, 2},
    };
    for (const auto& [arguments, status] : bad) {
        run = force(arguments);
        QVERIFY2(run.code == status, qPrintable(arguments.join(' ') + ": " + run.err));
        QVERIFY(!run.err.isEmpty());
    }
    QCOMPARE(run.err.contains(QStringLiteral("--reason is required")), true);
    QCOMPARE(settings().value("forceoff").toBool(), false);
    run = force({QStringLiteral("--by"), QStringLiteral("ADM"), QStringLiteral("--reason"), QStringLiteral(" "),
                 QStringLiteral("--minutes"), QStringLiteral("3")});
    QVERIFY(run.err.contains(login::forceReasonBlankMessage()));
}

void TestAdmin::tableHeldByAnotherProgram()
{
    JournalledInstall install;
    QVERIFY(install.ok());
    const int journal = journalSize();
    testkit::OtherProgram other(install);
    QVERIFY(other.hold(catalogue::kPerm, QStringLiteral("exclusive")));
    // The store's words tell which table; nothing is written.
    QVERIFY_REFUSED(admin(install, {QStringLiteral("perms"), QStringLiteral("set"), QStringLiteral("MKL"),
                                    QStringLiteral("MAIN"), QStringLiteral("Access"), QStringLiteral("off")}),
                    QStringLiteral("another program is using it exclusively"), journal);
    // A delete is refused as a whole: the user keeps the user row too.
    const Run run = admin(install, {QStringLiteral("--json"), QStringLiteral("user"), QStringLiteral("delete"),
                                    QStringLiteral("MKL")});
    QCOMPARE(run.code, 1);
    QVERIFY(QJsonDocument::fromJson(run.err.toUtf8().split('\n').first()).object().contains("error"));
    QCOMPARE(run.out, QString());
    QVERIFY(!user(QStringLiteral("MKL")).isEmpty());
    QCOMPARE(journalSize(), journal);
    other.release();
    QCOMPARE(admin(install, {QStringLiteral("user"), QStringLiteral("delete"), QStringLiteral("MKL")}).code, 0);
    QCOMPARE(rowsOf(catalogue::kPerm, QStringLiteral("MKL")), 0);
}

void TestAdmin::permissionReports()
{
    TestInstall install;
    QVERIFY(install.ok());
    const QString who = QStringLiteral("MKL"), db = QStringLiteral("MAIN");
    const QVariantMap perm = permRow(db, who);
    QVERIFY(perm.value("access").toBool());

    // One database: its permissions as stored, then the system flags.
    Run run = admin(install, {QStringLiteral("perms"), QStringLiteral("show"), who, QStringLiteral("--db"), db});
    QCOMPARE(run.code, 0);
    QVERIFY(run.out.startsWith(QStringLiteral("Database\tSection\tField\tCaption\tAllowed\n")));
    run = admin(install, {QStringLiteral("--json"), QStringLiteral("perms"), QStringLiteral("show"), who,
                          QStringLiteral("--db"), db});
    QCOMPARE(run.code, 0);
    QMap<QString, QJsonObject> byField;
    for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array()) {
        const QJsonObject row = v.toObject();
        QVERIFY(row.value("database") == db || row.value("database").isNull());
        byField.insert(row.value("field").toString().toLower(), row);
    }
    QCOMPARE(byField.value("actexport").value("allowed").toBool(), perm.value("actexport").toBool());
    QCOMPARE(byField.value("cadd").value("allowed").toBool(), perm.value("cadd").toBool());
    QCOMPARE(byField.value("sysbroadcast").value("allowed").toBool(), user(who).value("sysbroadcast").toBool());
    QVERIFY(byField.value("sysbroadcast").value("database").isNull());

    // Who may export in MAIN: the supervisors and the rows granting Access
    // and the flag; the users without a row apart.
    QStringList allowed, noRow;
    for (const QVariantMap& u : testkit::tableRows(catalogue::kUserPref)) {
        const QVariantMap p = permRow(db, u.value("who").toString());
        if (u.value("superuser").toBool() || (p.value("access").toBool() && p.value("actexport").toBool()))
            allowed << u.value("who").toString();
        else if (p.isEmpty())
            noRow << u.value("who").toString();
    }
    run = admin(install, {QStringLiteral("--json"), QStringLiteral("perms"), QStringLiteral("who"), db,
                          QStringLiteral("ACTEXPORT")});
    QCOMPARE(run.code, 0);
    QStringList listed, listedNoRow;
    for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array())
        (v.toObject().value("allowedBy") == QStringLiteral("no permission row") ? listedNoRow : listed)
            << v.toObject().value("who").toString();
    QCOMPARE(listed, allowed);
    QCOMPARE(listedNoRow, noRow);
    run = admin(install, {QStringLiteral("perms"), QStringLiteral("who"), db, QStringLiteral("Access")});
    QCOMPARE(run.code, 0);
    QVERIFY(run.out.startsWith(QStringLiteral("Who\tFull Name\tSupervisor?\tAllowed by\n")));

    // Unknown names are refused with nothing on standard output.
    const QList<QPair<QStringList, QString>> bad{
        {{"perms", "show", "ZZ"}, "no user with the ID \"ZZ\""},
        {{"perms", "show", who, "--db", "NODB"}, "no database \"NODB\""},
        {{"perms", "who", "NODB", "Access"}, "no database \"NODB\""},
        {{"perms", "who", db, "Nosuch"}, "\"Nosuch\" is no permission"},
        {{"perms", "who", db, "FullName"}, "no permission"},
    };
    for (const auto& [arguments, message] : bad) {
        run = admin(install, arguments);
        QVERIFY2(run.code == 1 && run.err.contains(message), qPrintable(arguments.join(' ') + ": " + run.err));
        QCOMPARE(run.out, QString());
    }
    for (const QStringList& bad : QList<QStringList>{{"perms", "who", db}, {"perms", "show", who, "--db="}}) {
        run = admin(install, bad);
        QCOMPARE(run.code, 2);
        QCOMPARE(run.out, QString());
    }
}

void TestAdmin::fullReport()
{
    TestInstall install;
    QVERIFY(install.ok());
    // A name a spreadsheet would take for a formula, with a comma and quotes:
    // scripts get it unchanged. The new user has no permission rows.
    const QString name = QStringLiteral("=Sum, \"Q\"");
    QCOMPARE(admin(install, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("FQ"), name}).code, 0);
    const int users = testkit::rowCount(catalogue::kUserPref);
    const int databases = testkit::rowCount(catalogue::kDatabase);
    int systemFlags = 0;
    {
        store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
        userPref.open();
        systemFlags = permissions::systemRun(userPref).size() + 1; // and the supervisor flag
    }
    const int expected = users * databases * int(permissions::permissionFields().size()) + users * systemFlags;
    const QVariantMap perm = permRow(QStringLiteral("MAIN"), QStringLiteral("MKL"));

    Run run = admin(install, {QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("csv")});
    QCOMPARE(run.code, 0);
    const QString csv = run.out;
    QList<QStringList> rows = parseCsv(csv);
    QCOMPARE(rows.takeFirst(), (QStringList{"Who", "FullName", "Supervisor", "Database", "Section", "Field", "Caption",
                                            "Allowed"}));
    QCOMPARE(rows.size(), expected);
    int checked = 0;
    for (const QStringList& row : rows) {
        QCOMPARE(row.size(), 8);
        if (row[0] == QStringLiteral("MKL") && row[3] == QStringLiteral("MAIN")
            && row[5].compare(QStringLiteral("actexport"), Qt::CaseInsensitive) == 0) {
            QCOMPARE(row[7], perm.value("actexport").toBool() ? QStringLiteral("true") : QStringLiteral("false"));
            ++checked;
        }
        if (row[0] == QStringLiteral("FQ")) {
            QCOMPARE(row[1], name);
            if (!row[3].isEmpty())
                QCOMPARE(row[7], QString()); // no permission row: no value
            ++checked;
        }
    }
    QCOMPARE(checked, 1 + databases * int(permissions::permissionFields().size()) + systemFlags);

    run = admin(install, {QStringLiteral("report"), QStringLiteral("--format=json")});
    QCOMPARE(run.code, 0);
    const QJsonArray json = QJsonDocument::fromJson(run.out.toUtf8()).object().value("rows").toArray();
    QCOMPARE(json.size(), expected);
    for (const QJsonValue& v : json) {
        const QJsonObject row = v.toObject();
        if (row.value("who") == QStringLiteral("FQ") && row.value("field") == QStringLiteral("sysBroadcast")) {
            QCOMPARE(row.value("fullName").toString(), name);
            QVERIFY(row.value("database").isNull());
            QCOMPARE(row.value("allowed"), QJsonValue(user(QStringLiteral("FQ")).value("sysbroadcast").toBool()));
            ++checked;
        }
    }
    QCOMPARE(checked, 2 + databases * int(permissions::permissionFields().size()) + systemFlags);

    // To a file: the same bytes; a file that cannot be written is told and
    // leaves nothing behind.
    const QString file = install.root() + QStringLiteral("/report.csv");
    run = admin(install, {QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("csv"),
                          QStringLiteral("--output"), file});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, QStringLiteral("written\t%1\t%2\n").arg(file).arg(expected));
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), csv.toUtf8());
    const QStringList entries = QDir(install.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString& target : {install.root(), install.root() + QStringLiteral("/missing/report.csv")}) {
        run = admin(install, {QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("json"),
                              QStringLiteral("--output"), target});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(QStringLiteral("could not be saved")), qPrintable(run.err));
        QCOMPARE(run.out, QString());
    }
    QCOMPARE(QDir(install.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entries);
    for (const QStringList& bad : QList<QStringList>{{"report"}, {"report", "--format", "xml"}}) {
        run = admin(install, bad);
        QCOMPARE(run.code, 2);
        QCOMPARE(run.out, QString());
    }
}

void TestAdmin::backupsAndRestore()
{
    JournalledInstall install;
    QVERIFY(install.ok());
    auto backups = [&] {
        const Run run = admin(install, {QStringLiteral("backups"), QStringLiteral("--json")});
        return QJsonDocument::fromJson(run.out.toUtf8()).array();
    };
    auto restore = [&](const QStringList& more) {
        return admin(install, QStringList{QStringLiteral("restore")} + more);
    };
    // Nothing written yet: each folder says so, and there is nothing to
    // restore from.
    QJsonArray list = backups();
    QCOMPARE(list.size(), 2);
    for (const QJsonValue& v : list)
        QVERIFY(v.toObject().value("who").isNull() && !v.toObject().value("problem").toString().isEmpty());
    int journal = journalSize();
    QVERIFY_REFUSED(restore({QStringLiteral("MKL"), QStringLiteral("--from"), QStringLiteral("1")}),
                    QStringLiteral("backup1"), journal);

    backUpIntoFirst();
    const QString who = QStringLiteral("MKL");
    const int perms = rowsOf(catalogue::kPerm, who), userDbs = rowsOf(catalogue::kUserDb, who);
    QVERIFY(perms > 0);
    QCOMPARE(admin(install, {QStringLiteral("user"), QStringLiteral("delete"), who}).code, 0);

    const Run text = admin(install, {QStringLiteral("backups")});
    QCOMPARE(text.code, 0);
    QVERIFY(text.out.startsWith(QStringLiteral("Backup\tFolder\tWritten\tWho\tFull Name\tStatus\tProblem\n")));
    list = backups();
    int inFirst = 0;
    for (const QJsonValue& v : list) {
        const QJsonObject row = v.toObject();
        if (row.value("backup").toInt() != 1)
            continue;
        ++inFirst;
        QCOMPARE(row.value("folder").toString(), QStringLiteral("backup1"));
        QVERIFY(QDateTime::fromString(row.value("written").toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
        if (row.value("who") == who)
            QCOMPARE(row.value("status").toString(), QStringLiteral("deleted since"));
    }
    QCOMPARE(inFirst, testkit::rowCount(catalogue::kUserPref) + 1);

    // A dry run shows what would come back and writes nothing.
    journal = journalSize();
    Run run = restore({who, QStringLiteral("--from"), QStringLiteral("1"), QStringLiteral("--dry-run")});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains(QStringLiteral("USERPREF.DB: row would be added")), qPrintable(run.out));
    QVERIFY(user(who).isEmpty());
    QCOMPARE(journalSize(), journal);

    // Bad input changes nothing.
    for (const QStringList& bad : QList<QStringList>{{who}, {who, "--from", "3"}, {who, "--from", "backup1"}}) {
        run = restore(bad);
        QCOMPARE(run.code, 2);
        QVERIFY(run.err.contains(QStringLiteral("--from")));
    }
    QVERIFY_REFUSED(restore({QStringLiteral("ZZ"), QStringLiteral("--from"), QStringLiteral("1")}),
                    QStringLiteral("ZZ"), journal);
    QVERIFY_REFUSED(restore({who, QStringLiteral("--from"), QStringLiteral("2")}), QStringLiteral("backup2"), journal);

    // The deleted user comes back whole, every row journalled as added.
    run = restore({QStringLiteral("--json"), who, QStringLiteral("--from"), QStringLiteral("1")});
    QCOMPARE(run.code, 0);
    const QJsonArray restored = QJsonDocument::fromJson(run.out.toUtf8()).object().value("rows").toArray();
    QCOMPARE(restored.size(), 1 + perms + userDbs);
    for (const QJsonValue& v : restored)
        QCOMPARE(v.toObject().value("action").toString(), QStringLiteral("added"));
    QVERIFY(!user(who).isEmpty());
    QCOMPARE(rowsOf(catalogue::kPerm, who), perms);
    QCOMPARE(rowsOf(catalogue::kUserDb, who), userDbs);
    const QStringList entries = journalSince(journal);
    QCOMPARE(entries.size(), restored.size());
    for (const QString& entry : entries)
        QVERIFY2(entry.endsWith(QStringLiteral("/2/")), qPrintable(entry));

    // Another full name now: perhaps another person, refused without --yes.
    const QString other = QStringLiteral("JDS");
    const QString backupName = user(other).value("fullname").toString();
    setFullName(other, QStringLiteral("Somebody Else"));
    journal = journalSize();
    QVERIFY_REFUSED(restore({other, QStringLiteral("--from"), QStringLiteral("1")}), QStringLiteral("--yes"), journal);
    QCOMPARE(user(other).value("fullname").toString(), QStringLiteral("Somebody Else"));
    run = restore({other, QStringLiteral("--from"), QStringLiteral("1"), QStringLiteral("--yes")});
    QCOMPARE(run.code, 0);
    QVERIFY(run.err.startsWith(QStringLiteral("Warning: ")));
    QCOMPARE(user(other).value("fullname").toString(), backupName);

    // A damaged backup copy is named, and nothing is restored from it.
    {
        QFile copy(QDir(install.dataDir()).filePath(QStringLiteral("backup1/userpref.db")));
        QVERIFY(copy.open(QIODevice::ReadWrite));
        copy.write(QByteArray(100, 'x'));
    }
    setFullName(other, QStringLiteral("Somebody Else"));
    journal = journalSize();
    QVERIFY_REFUSED(restore({other, QStringLiteral("--from"), QStringLiteral("1"), QStringLiteral("--yes")}),
                    QStringLiteral("may be damaged"), journal);
    QVERIFY(backups().first().toObject().value("problem").toString().contains(QStringLiteral("may be damaged")));
}

QTEST_GUILESS_MAIN(TestAdmin)
#include "tst_admin.moc"
