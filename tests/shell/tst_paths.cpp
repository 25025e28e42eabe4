#include "shell/Paths.h"
#include "store/Session.h"
#include "support/Clock.h"
#include "tools/demo/RecordIds.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
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

    void joinPaths()
    {
        QCOMPARE(joinPath(QStringLiteral(" \t\r\n"), QStringLiteral("x.db")), QStringLiteral("x.db"));
        QCOMPARE(joinPath(QStringLiteral("/data"), QStringLiteral("x.db")), QStringLiteral("/data/x.db"));
        QCOMPARE(joinPath(QStringLiteral("/data/"), QStringLiteral("x.db")), QStringLiteral("/data/x.db"));
    }

    // The program's and the demo installer's encoders agree.
    void base25_data()
    {
        QTest::addColumn<qint64>("number");
        QTest::addColumn<QString>("digits");
        QTest::newRow("0") << qint64(0) << "AAAA";
        QTest::newRow("25") << qint64(25) << "AABA";
        QTest::newRow("12345") << qint64(12345) << "ATSU";
        QTest::newRow("99998, the largest random group") << qint64(99998) << "GJYX";
    }

    void base25()
    {
        QFETCH(qint64, number);
        QFETCH(QString, digits);
        QCOMPARE(encodeBase25(number, 4), digits);
        QCOMPARE(encodeBase25(-number, 4), digits); // the sign is dropped
        QCOMPARE(demo::RecordIds::encodeBase25(number, 4), digits);
    }

    // The first group counts the days from 1 January 2000 either way.
    void recordIds_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QString>("group");
        QTest::newRow("2000-01-01") << QDate(2000, 1, 1) << "AAAA";
        QTest::newRow("2000-01-02") << QDate(2000, 1, 2) << "AAAB";
        QTest::newRow("1999-12-31") << QDate(1999, 12, 31) << "AAAB";
        QTest::newRow("2026-12-05") << QDate(2026, 12, 5) << "APSK";
    }

    void recordIds()
    {
        QFETCH(QDate, today);
        QFETCH(QString, group);
        support::ClockOverride clock(QDateTime(today, QTime(23, 59, 59)));
        demo::RecordIds sample(7, today);
        const QRegularExpression shape(QStringLiteral("^([A-Y]{4}){6}$"));
        QSet<QString> seen;
        for (int i = 0; i < 1000; ++i) {
            for (const QString& id : {newRecordId(), sample.next()}) {
                QVERIFY2(shape.match(id).hasMatch() && id.startsWith(group), qPrintable(id));
                for (int g = 1; g < 6; ++g)
                    QVERIFY2(id.mid(4 * g, 4) <= QStringLiteral("GJYX"), qPrintable(id));
                seen.insert(id);
            }
        }
        QCOMPARE(seen.size(), 2000);
        QCOMPARE(demo::RecordIds(7, today).next(), demo::RecordIds(7, today).next()); // a fixed seed repeats
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
