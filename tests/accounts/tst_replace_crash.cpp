// A replace killed with SIGKILL part-way, in a second process, with some
// replaced rows committed and more in an open transaction: the tables stay
// sound, every changed row has its journal row and no journal row names an
// unchanged one (once the outboxes have moved, as at the next start), and
// running the replace again finishes the job exactly as an uninterrupted
// replace would have.

#include "store/Catalogue.h"
#include "store/Outbox.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <QtTest>

using testkit::RawDb;

namespace {

struct WalkedTable {
    const char* file;    // file and SQL table name
    const char* key;     // the field the journal names a row by
    int code;            // the journal's table code
};

const WalkedTable kTables[] = {{"contact", "recno", 0},
                               {"event", "erecno", 1},
                               {"holiday", "syncwellno", 6},
                               {"steps", "syncwellno", 4},
                               {"actions", "syncwellno", 3}};

// "code:key" -> Who, for every row of the five tables.
QMap<QString, QString> owners(const QString& dataDir)
{
    QMap<QString, QString> result;
    for (const WalkedTable& t : kTables) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(QFile::encodeName(QDir(dataDir).filePath(QString(t.file) + ".db")).constData(), &db,
                        SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, qPrintable(QString("SELECT %1, Who FROM %2").arg(t.key, t.file)), -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW)
            result.insert(QString("%1:%2").arg(t.code).arg(QString::fromUtf8(
                              reinterpret_cast<const char*>(sqlite3_column_text(st, 0)))),
                          QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))));
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    return result;
}

// "code:key" of every journal row about a replaced owner.
QSet<QString> journalled(const QString& dataDir)
{
    QSet<QString> result;
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(QDir(dataDir).filePath("merge.db")).constData(), &db, SQLITE_OPEN_READONLY,
                    nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT database, recno FROM merge WHERE fieldname = 'who'", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
        result.insert(QString("%1:%2").arg(sqlite3_column_int(st, 0)).arg(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)))));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return result;
}

// Reads the helper's lines until one starts with prefix and returns it; when
// the helper ends first, the last line it printed.
QString lineStarting(QProcess& helper, const QString& prefix)
{
    QString line;
    while (!line.startsWith(prefix)) {
        if (helper.canReadLine())
            line = QString::fromUtf8(helper.readLine()).trimmed();
        else if (!helper.waitForReadyRead(120000))
            break;
    }
    return line;
}

} // namespace

class TestReplaceCrash : public QObject {
    Q_OBJECT

    static QString helper() { return QCoreApplication::applicationDirPath() + "/run_replace"; }

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(helper()), "build the run_replace helper"); }

    void killedPartWayThenRunAgain()
    {
        demo::Options options = TestInstall::smallOptions();
        options.users = 10;
        options.contacts = 30000;
        options.events = 30000;
        TestInstall install(options);
        QVERIFY(install.ok());
        const QString data = install.dataDir();
        const QString source = "ADM", target = "JDS";
        const QStringList args{install.configPath(), install.netDir(), source, target, "cndmh"};

        const QMap<QString, QString> before = owners(data);
        QMap<QString, QString> expected = before;
        for (auto it = expected.begin(); it != expected.end(); ++it)
            if (it.value().trimmed() == source)
                it.value() = target;

        // Kill it in the middle of the events: once a commit has carried
        // replaced events and the next transaction holds more, the helper
        // says so and waits.
        QProcess run;
        run.start(helper(), args + QStringList{"event"});
        QVERIFY(run.waitForStarted());
        const QString said = lineStarting(run, "committed");
        QVERIFY2(said == "committed event", qPrintable("the replace did not stop part-way: " + said));
        run.kill(); // SIGKILL
        QVERIFY(run.waitForFinished(10000));

        for (const QString& file : {"contact", "event", "holiday", "steps", "actions", "merge"}) {
            RawDb db(QDir(data).filePath(QString(file) + ".db"));
            QCOMPARE(db.text("PRAGMA integrity_check"), QStringLiteral("ok"));
        }

        // What the crash left in the tables' outboxes moves to the journal
        // when the program next starts.
        store::moveLeftoverOutboxes(catalogue::kAlias);
        const QMap<QString, QString> after = owners(data);
        QSet<QString> changed;
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            if (it.value() != before.value(it.key()))
                changed.insert(it.key());
        QVERIFY2(!changed.isEmpty() && changed.size() < expected.size(), "killed before or after the work");
        const QSet<QString> journal = journalled(data);
        const QSet<QString> unchangedButJournalled = journal - changed, changedButNot = changed - journal;
        QVERIFY2(unchangedButJournalled.isEmpty() && changedButNot.isEmpty(),
                 qPrintable(QString("%1 rows changed, %2 journalled; %3 journalled but unchanged, %4 changed but not "
                                    "journalled")
                                .arg(changed.size()).arg(journal.size()).arg(unchangedButJournalled.size())
                                .arg(changedButNot.size())));

        // Again, to the end: the tables as if the replace had never stopped.
        QProcess again;
        again.start(helper(), args);
        QVERIFY(again.waitForFinished(120000));
        QVERIFY(QString::fromUtf8(again.readAllStandardOutput()).contains("finished"));
        QVERIFY(owners(data) == expected);
        QSet<QString> allChanged;
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            if (it.value() != before.value(it.key()))
                allChanged.insert(it.key());
        QVERIFY(journalled(data) == allChanged);
    }
};

QTEST_MAIN(TestReplaceCrash)
#include "tst_replace_crash.moc"
