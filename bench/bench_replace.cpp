// The global replace through its dialog, offscreen, against the SQLite floor:
// an installation of 1,000,000 CONTACT.DB and 1,000,000 EVENT.DB rows, about
// one in ten owned by the source user; all five boxes ticked. The floor does
// the same updates and journal rows through the SQLite C API alone, one
// transaction per file. Also prints the dialog's time without its preview's
// count, its processor time, and the walks alone without the window. Every
// run starts from the same rows: those a run handed over go back to the
// source user, and its journal rows are removed, outside the timings.
//
//   bench_replace [--contacts N] [--events N] [--repeat N]
#include "BenchKit.h"

#include "accounts/Replace.h"
#include "accounts/ReplaceWalk.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Messages.h"
#include "support/Text.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

const QString kSource = QStringLiteral("ADM");
const QString kTarget = QStringLiteral("QQQ"); // a user made for the run, owning nothing

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Wall-clock seconds of the work; its processor seconds go to cpu. On a
// busy machine the two differ, and the processor time is the steadier figure.
double seconds(const std::function<void()>& work, double& cpu)
{
    const double cpuStart = cpuSeconds();
    const double wall = benchkit::timed(work);
    cpu = cpuSeconds() - cpuStart;
    return wall;
}

sqlite3* openRaw(const QString& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    return db;
}

sqlite3_stmt* prepare(sqlite3* db, const QString& sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
    return stmt;
}

struct FloorTable {
    const char* file;     // the table file and its SQL table name
    const char* keyField; // what the journal names the row by
    bool carriesDb;
    int code;             // the journal's table code
    bool events;
};

// The floor: walk each table in row order, compare the trimmed owner, update
// the matching rows by rowid and append a journal row for each.
qint64 floorReplace(const QString& dataDir, const QString& source, const QString& target)
{
    const FloorTable tables[] = {{"contact", "recno", true, 0, false},
                                 {"event", "erecno", true, 1, true},
                                 {"holiday", "syncwellno", false, 6, false},
                                 {"steps", "syncwellno", false, 4, false},
                                 {"actions", "syncwellno", false, 3, false}};
    sqlite3* merge = openRaw(QDir(dataDir).filePath("merge.db"));
    sqlite3_exec(merge, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* journal = prepare(merge, "INSERT INTO merge (recno, dateGMT, time, who, database, action, "
                                           "fieldname, \"to\", DB) VALUES (?, ?, ?, '', ?, 0, 'who', ?, ?)");
    const QByteArray targetUtf8 = target.toUtf8();
    const QByteArray stamp = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd HH:mm:ss.zzz").toUtf8();
    qint64 changed = 0;
    for (const FloorTable& t : tables) {
        sqlite3* db = openRaw(QDir(dataDir).filePath(QString::fromLatin1(t.file) + ".db"));
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        const QString select = QStringLiteral("SELECT rowid, Who, %1, %2, %3 FROM %4 ORDER BY rowid")
                                   .arg(QLatin1String(t.keyField), t.carriesDb ? "DB" : "NULL",
                                        t.events ? "completed" : "NULL", QLatin1String(t.file));
        sqlite3_stmt* walk = prepare(db, select);
        sqlite3_stmt* update = prepare(db, QStringLiteral("UPDATE %1 SET Who = ? WHERE rowid = ?").arg(QLatin1String(t.file)));
        while (sqlite3_step(walk) == SQLITE_ROW) {
            const QString who = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(walk, 1)),
                                                  sqlite3_column_bytes(walk, 1));
            if (support::trimRight(who) != source)
                continue;
            sqlite3_bind_text(update, 1, targetUtf8.constData(), int(targetUtf8.size()), SQLITE_STATIC);
            sqlite3_bind_int64(update, 2, sqlite3_column_int64(walk, 0));
            sqlite3_step(update);
            sqlite3_reset(update);
            sqlite3_bind_text(journal, 1, reinterpret_cast<const char*>(sqlite3_column_text(walk, 2)), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(journal, 2, stamp.constData(), int(stamp.size()), SQLITE_STATIC);
            sqlite3_bind_text(journal, 3, stamp.constData(), int(stamp.size()), SQLITE_STATIC);
            sqlite3_bind_int(journal, 4, t.code);
            sqlite3_bind_text(journal, 5, targetUtf8.constData(), int(targetUtf8.size()), SQLITE_STATIC);
            if (t.carriesDb)
                sqlite3_bind_text(journal, 6, reinterpret_cast<const char*>(sqlite3_column_text(walk, 3)), -1, SQLITE_TRANSIENT);
            else
                sqlite3_bind_text(journal, 6, "", 0, SQLITE_STATIC);
            sqlite3_step(journal);
            sqlite3_reset(journal);
            ++changed;
        }
        sqlite3_finalize(walk);
        sqlite3_finalize(update);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    sqlite3_finalize(journal);
    sqlite3_exec(merge, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(merge);
    return changed;
}

const char* const kTables[] = {"contact", "event", "holiday", "steps", "actions"};

// Puts the installation back as it was before any run: the rows handed to
// the target go back to the source, the journal loses the rows written
// since journalMark, and every file's log is checkpointed.
void putBack(const benchkit::Installation& in, qint64 journalMark)
{
    benchkit::reopenStore(in); // the store lets go of the files first
    for (const char* table : kTables) {
        benchkit::Connection c(QString("%1/%2.db").arg(in.dataDir, table));
        c.exec(QString("UPDATE %1 SET Who = '%2' WHERE Who = '%3'").arg(table, kSource, kTarget));
        c.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    benchkit::cutJournal(in.dataDir, journalMark);
}

// The replace as the supervisor does it: type, pick, tick, OK, Yes. Returns
// false when it did not finish.
bool replaceThroughDialog(double& wall, double& cpu)
{
    support::MessageScript script;
    script.answerYes();
    TfrmReplace dialog;
    dialog.show();
    dialog.edWho->setText(kSource);
    dialog.cbTarget->setCurrentText(kTarget);
    for (QCheckBox* box :
         {dialog.cbContacts, dialog.cbEventsNotDone, dialog.cbEventsDone, dialog.cbMarketing, dialog.cbHoliday})
        box->click();
    wall = seconds([&] { dialog.btOK->click(); }, cpu);
    if (script.texts().contains("Finished"))
        return true;
    std::printf("  (the replace did not finish: %s)\n", qPrintable(script.texts().join(" / ")));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"contacts", "CONTACT.DB rows.", "n", "1000000"});
    parser.addOption({"events", "EVENT.DB rows.", "n", "1000000"});
    benchkit::addRepeatOption(parser);
    parser.process(app);

    try {
        const int repeat = benchkit::repeatFrom(parser);
        const benchkit::MachineNote machine;
        QTemporaryDir dir;
        demo::Options options;
        options.users = 10; // the rows are shared out among the users: one in ten each
        options.databases = 10;
        options.contacts = parser.value("contacts").toInt();
        options.events = parser.value("events").toInt();
        benchkit::Installation made;
        std::printf("  made in %.1f s\n",
                    benchkit::timed([&] { made = benchkit::makeInstallation(dir.path(), options); }));

        support::setJournalActive(support::journalFileExists());
        {
            store::Table users(catalogue::kAlias, catalogue::kUserPref);
            users.open();
            users.insert();
            users.fieldByName(catalogue::fWho).setAsString(kTarget);
            users.post();
        }
        const qint64 journalMark = benchkit::lastJournalRow(made.dataDir);
        const qint64 journalRows = benchkit::count(made.dataDir, "merge");

        accounts::ReplaceChoice all;
        all.contacts = all.eventsNotDone = all.eventsDone = all.marketing = all.holiday = true;
        const accounts::ReplaceCounts counts = accounts::countReplace(kSource, all);
        std::printf("  %lld rows owned by %s (%lld contacts, %lld events)\n", static_cast<long long>(counts.total()),
                    qPrintable(kSource), static_cast<long long>(counts.contacts),
                    static_cast<long long>(counts.eventsDone + counts.eventsNotDone));

        benchkit::Table table("Global replace of all five tables");
        benchkit::Line& withPreview = table.add("replace through the dialog (with its preview)");
        benchkit::Line& dialogOnly = table.add("replace through the dialog (without preview)");
        benchkit::Line& processor = table.add("processor time, without preview");
        benchkit::Line& walksAlone = table.add("the walks alone, no window");
        auto disagree = [&](const char* who, qint64 changed) {
            if (changed != counts.total())
                std::printf("  (%s changed %lld rows, the preview counted %lld)\n", who,
                            static_cast<long long>(changed), static_cast<long long>(counts.total()));
        };

        auto storeRun = [&] {
            putBack(made, journalMark);
            double previewCpu = 0, dialogWall = 0, dialogCpu = 0;
            const double preview = seconds([&] { accounts::countReplace(kSource, all); }, previewCpu);
            replaceThroughDialog(dialogWall, dialogCpu);
            disagree("the dialog", benchkit::count(made.dataDir, "merge") - journalRows);
            withPreview.store.push_back(dialogWall);
            dialogOnly.store.push_back(dialogWall - preview);
            processor.store.push_back(dialogCpu - previewCpu);

            // The same walks without the window (no events processed, no
            // preview): what the window itself costs.
            putBack(made, journalMark);
            walksAlone.store.push_back(benchkit::timed([&] { accounts::replaceAll(kSource, kTarget, all); }));
        };
        auto floorRun = [&] {
            putBack(made, journalMark);
            qint64 changed = 0;
            double cpu = 0;
            const double wall = seconds([&] { changed = floorReplace(made.dataDir, kSource, kTarget); }, cpu);
            disagree("the floor", changed);
            for (benchkit::Line* line : {&withPreview, &dialogOnly, &walksAlone})
                line->floor.push_back(wall);
            processor.floor.push_back(cpu);
        };
        benchkit::alternate(repeat, storeRun, floorRun);
        table.print();
        machine.print();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 2;
    }
    return 0;
}
