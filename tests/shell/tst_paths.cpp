#include "shell/Paths.h"
#include "store/Session.h"
#include "support/Clock.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

using namespace shell;

namespace {
QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}
} // namespace

class PathsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { store::Session::instance().reset(); }

    void joinAndEncode()
    {
        QCOMPARE(joinPath(QStringLiteral(" \t\r\n"), QStringLiteral("x.db")), QStringLiteral("x.db"));
        QCOMPARE(joinPath(QStringLiteral("/data"), QStringLiteral("x.db")), QStringLiteral("/data/x.db"));
        QCOMPARE(joinPath(QStringLiteral("/data/"), QStringLiteral("x.db")), QStringLiteral("/data/x.db"));
        QCOMPARE(encodeBase25(0, 4), QStringLiteral("AAAA"));
        QCOMPARE(encodeBase25(25, 4), QStringLiteral("AABA"));
        QCOMPARE(encodeBase25(12345, 4), QStringLiteral("ATSU"));
        QCOMPARE(encodeBase25(-12345, 4), QStringLiteral("ATSU"));
        QCOMPARE(encodeBase25(99998, 4), QStringLiteral("GJYX"));
    }

    void recordIds()
    {
        const QList<QPair<QDate, QString>> days = {{QDate(2000, 1, 1), "AAAA"}, {QDate(2000, 1, 2), "AAAB"},
                                                    {QDate(1999, 12, 31), "AAAB"}, {QDate(2026, 12, 5), "APSK"}};
        support::ClockOverride clock(QDateTime(QDate(2000, 1, 1), QTime(23, 59, 59)));
        for (const auto& [today, group] : days) {
            clock.set(QDateTime(today, QTime(23, 59, 59)));
            QCOMPARE(newRecordId().left(4), group);
        }
        const QRegularExpression shape(QStringLiteral("^APSK([A-Y]{4}){5}$"));
        QSet<QString> seen;
        for (int i = 0; i < 2000; ++i) {
            const QString id = newRecordId();
            QVERIFY2(shape.match(id).hasMatch(), qPrintable(id));
            for (int g = 1; g < 6; ++g)
                QVERIFY2(id.mid(4 * g, 4) <= QStringLiteral("GJYX"), qPrintable(id));
            seen.insert(id);
        }
        QCOMPARE(seen.size(), 2000);
    }

    void copies()
    {
        QTemporaryDir dir;
        for (int size : {0, 2047, 2048, 2049, 100000}) {
            QByteArray data(size, Qt::Uninitialized);
            for (char& c : data)
                c = char(QRandomGenerator::global()->bounded(256));
            const QString source = dir.filePath(QStringLiteral("src%1").arg(size));
            const QString target = dir.filePath(QStringLiteral("dst%1").arg(size));
            QVERIFY(writeFile(source, data));
            QVERIFY(writeFile(target, QByteArray(size + 5000, 'x'))); // a longer old copy is truncated
            QVERIFY(copyFile(source, target));
            QCOMPARE(readAll(target), data);
        }
    }

    void copyRefusals()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("missing.db"));
        const QString existing = dir.filePath(QStringLiteral("existing.db"));
        QVERIFY(writeFile(existing, "keep me"));
        QVERIFY(!copyFile(missing, dir.filePath(QStringLiteral("fresh.db"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("fresh.db"))));
        QVERIFY(!copyFile(missing, existing));
        QVERIFY(!copyFile(existing, dir.filePath(QStringLiteral("no/such/folder/a.db"))));
        QVERIFY(!copyFile(existing, dir.path() + QStringLiteral("/./existing.db"))); // onto itself
        QCOMPARE(readAll(existing), QByteArray("keep me"));
    }

    void copyWriteErrorIsRaised()
    {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full on this system");
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("big.db"));
        QVERIFY(writeFile(source, QByteArray(50000, 'z')));
        // Writes to /dev/full fail as on a full disk: never reported as success.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, copyFile(source, QStringLiteral("/dev/full")));
    }

    void aliasDirectoryFromConfig()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("brisel-store.ini"));
        QVERIFY(writeFile(config, "[NORDA]\nBACKUPPATH=/elsewhere\nPATH=/srv/first\nTYPE=STANDARD\n"
                                  "PATH=/srv/kontiva data\n[EMPTY]\nPATH=\n[NOPATH]\nTYPE=STANDARD\n"));
        store::Session::instance().setConfigPath(config);
        QCOMPARE(aliasDirectory(QStringLiteral("NORDA")), QStringLiteral("/srv/kontiva data"));
        QCOMPARE(aliasDirectory(QStringLiteral("EMPTY")), QString());
        QCOMPARE(aliasDirectory(QStringLiteral("NOPATH")), QString());
        QCOMPARE(aliasDirectory(QStringLiteral("UNKNOWN")), QString());
    }
};

QTEST_MAIN(PathsTest)
#include "tst_paths.moc"
