// Start-up: NETDIR.INI and its question, the store-wide settings, the
// set-up program, and a whole run on a demo installation.

#include "shell/Main.h"
#include "shell/NetDirIni.h"
#include "shell/Startup.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "support/Messages.h"
#include "tools/demo/Installer.h"
#include "ui/DbGrid.h"
#include "ui/DialogTestKit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const QString kQuestion = QStringLiteral(
    "The shared network control directory has not been initialized.  Do you wish to run the NETDIR command now?");

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init() { store::Session::instance().reset(); }
    void cleanup() { store::Session::instance().reset(); }

    void directoryNotSetAsksAndEnds_data()
    {
        QTest::addColumn<QByteArray>("ini"); // "-" for no file
        QTest::addColumn<bool>("yes");
        QTest::newRow("no file") << QByteArray("-") << true;
        QTest::newRow("marker") << QByteArray("[Options]\nNetDir=xx\n") << true;
        QTest::newRow("key in another section") << QByteArray("[Other]\nNetDir=/srv/net\n") << false;
        QTest::newRow("empty value") << QByteArray("[Options]\nNetDir=\n") << false;
        QTest::newRow("slash alone") << QByteArray("[Options]\nNetDir=/\n") << true;
    }

    void directoryNotSetAsksAndEnds()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, yes);
        QTemporaryDir dir;
        if (ini != "-")
            writeFile(QDir(dir.path()).filePath("NETDIR.INI"), ini);
        support::MessageScript script;
        yes ? script.answerYes() : script.answerNo();
        shell::LaunchRecorder launches;

        QCOMPARE(shell::runBrisel(dir.path()), 0);
        QCOMPARE(script.texts(), QStringList{kQuestion});
        QCOMPARE(script.shown().first().icon, support::BoxKind::Information);
        // Nothing was set up, no window was made, no table was opened.
        QVERIFY(store::Session::instance().netFileDir().isEmpty());
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QVERIFY(!QFile::exists(shell::privateDirPath(dir.path())));
        if (yes) {
            QCOMPARE(launches.launched().size(), 1);
            QCOMPARE(launches.launched().first().first(), QDir(dir.path()).filePath("netdir"));
        } else {
            QVERIFY(launches.launched().isEmpty());
        }
    }

    void directoryValues_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("used");
        QTest::newRow("plain") << "/srv/kontiva/net" << "/srv/kontiva/net";
        QTest::newRow("trailing slash goes") << "/srv/net/" << "/srv/net";
        QTest::newRow("only one slash goes") << "/srv/net//" << "/srv/net/";
        QTest::newRow("backslash stays") << "X:\\net\\" << "X:\\net\\";
        QTest::newRow("capitals are a name") << "XX" << "XX";
    }

    void directoryValues()
    {
        QFETCH(QString, stored);
        QFETCH(QString, used);
        QTemporaryDir dir;
        writeFile(QDir(dir.path()).filePath("NETDIR.INI"), "[Options]\r\nNetDir=" + stored.toUtf8() + "\r\n");
        support::MessageScript script;
        QString netDir;
        QVERIFY(shell::checkNetDir(dir.path(), &netDir));
        QCOMPARE(netDir, used);
        QVERIFY(script.shown().isEmpty());
    }

    void storeSettings()
    {
        QTemporaryDir dir;
        const QString inTheWay = QDir(dir.path()).filePath("priv");
        writeFile(inTheWay, "a file in the way");
        support::MessageScript script;
        const QString priv = shell::configureStore(dir.path(), "/srv/net");
        QCOMPARE(priv, QDir(dir.path()).filePath("priv/PRBrisel"));
        // A private directory that cannot be made is reported; start-up goes on.
        QCOMPARE(script.texts(), QStringList{"Could not create the private directory " + priv});
        store::Session& session = store::Session::instance();
        QCOMPARE(session.netFileDir(), QStringLiteral("/srv/net"));
        QCOMPARE(session.privateDir(), priv);
        QCOMPARE(session.passwords().size(), 2);
        QVERIFY(session.passwords().contains(catalogue::startupPasswordA()));
        QVERIFY(session.passwords().contains(catalogue::startupPasswordB()));

        // Made when it can be, and an existing one is used as it is.
        QVERIFY(QFile::remove(inTheWay));
        script.clear();
        shell::configureStore(dir.path(), "/srv/net");
        QVERIFY(QFileInfo(priv).isDir());
        shell::configureStore(dir.path(), "/srv/net");
        QVERIFY(script.shown().isEmpty());
    }

    void setupProgramWritesTheFile()
    {
        QTemporaryDir dir;
        writeFile(QDir(dir.path()).filePath("NETDIR.INI"), "; kept\n[Other]\nA=1\n[Options]\nNetDir=xx\nB=2\n");
        QVERIFY(shell::writeNetDir(dir.path(), "/srv/first"));
        QCOMPARE(shell::readNetDir(dir.path()), QStringLiteral("/srv/first"));
        QFile f(QDir(dir.path()).filePath("NETDIR.INI"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray content = f.readAll();
        QVERIFY(content.contains("; kept") && content.contains("A=1") && content.contains("B=2"));
        f.close();

        const QString program = QDir(QCoreApplication::applicationDirPath()).filePath("netdir");
        if (!QFile::exists(program))
            QSKIP("the netdir program is not built");
        QTemporaryDir fresh;
        QCOMPARE(QProcess::execute(program, {"--program-dir", fresh.path(), "--set", "/srv/second"}), 0);
        QCOMPARE(shell::readNetDir(fresh.path()), QStringLiteral("/srv/second"));
        QCOMPARE(QProcess::execute(program, {"--program-dir", fresh.path(), "--set", "xx"}), 2);
    }

    void runsOnADemoInstallation()
    {
        QTemporaryDir dir;
        demo::Options options;
        options.root = dir.path();
        options.programDir = dir.path();
        options.users = 5;
        options.databases = 2;
        options.contacts = 10;
        options.events = 10;
        demo::install(options);

        support::MessageScript script;
        int rowsShown = -1;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* main = qobject_cast<TfrmMain*>(w)) {
                    rowsShown = main->grid->model()->rowCount();
                    main->close();
                }
            }
        });
        QCOMPARE(shell::runBrisel(dir.path()), 0);
        QCOMPARE(rowsShown, 5);
        QVERIFY(script.shown().isEmpty());
        QVERIFY(QFileInfo(shell::privateDirPath(dir.path())).isDir());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
