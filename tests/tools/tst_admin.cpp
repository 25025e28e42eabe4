// brisel-admin run as a real process on a test installation: each command's
// exit status and output, the tables and journal rows read back, and the
// refusals (bad input, another program holding a table) changing nothing.

#include "accounts/CopySettings.h"
#include "login/ForceRow.h"
#include "shell/DeleteUser.h"
#include "store/Catalogue.h"
#include "support/Changes.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"

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

QTEST_GUILESS_MAIN(TestAdmin)
#include "tst_admin.moc"
