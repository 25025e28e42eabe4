// Modes of what the installer and the program make: no file or folder is
// open to other users of the machine, whatever the umask; a backup copy
// keeps its table's mode.

#include "shell/Backup.h"
#include "shell/NetDirIni.h"
#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/FileModes.h"
#include "store/Table.h"
#include "support/Clock.h"
#include "support/Messages.h"
#include "testkit/TestInstall.h"

#include <QDir>
#include <QDirIterator>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Sets the process's umask for one test and puts the old one back.
class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskGuard() { ::umask(m_old); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t m_old;
};

QString octal(int mode)
{
    return QString::number(mode, 8);
}

// Every entry under dir whose mode is not the expected one, with its mode.
QStringList wrongModes(const QString& dir)
{
    QStringList wrong;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const int expected = QFileInfo(path).isDir() ? int(store::kFolderMode) : int(store::kFileMode);
        const int mode = store::modeOf(path);
        if (mode != expected)
            wrong << path + QLatin1Char(' ') + octal(mode);
    }
    return wrong;
}

} // namespace

class TestFileModes : public QObject {
    Q_OBJECT
private slots:
    void nothingIsOpenToOthers_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("permissive umask 0002") << 0002;
        QTest::newRow("strict umask 0077") << 0077;
    }

    void nothingIsOpenToOthers()
    {
        QFETCH(int, mask);
        const UmaskGuard guard(mode_t(mask & 0777));
        QTemporaryDir programDir;
        demo::Options options = TestInstall::smallOptions();
        options.writeProgramFiles = true;
        options.programDir = programDir.path();
        TestInstall install(options);
        QVERIFY(install.ok());

        // The installation: data and network folders, tables, program files.
        QCOMPARE(octal(store::modeOf(install.dataDir())), QStringLiteral("770"));
        QCOMPARE(octal(store::modeOf(install.netDir())), QStringLiteral("770"));
        for (const QString& name : {QStringLiteral("NETDIR.INI"), QStringLiteral("brisel-store.ini")})
            QCOMPARE(octal(store::modeOf(QDir(programDir.path()).filePath(name))), QStringLiteral("660"));

        // The program's files: lock files and backups.
        store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
        store::Table userDb(catalogue::kAlias, catalogue::kUserDb);
        userPref.open();
        userDb.open();
        support::MessageScript script;
        QVERIFY(shell::backupUserTables(userPref, userDb));
        QVERIFY(script.texts().isEmpty());
        QVERIFY(!QDir(install.netDir()).entryList({QStringLiteral("*.lck")}).isEmpty());
        const QStringList wrong = wrongModes(install.dataDir()) + wrongModes(install.netDir());
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", "))));

        // A copy keeps its table's mode: one another tool made tighter stays so.
        const QString table = QDir(install.dataDir()).filePath(QStringLiteral("userdb.db"));
        QVERIFY(store::setMode(table, 0640));
        QVERIFY(shell::backupUserTables(userPref, userDb));
        const QString backup = QDir(install.dataDir()).filePath(shell::backupFolderName(support::todayDayNumber()));
        QCOMPARE(octal(store::modeOf(QDir(backup).filePath(QStringLiteral("userdb.db")))), QStringLiteral("640"));
    }

    void foldersAndCopiesTheProgramMakes()
    {
        const UmaskGuard guard(0);
        QTemporaryDir dir;
        // A missing folder and its missing parents, and a folder that
        // existed open to all: all end 0770.
        const QString deep = dir.filePath(QStringLiteral("a/b/c"));
        QVERIFY(store::makeFolder(deep));
        for (const QString& path : {dir.filePath(QStringLiteral("a")), dir.filePath(QStringLiteral("a/b")), deep})
            QCOMPARE(octal(store::modeOf(path)), QStringLiteral("770"));
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("open"))));
        QCOMPARE(octal(store::modeOf(dir.filePath(QStringLiteral("open")))), QStringLiteral("777"));
        QVERIFY(store::makeFolder(dir.filePath(QStringLiteral("open"))));
        QCOMPARE(octal(store::modeOf(dir.filePath(QStringLiteral("open")))), QStringLiteral("770"));
        QCOMPARE(octal(store::modeOf(dir.path())), QStringLiteral("700")); // parents that existed stay

        // NETDIR.INI as the set-up program writes it; a plain copy keeps its
        // source's mode.
        QVERIFY(shell::writeNetDir(deep, QStringLiteral("/srv/net")));
        QCOMPARE(octal(store::modeOf(shell::netDirIniPath(deep))), QStringLiteral("660"));
        QVERIFY(store::setMode(shell::netDirIniPath(deep), 0600));
        const QString copy = QDir(deep).filePath(QStringLiteral("copy.ini"));
        QVERIFY(shell::copyFile(shell::netDirIniPath(deep), copy));
        QCOMPARE(octal(store::modeOf(copy)), QStringLiteral("600"));
    }
};

QTEST_MAIN(TestFileModes)
#include "tst_filemodes.moc"
