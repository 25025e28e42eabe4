#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "tools/demo/Installer.h"
#include "tools/demo/Layout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using namespace catalogue;
using store::FieldType;
using store::Table;

namespace {

bool opens(const QString& table)
{
    try {
        Table t(kAlias, table);
        t.open();
        return true;
    } catch (const store::StoreError&) {
        return false;
    }
}

// Points the store at the installation in root, with every password.
void useInstallation(const QString& root)
{
    const QString config = QDir(root).filePath(QStringLiteral("check.ini"));
    demo::writeStoreConfig(config, demo::dataDirOf(root));
    testkit::useStore(config, demo::netDirOf(root));
}

} // namespace

class TestDemoInstall : public QObject {
    Q_OBJECT

private slots:
    // The check lists map positions onto adjacent runs; "Set all" picks the
    // fields by prefix, so nothing else may carry it.
    void flagRunsAreAdjacentAndAlone()
    {
        TestInstall install;
        QVERIFY(install.ok());
        const std::tuple<QString, QStringList, QString, QString, int, Qt::CaseSensitivity> runs[] = {
            {kPerm, actionFlagNames(), fFirstAction, fLastAction, kActionFlagCount, Qt::CaseSensitive},
            {kUserPref, systemFlagNames(), fFirstSystem, fLastSystem, kSystemFlagCount, Qt::CaseInsensitive}};
        for (const auto& [table, names, first, last, count, prefixCase] : runs) {
            QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), count);
            Table t(kAlias, table);
            t.open();
            const int start = t.fieldByName(first).index();
            QCOMPARE(t.fieldByName(last).index(), start + count - 1);
            for (int i = 0; i < t.fieldCount(); ++i) {
                const QString name = t.field(i).fieldName();
                const bool inRun = i >= start && i < start + count;
                QVERIFY2(name.startsWith(names.first().left(3), prefixCase) == inRun, qPrintable(name));
                if (inRun) {
                    QCOMPARE(name, names[i - start]);
                    QCOMPARE(t.field(i).dataType(), FieldType::Boolean);
                }
            }
        }
    }

    void sampleRowsMakeEveryWindowWorthOpening_data()
    {
        QTest::addColumn<int>("users");
        QTest::addColumn<int>("databases");
        QTest::addColumn<int>("contacts");
        QTest::addColumn<int>("events");
        QTest::newRow("named users") << 5 << 3 << 60 << 40;
        QTest::newRow("beyond the named users") << 14 << 5 << 30 << 20;
    }

    void sampleRowsMakeEveryWindowWorthOpening()
    {
        QFETCH(int, users);
        QFETCH(int, databases);
        QFETCH(int, contacts);
        QFETCH(int, events);
        demo::Options options = TestInstall::smallOptions();
        options.users = users;
        options.databases = databases;
        options.contacts = contacts;
        options.events = events;
        TestInstall install(options);
        QVERIFY(install.ok());

        QCOMPARE(testkit::rowCount(kDatabase), databases);
        QCOMPARE(testkit::rowCount(kContact), contacts);
        QCOMPARE(testkit::rowCount(kEvent), events);
        QCOMPARE(testkit::rowCount(kSettings), 1);
        QCOMPARE(testkit::rowCount(kMerge), 0);
        for (const QString& table : {kUsersOn, kHoliday, kSteps, kActions, kInOut, kMarks})
            QVERIFY2(testkit::rowCount(table) > 0, qPrintable(table));

        // Distinct users, a supervisor and users who are not.
        const QStringList who = testkit::column(kUserPref, fWho);
        QCOMPARE(who.size(), users);
        QCOMPARE(QSet<QString>(who.begin(), who.end()).size(), users);
        for (const QString& id : who)
            QVERIFY(QRegularExpression(QStringLiteral("^[A-Z]{2,3}$")).match(id).hasMatch());
        const QStringList supers = testkit::column(kUserPref, fSuperUser);
        QVERIFY(supers.contains(QStringLiteral("True")) && supers.contains(QStringLiteral("False")));

        // Every pair has its rows but one user's, which the exit clean-up completes.
        const QStringList permUsers = testkit::column(kPerm, fWho);
        const QSet<QString> withRows(permUsers.begin(), permUsers.end());
        QCOMPARE(withRows.size(), users - 1);
        QCOMPARE(permUsers.size(), databases * (users - 1));
        const QStringList userDbOwners = testkit::column(kUserDb, fWho);
        QCOMPARE(QSet<QString>(userDbOwners.begin(), userDbOwners.end()), withRows);
        QCOMPARE(userDbOwners.size(), permUsers.size());

        // Contacts and events belong to several users and to every database.
        for (const QString& table : {kContact, kEvent}) {
            const QStringList owners = testkit::column(table, fWho);
            QVERIFY(QSet<QString>(owners.begin(), owners.end()).size() >= 3);
            QVERIFY(owners.contains(QString())); // an owner to hand over by the blank ID
            const QStringList dbs = testkit::column(table, fDb);
            QCOMPARE(QSet<QString>(dbs.begin(), dbs.end()).size(), databases);
        }
        const QStringList completed = testkit::column(kEvent, QStringLiteral("completed"));
        QVERIFY(completed.contains(QStringLiteral("True")) && completed.contains(QStringLiteral("False")));

        // Every sample value fits its field.
        for (const store::TableDef& def : tableDefs()) {
            Table t(kAlias, def.name);
            t.open();
            for (t.first(); !t.eof(); t.next())
                for (int i = 0; i < t.fieldCount(); ++i)
                    if (t.field(i).dataType() == FieldType::String)
                        QVERIFY2(t.field(i).asString().size() <= t.field(i).size(),
                                 qPrintable(def.name + QLatin1Char('.') + t.field(i).fieldName()));
        }

        // Record identifiers: 24 letters A..Y, all distinct.
        QStringList ids;
        for (const QString& table : {kPerm, kUserDb, kHoliday, kSteps, kActions})
            ids += testkit::column(table, fSyncwellNo);
        ids += testkit::column(kContact, QStringLiteral("recno"));
        ids += testkit::column(kEvent, QStringLiteral("erecno"));
        for (const QString& id : ids)
            QVERIFY2(QRegularExpression(QStringLiteral("^[A-Y]{24}$")).match(id).hasMatch(), qPrintable(id));
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());

        // The logged-in users entered a database in the past.
        const QStringList loggedIn = testkit::column(kUsersOn, fWho);
        for (const QString& id : loggedIn)
            QVERIFY(userDbOwners.contains(id));
        Table userDb(kAlias, kUserDb);
        userDb.open();
        for (userDb.first(); !userDb.eof(); userDb.next()) {
            if (!loggedIn.contains(userDb.fieldByName(fWho).asString()))
                continue;
            const double day = userDb.fieldByName(QStringLiteral("datelastlogin")).asDateTime();
            const double time = userDb.fieldByName(QStringLiteral("timelastlogin")).asDateTime();
            QVERIFY(day > store::daysFromDate(QDate(2000, 1, 1)));
            QVERIFY(store::dateTimeFromDays(day + time) <= QDateTime::currentDateTime());
        }
    }

    // A single user is the supervisor and keeps its rows.
    void singleUserWithoutDatabases()
    {
        demo::Options options = TestInstall::smallOptions();
        options.users = 1;
        options.databases = 0;
        options.contacts = 7;
        TestInstall single(options);
        QVERIFY(single.ok());
        QCOMPARE(testkit::column(kUserPref, fSuperUser), QStringList{QStringLiteral("True")});
        QCOMPARE(testkit::rowCount(kPerm), 0);
        QCOMPARE(testkit::column(kContact, fDb), QStringList(7, QString()));
    }

    void refusesAnExistingInstallationUnlessReplacing()
    {
        QTemporaryDir dir;
        demo::Options options = TestInstall::smallOptions();
        options.root = dir.path();
        options.programDir = dir.path();
        demo::install(options);
        QVERIFY(demo::installationExists(dir.path()));

        options.contacts = 3;
        QVERIFY_THROWS_EXCEPTION(store::StoreError, demo::install(options));
        // The refused run changed nothing.
        useInstallation(dir.path());
        QCOMPARE(testkit::rowCount(kContact), 20);
        QCOMPARE(testkit::rowCount(kUserPref), 4);
        store::Session::instance().reset();

        options.replace = true;
        options.users = 6;
        demo::install(options);
        useInstallation(dir.path());
        QCOMPARE(testkit::rowCount(kContact), 3);
        QCOMPARE(testkit::rowCount(kUserPref), 6);
        QCOMPARE(testkit::rowCount(kMerge), 0);
        store::Session::instance().reset();
    }

    void protectedTablesNeedTheirPassword()
    {
        demo::Options options = TestInstall::smallOptions();
        TestInstall install(options);
        QVERIFY(install.ok());
        testkit::useStore(install.configPath(), install.netDir(), false);
        auto& session = store::Session::instance();
        QVERIFY(!opens(kUserPref));
        QVERIFY(!opens(kPerm));
        QVERIFY(!opens(QStringLiteral("settings")));
        for (const QString& table : {kContact, kEvent, kDatabase, kUserDb, kUsersOn, kHoliday, kSteps, kActions,
                                     kInOut, kMarks, kMerge})
            QVERIFY2(opens(table), qPrintable(table));

        session.addPassword(startupPasswordA());
        QVERIFY(opens(kUserPref));
        QVERIFY(!opens(kPerm));
        session.addPassword(startupPasswordB());
        session.addPassword(forceOffPassword());
        QVERIFY(opens(kPerm));
        QVERIFY(opens(kSettings));

        // Names match in any spelling.
        QCOMPARE(protectingPassword(QStringLiteral("userpref")), startupPasswordA());
        QCOMPARE(protectingPassword(QStringLiteral("Perm.DB")), startupPasswordB());
        QVERIFY(protectingPassword(kContact).isEmpty());
        QVERIFY_THROWS_EXCEPTION(store::StoreError, tableDef(QStringLiteral("plan.db")));

        // Unprotected on request.
        options.protectTables = false;
        options.journal = false;
        TestInstall open(options);
        QVERIFY(open.ok());
        testkit::useStore(open.configPath(), open.netDir(), false);
        QVERIFY(opens(kUserPref));
        QVERIFY(!QFile::exists(QDir(open.dataDir()).filePath(QStringLiteral("merge.db"))));
    }

    // The program, copied into a folder of its own so that its NETDIR.INI and
    // store configuration land there.
    void commandLine()
    {
        const QString built = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("brisel-demo"));
        if (!QFile::exists(built))
            QSKIP("brisel-demo is not built");
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("brisel-demo"));
        QVERIFY(QFile::copy(built, program));
        auto run = [&](const QStringList& args, QString* output = nullptr) {
            QProcess p;
            p.start(program, args);
            p.waitForFinished(60000);
            if (output)
                *output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const QStringList sizes = {"--users", "3", "--databases", "2", "--contacts", "5", "--events", "4"};
        QString output;
        QCOMPARE(run(sizes, &output), 0);
        QVERIFY(demo::installationExists(dir.filePath(QStringLiteral("demo"))));
        QVERIFY(output.contains(QStringLiteral("3 users")));
        QCOMPARE(store::readIniValue(dir.filePath("brisel-store.ini"), kAlias, "PATH", QString()),
                 demo::dataDirOf(dir.filePath(QStringLiteral("demo"))));
        QCOMPARE(store::readIniValue(dir.filePath("NETDIR.INI"), "Options", "NetDir", "xx"),
                 demo::netDirOf(dir.filePath(QStringLiteral("demo"))));

        QCOMPARE(run(sizes, &output), 1);
        QVERIFY(output.contains(QStringLiteral("--replace")));
        QCOMPARE(run({"--if-missing"}), 0);
        QCOMPARE(run({"--replace", "--contacts", "2"}), 0);
        QCOMPARE(run({"--users", "0"}), 2);
        QCOMPARE(run({"--contacts", "many"}), 2);

        const QString other = dir.filePath(QStringLiteral("elsewhere"));
        QCOMPARE(run({"--root", other, "--if-missing", "--users", "2"}), 0);
        QVERIFY(demo::installationExists(other));
    }
};

QTEST_GUILESS_MAIN(TestDemoInstall)
#include "tst_demo_install.moc"
