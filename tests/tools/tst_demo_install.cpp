#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "testkit/TestInstall.h"
#include "tools/demo/Installer.h"
#include "tools/demo/Layout.h"
#include "tools/demo/RecordIds.h"

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

FieldType expectedType(const QString& declared)
{
    if (declared.startsWith(QLatin1String("VARCHAR")))
        return FieldType::String;
    static const QHash<QString, FieldType> types = {
        {QStringLiteral("TEXT"), FieldType::Memo},        {QStringLiteral("BOOLEAN"), FieldType::Boolean},
        {QStringLiteral("SMALLINT"), FieldType::SmallInt}, {QStringLiteral("INTEGER"), FieldType::Integer},
        {QStringLiteral("DATE"), FieldType::Date},        {QStringLiteral("TIME"), FieldType::Time},
        {QStringLiteral("DATETIME"), FieldType::DateTime}};
    return types.value(declared, FieldType::Unknown);
}

int rowCount(const QString& table)
{
    Table t(kAlias, table);
    t.open();
    return t.recordCount();
}

QStringList column(const QString& table, const QString& field)
{
    Table t(kAlias, table);
    t.open();
    QStringList values;
    for (t.first(); !t.eof(); t.next())
        values << t.fieldByName(field).asString();
    return values;
}

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

// The fields the other windows name, with their kinds (t text, m memo,
// b boolean, i integer, s small integer, D date, T time, d date-time).
const QHash<QString, QString>& namedFields()
{
    static const QHash<QString, QString> fields = {
        {kUserPref,
         "Who:t FullName:t password:t SuperUser:b showhint:b Qanimation:b ViewStatus:b ViewButtons:b "
         "AutoFollowCall:b AutoFollowLtr:b AutoFollowEmail:b AutoFollowEnv:b AutoFollowLabel:b "
         "LogInMachineName:t ReturnAddress:m comport:i dialmethod:i dialspeed:i Carrier1Name:t Carrier3Prefix:t "
         "Carrier5Suffix:t Intndefault:i LDdefault:i LocalDefault:i AutoNameCap:b AutoCompanyCap:b AutoAddressCap:b "
         "AutoCityCap:b AutoStateCap:b AutoCountryCap:b AutoTitleCap:b AutoZipCap:b PromptForCopy:b UseAddDefaults:b "
         "DefCompany:t DefAddress1:t DefAddress2:t DefCity:t DefState:t DefZip:t DefCountry:t DefTitle:t UseEnter:b "
         "WordProc:i WPPath:t EnvelopeSize:i EnvelopeOrient:i EnvFontName:t EnvFontSize:i EnvFontColor:i "
         "EnvFontStyle:i RepFontName:t RepFontSize:i RepFontStyle:i RepFontColor:i AlarmCall:i AlarmMeeting:i "
         "AlarmTodo:i DurationCall:i DurationMeeting:i DurationTodo:i AlarmEnabled:b AlarmRepeat:b AlarmWav:t "
         "WinFaxDateDefault:d WinFaxTimeDefault:d WinFaxPath:t WinFaxPrinter:t WinFaxUseAttach:b WinFaxAttach:t "
         "WinFaxUseCover:b WinFaxCover:t WinFaxKey:t WinFaxBilling:t WinFaxCoverMemo:t WinFaxResolution:t "
         "WinFaxShowPreview:b CoStarProgram:t CoStarPathname:t CoStarLabelFile:t CoStarTemplateName:t CoStarHide:b "
         "CoStarHistory:b EmailPopServer:t EmailPopMailbox:t EmailPopDialup:t EmailPopLogfile:t "
         "EmailPopAttachments:t EmailPopDelete:b EmailPopDetails:b EmailMAPI:b EmailSMTP:t EmailName:t "
         "EmailEncoding:t EmailCharSet:t DupCheck:b DupCompany:b DupAddress:b DupIgnoreNum:b DupIgnorePunct:b "
         "DupWhileEditing:b"},
        {kPerm, "DB:t Who:t syncwellno:t Access:b CVisible:b Cadd:b PChange:b SDelete:b CatTab:b PhoneTab:b "
                "EmailTab:b DescTab:b AddrTab:b Tab1:b Tab2:b Tab3:b SummTab:b EventTab:b PlanTab:b DatesTab:b "
                "CountTab:b"},
        {kDatabase, "DB:t Description:t"},
        {kUserDb, "DB:t Who:t syncwellno:t ntimes:i datelastlogin:D timelastlogin:T FontDataSize:i FontDataColor:i "
                  "FontDataStyle:i FontDataName:t FontLabelSize:i FontLabelColor:i FontLabelStyle:i FontLabelName:t "
                  "FontGridSize:i FontGridColor:i FontGridStyle:i FontGridName:t"},
        {kUsersOn, "Who:t"},
        {kSettings, "ForceOff:b forceWho:t forceDate:D forceTime:T forceReason:t forceWarn:i ForceWav:t "
                    "ForcePlay:b ForceRepeat:b"},
        {kContact, "Who:t DB:t recno:t"},
        {kEvent, "Who:t DB:t erecno:t completed:b"},
        {kHoliday, "Who:t syncwellno:t"},
        {kSteps, "Who:t syncwellno:t"},
        {kActions, "Who:t syncwellno:t"},
        {kInOut, "Who:t"},
        {kMarks, "Who:t"},
        {kMerge, "recno:t dateGMT:d time:d who:t database:s action:s fieldname:t to:t memo:m DB:t"},
    };
    return fields;
}

FieldType kindType(QChar kind)
{
    switch (kind.unicode()) {
    case 't': return FieldType::String;
    case 'm': return FieldType::Memo;
    case 'b': return FieldType::Boolean;
    case 'i': return FieldType::Integer;
    case 's': return FieldType::SmallInt;
    case 'D': return FieldType::Date;
    case 'T': return FieldType::Time;
    default: return FieldType::DateTime;
    }
}

} // namespace

class TestDemoInstall : public QObject {
    Q_OBJECT

    QDate m_started = QDate::currentDate();

    // Points the store at the installation in root, with every password.
    static void useInstallation(const QString& root)
    {
        const QString config = QDir(root).filePath(QStringLiteral("check.ini"));
        demo::writeStoreConfig(config, demo::dataDirOf(root));
        auto& session = store::Session::instance();
        session.reset();
        session.setConfigPath(config);
        session.setNetFileDir(demo::netDirOf(root));
        for (const QString& password : {startupPasswordA(), startupPasswordB(), forceOffPassword()})
            session.addPassword(password);
    }

private slots:
    void everyTableOpensWithItsFields()
    {
        TestInstall install;
        QVERIFY(install.ok());
        for (const store::TableDef& def : tableDefs()) {
            Table t(kAlias, def.name);
            t.open();
            QCOMPARE(t.fieldCount(), int(def.columns.size()));
            for (int i = 0; i < t.fieldCount(); ++i) {
                QCOMPARE(t.field(i).fieldName(), def.columns[i].name);
                QCOMPARE(t.field(i).dataType(), expectedType(def.columns[i].declaredType));
            }
            // Every sample value fits its field.
            for (t.first(); !t.eof(); t.next())
                for (int i = 0; i < t.fieldCount(); ++i)
                    if (t.field(i).dataType() == FieldType::String)
                        QVERIFY2(t.field(i).asString().size() <= t.field(i).size(),
                                 qPrintable(def.name + QLatin1Char('.') + t.field(i).fieldName()));
        }
    }

    void namedFieldsHaveTheirTypes()
    {
        TestInstall install;
        QVERIFY(install.ok());
        for (auto it = namedFields().begin(); it != namedFields().end(); ++it) {
            Table t(kAlias, it.key());
            t.open();
            for (const QString& entry : it.value().split(QLatin1Char(' '))) {
                const QString name = entry.section(QLatin1Char(':'), 0, 0);
                store::Field* f = t.findField(name);
                QVERIFY2(f, qPrintable(it.key() + QLatin1Char('.') + name));
                QVERIFY2(f->dataType() == kindType(entry.back()), qPrintable(it.key() + QLatin1Char('.') + name));
            }
        }
        Table user(kAlias, kUserPref);
        user.open();
        QCOMPARE(user.fieldByName(fWho).size(), 3);
        QCOMPARE(user.fieldByName(fFullName).size(), 20);
        QCOMPARE(user.fieldByName(fPassword).size(), 15);
        Table perm(kAlias, kPerm);
        perm.open();
        QCOMPARE(perm.keyFields().join(','), QStringLiteral("DB,Who"));
        QCOMPARE(perm.fieldByName(fSyncwellNo).size(), 24);
        QCOMPARE(user.keyFields(), QStringList{fWho});
        Table contact(kAlias, kContact);
        contact.open();
        QVERIFY(contact.keyFields().isEmpty());
    }

    // The check lists map positions onto adjacent runs; "Set all" picks the
    // fields by prefix, so nothing else may carry it.
    void flagRunsAreAdjacentAndAlone()
    {
        TestInstall install;
        QVERIFY(install.ok());
        struct Run {
            QString table, first, last;
            int count;
            QStringList names;
            bool upperCase;
            QString prefix;
        };
        const Run runs[] = {
            {kPerm, fFirstAction, fLastAction, kActionFlagCount, actionFlagNames(), false, QStringLiteral("Act")},
            {kUserPref, fFirstSystem, fLastSystem, kSystemFlagCount, systemFlagNames(), true, QStringLiteral("SYS")},
        };
        for (const Run& run : runs) {
            Table t(kAlias, run.table);
            t.open();
            const int first = t.fieldByName(run.first).index();
            const int last = t.fieldByName(run.last).index();
            QCOMPARE(last - first + 1, run.count);
            QCOMPARE(int(QSet<QString>(run.names.begin(), run.names.end()).size()), run.count);
            for (int i = 0; i < t.fieldCount(); ++i) {
                const QString head = t.field(i).fieldName().left(3);
                const bool prefixed = (run.upperCase ? head.toUpper() : head) == run.prefix;
                const bool inRun = i >= first && i <= last;
                QVERIFY2(prefixed == inRun, qPrintable(t.field(i).fieldName()));
                if (inRun) {
                    QCOMPARE(t.field(i).fieldName(), run.names[i - first]);
                    QCOMPARE(t.field(i).dataType(), FieldType::Boolean);
                }
            }
        }
    }

    void sampleRowsMakeEveryWindowWorthOpening()
    {
        demo::Options options = TestInstall::smallOptions();
        options.users = 5;
        options.databases = 3;
        options.contacts = 60;
        options.events = 40;
        TestInstall install(options);
        QVERIFY(install.ok());

        QCOMPARE(rowCount(kUserPref), 5);
        QCOMPARE(rowCount(kDatabase), 3);
        QCOMPARE(rowCount(kContact), 60);
        QCOMPARE(rowCount(kEvent), 40);
        QCOMPARE(rowCount(kSettings), 1);
        QCOMPARE(rowCount(kMerge), 0);
        for (const QString& table : {kUsersOn, kHoliday, kSteps, kActions, kInOut, kMarks})
            QVERIFY2(rowCount(table) > 0, qPrintable(table));

        // A supervisor, and users who are not.
        const QStringList users = column(kUserPref, fWho);
        const QStringList supers = column(kUserPref, fSuperUser);
        QVERIFY(supers.contains(QStringLiteral("True")));
        QVERIFY(supers.contains(QStringLiteral("False")));
        for (const QString& who : users)
            QVERIFY(QRegularExpression(QStringLiteral("^[A-Z]{2,3}$")).match(who).hasMatch());

        // Every pair has its rows but one user's, which the exit clean-up completes.
        QSet<QString> permUsers;
        QSet<QString> pairs;
        {
            Table perm(kAlias, kPerm);
            perm.open();
            for (perm.first(); !perm.eof(); perm.next()) {
                permUsers.insert(perm.fieldByName(fWho).asString());
                pairs.insert(perm.fieldByName(fDb).asString() + '/' + perm.fieldByName(fWho).asString());
            }
        }
        QCOMPARE(permUsers.size(), users.size() - 1);
        QCOMPARE(pairs.size(), 3 * (users.size() - 1));
        QCOMPARE(rowCount(kUserDb), 3 * int(users.size() - 1));
        const QSet<QString> noRows = QSet<QString>(users.begin(), users.end()) - permUsers;
        const QStringList userDbOwners = column(kUserDb, fWho);
        QVERIFY(!QSet<QString>(userDbOwners.begin(), userDbOwners.end()).intersects(noRows));

        // Contacts and events belong to several users and to every database.
        for (const QString& table : {kContact, kEvent}) {
            const QStringList owners = column(table, fWho);
            QVERIFY(QSet<QString>(owners.begin(), owners.end()).size() >= 3);
            QVERIFY(owners.contains(QString())); // an owner to hand over by the blank ID
            const QStringList dbs = column(table, fDb);
            QCOMPARE(QSet<QString>(dbs.begin(), dbs.end()).size(), 3);
        }
        const QStringList completed = column(kEvent, QStringLiteral("completed"));
        QVERIFY(completed.contains(QStringLiteral("True")) && completed.contains(QStringLiteral("False")));

        // Record identifiers: 24 letters A..Y, today's day group, all distinct.
        const QString today = demo::RecordIds::encodeBase25(QDate(2000, 1, 1).daysTo(m_started), 4);
        const QString now = demo::RecordIds::encodeBase25(QDate(2000, 1, 1).daysTo(QDate::currentDate()), 4);
        QStringList ids;
        for (const QString& table : {kPerm, kUserDb, kHoliday, kSteps, kActions})
            ids += column(table, fSyncwellNo);
        ids += column(kContact, QStringLiteral("recno"));
        ids += column(kEvent, QStringLiteral("erecno"));
        for (const QString& id : ids) {
            QVERIFY2(QRegularExpression(QStringLiteral("^[A-Y]{24}$")).match(id).hasMatch(), qPrintable(id));
            QVERIFY(id.startsWith(today) || id.startsWith(now));
        }
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());

        // The logged-in users exist and entered a database in the past.
        Table userDb(kAlias, kUserDb);
        userDb.open();
        for (const QString& who : column(kUsersOn, fWho)) {
            QVERIFY(users.contains(who));
            bool found = false;
            for (userDb.first(); !userDb.eof(); userDb.next()) {
                if (userDb.fieldByName(fWho).asString() != who)
                    continue;
                found = true;
                const double day = userDb.fieldByName(QStringLiteral("datelastlogin")).asDateTime();
                const double time = userDb.fieldByName(QStringLiteral("timelastlogin")).asDateTime();
                QVERIFY(day > store::daysFromDate(QDate(2000, 1, 1)));
                QVERIFY(store::dateTimeFromDays(day + time) <= QDateTime::currentDateTime());
            }
            QVERIFY(found);
        }
    }

    void sizesFollowTheOptions()
    {
        demo::Options options = TestInstall::smallOptions();
        options.users = 14; // beyond the named sample users
        options.databases = 5;
        options.contacts = 7;
        options.events = 0;
        TestInstall install(options);
        QVERIFY(install.ok());
        const QStringList users = column(kUserPref, fWho);
        QCOMPARE(users.size(), 14);
        QCOMPARE(QSet<QString>(users.begin(), users.end()).size(), 14);
        QCOMPARE(rowCount(kDatabase), 5);
        QCOMPARE(rowCount(kContact), 7);
        QCOMPARE(rowCount(kEvent), 0);
        QCOMPARE(rowCount(kPerm), 5 * 13);

        // A single user is the supervisor and keeps its rows.
        options.users = 1;
        options.databases = 0;
        TestInstall single(options);
        QVERIFY(single.ok());
        QCOMPARE(column(kUserPref, fSuperUser), QStringList{QStringLiteral("True")});
        QCOMPARE(rowCount(kPerm), 0);
        QCOMPARE(column(kContact, fDb), QStringList(7, QString()));
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
        QCOMPARE(rowCount(kContact), 20);
        QCOMPARE(rowCount(kUserPref), 4);
        store::Session::instance().reset();

        options.replace = true;
        options.users = 6;
        demo::install(options);
        useInstallation(dir.path());
        QCOMPARE(rowCount(kContact), 3);
        QCOMPARE(rowCount(kUserPref), 6);
        QCOMPARE(rowCount(kMerge), 0);
        store::Session::instance().reset();
    }

    void protectedTablesNeedTheirPassword()
    {
        demo::Options options = TestInstall::smallOptions();
        TestInstall install(options);
        QVERIFY(install.ok());
        auto& session = store::Session::instance();
        session.reset();
        session.setConfigPath(install.configPath());
        session.setNetFileDir(install.netDir());
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

        // The three passwords differ, and names match in any spelling.
        QCOMPARE(QSet<QString>({startupPasswordA(), startupPasswordB(), forceOffPassword()}).size(), 3);
        QCOMPARE(protectingPassword(QStringLiteral("userpref")), startupPasswordA());
        QCOMPARE(protectingPassword(QStringLiteral("Perm.DB")), startupPasswordB());
        QVERIFY(protectingPassword(kContact).isEmpty());
        QVERIFY_THROWS_EXCEPTION(store::StoreError, tableDef(QStringLiteral("plan.db")));

        // Unprotected on request.
        options.protectTables = false;
        options.journal = false;
        TestInstall open(options);
        QVERIFY(open.ok());
        session.reset();
        session.setConfigPath(open.configPath());
        session.setNetFileDir(open.netDir());
        QVERIFY(opens(kUserPref));
        QVERIFY(!QFile::exists(QDir(open.dataDir()).filePath(QStringLiteral("merge.db"))));
    }

    void writesTheProgramFiles()
    {
        QTemporaryDir dir;
        demo::Options options = TestInstall::smallOptions();
        options.root = dir.filePath(QStringLiteral("inst"));
        options.programDir = dir.filePath(QStringLiteral("bin"));
        options.writeProgramFiles = true;
        const demo::Result result = demo::install(options);
        const QString netIni = QDir(options.programDir).filePath(QStringLiteral("NETDIR.INI"));
        QCOMPARE(store::readIniValue(netIni, "Options", "NetDir", "xx"), result.netDir);
        QCOMPARE(result.configPath, QDir(options.programDir).filePath(QStringLiteral("brisel-store.ini")));
        QCOMPARE(store::readIniValue(result.configPath, kAlias, "PATH", QString()), result.dataDir);
        QVERIFY(QFileInfo(result.netDir).isDir());
        QCOMPARE(result.dataDir, QDir(dir.path()).filePath(QStringLiteral("inst/data")));
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

    void recordIdentifiers()
    {
        QCOMPARE(demo::RecordIds::encodeBase25(0, 4), QStringLiteral("AAAA"));
        QCOMPARE(demo::RecordIds::encodeBase25(99998, 4), QStringLiteral("GJYX"));
        QCOMPARE(demo::RecordIds::encodeBase25(12345, 4), QStringLiteral("ATSU"));
        QVERIFY(demo::RecordIds(1, QDate(2000, 1, 1)).next().startsWith(QStringLiteral("AAAA")));
        QVERIFY(demo::RecordIds(1, QDate(1999, 12, 31)).next().startsWith(QStringLiteral("AAAB")));
        QVERIFY(demo::RecordIds(1, QDate(2026, 12, 5)).next().startsWith(QStringLiteral("APSK")));
        demo::RecordIds a(7, QDate(2020, 5, 1)), b(7, QDate(2020, 5, 1));
        QCOMPARE(a.next(), b.next());
        for (int i = 0; i < 1000; ++i) {
            const QString id = a.next();
            for (int g = 1; g < 6; ++g)
                QVERIFY(id.mid(4 * g, 4) <= QStringLiteral("GJYX"));
        }
    }
};

QTEST_GUILESS_MAIN(TestDemoInstall)
#include "tst_demo_install.moc"
