// The record store against its floor on a large installation:
//   - walk every CONTACT.DB row (1,000,000), reading a field of each;
//   - 100,000 FindKey on USERPREF.DB and PERM.DB keys;
//   - edit and post 100,000 contact rows, each followed by a journal row;
//     on SQLite also beside a floor that is crash-safe as the store is (the
//     journal rows through an outbox of the changed file).
// Each beside the same work without the store, in one transaction with
// prepared statements: the SQLite C API on the table files, or with
// --engine postgresql libpq on the installation's schema on the server
// (dropped at the end). Prints the medians of --repeat runs, store and floor
// in turn, and their ratios. Every run of edits starts from the same rows:
// the cities and the journal are put back between runs, outside the timings.
//
//   bench_store [--contacts N] [--repeat N] [--only walk,lookups,batch,single]
//               [--engine postgresql --connection "<libpq string>" [--schema NAME]]
#include "BenchKit.h"
#include "PgFloor.h"
#include "StoreFloor.h"
#include "StorePgFloor.h"

#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "tools/demo/Installer.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <cstdio>
#include <functional>
#include <memory>

using storebench::Key;

namespace {

sqlite3* openRaw(const QString& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    return db;
}

sqlite3_stmt* prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
    return stmt;
}

// The floor on the table files: the SQLite C API alone.
class SqliteFloor : public storebench::Floor {
public:
    explicit SqliteFloor(const QString& dataDir) : m_dataDir(dataDir) {}

    qint64 walk() override
    {
        qint64 chars = 0;
        sqlite3* db = openRaw(path("contact.db"));
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* s = prepare(db, "SELECT rowid, recno, DB, Who, Company, Contact, Phone, City FROM contact ORDER BY rowid");
        while (sqlite3_step(s) == SQLITE_ROW)
            chars += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 3)),
                                       sqlite3_column_bytes(s, 3)).size();
        sqlite3_finalize(s);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return chars;
    }

    int lookups(const QVector<Key>& keys) override
    {
        int found = 0;
        sqlite3* udb = openRaw(path("userpref.db"));
        sqlite3* pdb = openRaw(path("perm.db"));
        sqlite3_exec(udb, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_exec(pdb, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* us = prepare(udb, "SELECT * FROM userpref WHERE Who = ?");
        sqlite3_stmt* ps = prepare(pdb, "SELECT * FROM perm WHERE DB = ? AND Who = ?");
        for (const Key& k : keys) {
            const QByteArray who = k.who.toUtf8(), db = k.db.toUtf8();
            sqlite3_bind_text(us, 1, who.constData(), int(who.size()), SQLITE_TRANSIENT);
            found += sqlite3_step(us) == SQLITE_ROW;
            sqlite3_reset(us);
            sqlite3_bind_text(ps, 1, db.constData(), int(db.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(ps, 2, who.constData(), int(who.size()), SQLITE_TRANSIENT);
            found += sqlite3_step(ps) == SQLITE_ROW;
            sqlite3_reset(ps);
        }
        sqlite3_finalize(us);
        sqlite3_finalize(ps);
        sqlite3_exec(udb, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_exec(pdb, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(udb);
        sqlite3_close(pdb);
        return found;
    }

    void edit(int edits, const QByteArray& city) override
    {
        sqlite3* cdb = openRaw(path("contact.db"));
        sqlite3* mdb = openRaw(path("merge.db"));
        sqlite3_exec(cdb, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_exec(mdb, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* walk = prepare(cdb, "SELECT rowid, recno, DB FROM contact ORDER BY rowid LIMIT ?");
        sqlite3_stmt* upd = prepare(cdb, "UPDATE contact SET City = ? WHERE rowid = ?");
        sqlite3_stmt* ins = prepare(mdb, "INSERT INTO merge (recno, dateGMT, time, who, database, action, fieldname, \"to\", DB) "
                                         "VALUES (?, ?, ?, '', 0, 0, 'City', ?, ?)");
        sqlite3_bind_int(walk, 1, edits);
        QVector<qint64> rowids;
        QVector<QByteArray> recnos, dbCodes;
        while (sqlite3_step(walk) == SQLITE_ROW) {
            rowids << sqlite3_column_int64(walk, 0);
            recnos << QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(walk, 1)));
            dbCodes << QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(walk, 2)));
        }
        const QByteArray now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
        for (int i = 0; i < rowids.size(); ++i) {
            sqlite3_bind_text(upd, 1, city.constData(), -1, SQLITE_STATIC);
            sqlite3_bind_int64(upd, 2, rowids[i]);
            sqlite3_step(upd);
            sqlite3_reset(upd);
            sqlite3_bind_text(ins, 1, recnos[i].constData(), -1, SQLITE_STATIC);
            sqlite3_bind_text(ins, 2, now.constData(), -1, SQLITE_STATIC);
            sqlite3_bind_text(ins, 3, now.constData(), -1, SQLITE_STATIC);
            sqlite3_bind_text(ins, 4, city.constData(), -1, SQLITE_STATIC);
            sqlite3_bind_text(ins, 5, dbCodes[i].constData(), -1, SQLITE_STATIC);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(walk);
        sqlite3_finalize(upd);
        sqlite3_finalize(ins);
        sqlite3_exec(cdb, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_exec(mdb, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(cdb);
        sqlite3_close(mdb);
    }

    // The same edits made crash-safe as the store makes them on SQLite: each
    // change and its journal row in one transaction of the changed file (the
    // journal row into an outbox table there), then the rows moved to
    // merge.db in a transaction of its own and taken out of the outbox.
    void editCrashSafe(int edits, const QByteArray& city) override
    {
        sqlite3* cdb = openRaw(path("contact.db"));
        sqlite3_exec(cdb, "CREATE TABLE IF NOT EXISTS floor_outbox (seq INTEGER PRIMARY KEY, recno, dateGMT, time, "
                          "who, database, action, fieldname, \"to\", DB)", nullptr, nullptr, nullptr);
        sqlite3_exec(cdb, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* walk = prepare(cdb, "SELECT rowid, recno, DB FROM contact ORDER BY rowid LIMIT ?");
        sqlite3_stmt* upd = prepare(cdb, "UPDATE contact SET City = ? WHERE rowid = ?");
        sqlite3_stmt* box = prepare(cdb, "INSERT INTO floor_outbox (recno, dateGMT, time, who, database, action, fieldname, \"to\", DB) "
                                         "VALUES (?, ?, ?, '', 0, 0, 'City', ?, ?)");
        const QByteArray now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
        sqlite3_bind_int(walk, 1, edits);
        while (sqlite3_step(walk) == SQLITE_ROW) {
            sqlite3_bind_text(upd, 1, city.constData(), -1, SQLITE_STATIC);
            sqlite3_bind_int64(upd, 2, sqlite3_column_int64(walk, 0));
            sqlite3_step(upd);
            sqlite3_reset(upd);
            sqlite3_bind_text(box, 1, reinterpret_cast<const char*>(sqlite3_column_text(walk, 1)), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(box, 2, now.constData(), -1, SQLITE_STATIC);
            sqlite3_bind_text(box, 3, now.constData(), -1, SQLITE_STATIC);
            sqlite3_bind_text(box, 4, city.constData(), -1, SQLITE_STATIC);
            sqlite3_bind_text(box, 5, reinterpret_cast<const char*>(sqlite3_column_text(walk, 2)), -1, SQLITE_TRANSIENT);
            sqlite3_step(box);
            sqlite3_reset(box);
        }
        sqlite3_finalize(walk);
        sqlite3_finalize(upd);
        sqlite3_finalize(box);
        sqlite3_exec(cdb, "COMMIT", nullptr, nullptr, nullptr);

        sqlite3* mdb = openRaw(path("merge.db"));
        sqlite3_exec(mdb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        sqlite3_stmt* read = prepare(cdb, "SELECT recno, dateGMT, time, who, database, action, fieldname, \"to\", DB "
                                          "FROM floor_outbox ORDER BY seq");
        sqlite3_stmt* ins = prepare(mdb, "INSERT INTO merge (recno, dateGMT, time, who, database, action, fieldname, \"to\", DB) "
                                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        while (sqlite3_step(read) == SQLITE_ROW) {
            for (int i = 0; i < 9; ++i)
                sqlite3_bind_value(ins, i + 1, sqlite3_column_value(read, i));
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(read);
        sqlite3_finalize(ins);
        sqlite3_exec(mdb, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_exec(cdb, "DELETE FROM floor_outbox", nullptr, nullptr, nullptr);
        sqlite3_close(mdb);
        sqlite3_close(cdb);
    }

    // The kept cities go to a file of their own beside the tables: the
    // table files keep exactly their layout.
    void keepCities(int n) override
    {
        benchkit::Connection c(path("contact.db"));
        attachKept(c);
        c.exec("DROP TABLE IF EXISTS kept.city");
        // Keyed by the row, so that putting the cities back looks each up
        // instead of scanning the kept rows once per row.
        c.exec("CREATE TABLE kept.city (r INTEGER PRIMARY KEY, City)");
        c.exec(QString("INSERT INTO kept.city SELECT rowid, City FROM contact ORDER BY rowid LIMIT %1").arg(n));
        m_journalMark = benchkit::lastJournalRow(m_dataDir);
    }

    void putCitiesBack() override
    {
        {
            benchkit::Connection c(path("contact.db"));
            attachKept(c);
            c.exec("UPDATE contact SET City = (SELECT k.City FROM kept.city k WHERE k.r = contact.rowid)"
                   " WHERE rowid IN (SELECT r FROM kept.city)");
            c.exec("DROP TABLE IF EXISTS floor_outbox");
            c.exec("PRAGMA main.wal_checkpoint(TRUNCATE)");
        }
        benchkit::cutJournal(m_dataDir, m_journalMark);
    }

    qint64 rowsWithCity(const QString& city) override
    {
        benchkit::Connection c(path("contact.db"));
        benchkit::Statement count(c, "SELECT count(*) FROM contact WHERE City = ?1");
        count.bind(1, city.toUtf8());
        count.step();
        return count.integer(0);
    }

    qint64 journalRows() override { return benchkit::count(m_dataDir, "merge"); }

private:
    QString path(const char* file) const { return QDir(m_dataDir).filePath(QLatin1String(file)); }
    void attachKept(benchkit::Connection& c) { c.exec("ATTACH DATABASE '" + path("../kept.db") + "' AS kept"); }

    QString m_dataDir;
    qint64 m_journalMark = 0;
};

qint64 walkThroughStore()
{
    qint64 chars = 0;
    store::Table t(catalogue::kAlias, catalogue::kContact);
    t.open();
    store::Field& who = t.fieldByName(catalogue::fWho);
    for (t.first(); !t.eof(); t.next())
        chars += who.asString().size();
    return chars;
}

// Keys of random (database, user) pairs of the installation.
QVector<Key> randomKeys(int count)
{
    QVector<QString> users;
    QVector<QString> dbs;
    store::Table u(catalogue::kAlias, catalogue::kUserPref);
    u.open();
    for (u.first(); !u.eof(); u.next())
        users << u.fieldByName(catalogue::fWho).asString();
    store::Table d(catalogue::kAlias, catalogue::kDatabase);
    d.open();
    for (d.first(); !d.eof(); d.next())
        dbs << d.fieldByName(catalogue::fDb).asString();
    QRandomGenerator rng(7);
    QVector<Key> keys;
    for (int i = 0; i < count; ++i)
        keys.append({dbs[int(rng.bounded(dbs.size()))], users[int(rng.bounded(users.size()))]});
    return keys;
}

int lookUpThroughStore(const QVector<Key>& keys)
{
    int found = 0;
    store::Table u(catalogue::kAlias, catalogue::kUserPref);
    store::Table p(catalogue::kAlias, catalogue::kPerm);
    u.open();
    p.open();
    for (const Key& k : keys) {
        found += u.findKey({k.who});
        found += p.findKey({k.db, k.who});
    }
    return found;
}

void editThroughStore(int edits, const QString& city, bool batched)
{
    std::unique_ptr<store::WriteBatch> batch;
    if (batched)
        batch = std::make_unique<store::WriteBatch>();
    store::Table t(catalogue::kAlias, catalogue::kContact);
    t.open();
    int n = 0;
    for (t.first(); !t.eof() && n < edits; t.next(), ++n) {
        t.edit();
        t.fieldByName(QStringLiteral("City")).setAsString(city);
        store::ChangeUnit unit(t);
        t.post();
        support::journalfield(t, QStringLiteral("City"), support::ActionField);
        unit.commit();
    }
}

// Times one run of edits from the kept cities and checks that it set the
// city of edits rows, each with its journal row.
double timedEdits(storebench::Floor& floor, const char* who, int edits, const QString& city,
                  const std::function<void()>& work)
{
    floor.putCitiesBack();
    const qint64 journalBefore = floor.journalRows();
    const double time = benchkit::timed(work);
    const qint64 changed = floor.rowsWithCity(city);
    const qint64 journalled = floor.journalRows() - journalBefore;
    if (changed != edits || journalled != edits)
        std::printf("  (%s edits disagree: %lld rows with City %s, %lld journal rows, for %d edits)\n", who, changed,
                    qPrintable(city), journalled, edits);
    return time;
}

void run(const demo::Result& made, const benchkit::Engine& engine, int contacts, int repeat, const QStringList& only)
{
    const auto wanted = [&](const char* part) { return only.isEmpty() || only.contains(QLatin1String(part)); };
    std::unique_ptr<storebench::Floor> floor;
    if (engine.onServer)
        floor = std::make_unique<storebench::PgFloor>(made.connection, made.schema);
    else
        floor = std::make_unique<SqliteFloor>(made.dataDir);
    benchkit::Table table(engine.onServer ? "Record store on the server" : "Record store on SQLite files",
                          "store", engine.onServer ? "libpq alone" : "SQLite alone");

    // 1. Walk every contact row, reading its owner.
    qint64 storeChars = 0, floorChars = 0;
    const QLocale english(QLocale::English);
    if (wanted("walk"))
        benchkit::alternate(table.add(QString("walk %1 contact rows").arg(english.toString(contacts))), repeat, [&] { storeChars = walkThroughStore(); },
                        [&] { floorChars = floor->walk(); });
    if (storeChars != floorChars)
        std::printf("  (walks disagree: %lld vs %lld characters)\n", storeChars, floorChars);

    // 2. 100,000 key lookups, half on users, half on permission rows.
    if (wanted("lookups")) {
        const QVector<Key> keys = randomKeys(50000);
        int storeFound = 0, floorFound = 0;
        benchkit::alternate(table.add("100,000 FindKey (USERPREF.DB, PERM.DB)"), repeat,
                            [&] { storeFound = lookUpThroughStore(keys); }, [&] { floorFound = floor->lookups(keys); });
        if (storeFound != floorFound)
            std::printf("  (lookups disagree: %d vs %d found)\n", storeFound, floorFound);
    }
    const bool batch = wanted("batch"), single = wanted("single");
    if (!batch && !single) {
        table.print();
        return;
    }

    // 3. Edit and post contact rows, each followed by a journal row; every
    // run from the same cities.
    const int edits = qMin(100000, contacts);
    floor->keepCities(edits);
    const QString count = english.toString(edits);
    benchkit::Line* batched = batch ? &table.add(QString("%1 edits + journal rows, write batch").arg(count)) : nullptr;
    benchkit::Line* singly = single ? &table.add(QString("%1 edits + journal rows, one commit each").arg(count)) : nullptr;
    // On SQLite the journal row waits in an outbox of the changed file: the
    // same batched edits against a floor that pays for that too tell what the
    // outbox costs apart from what the store's own code costs.
    benchkit::Line* crashSafe =
        engine.onServer || !batch ? nullptr : &table.add(QString("%1 edits, write batch, vs crash-safe floor").arg(count));
    auto storeRun = [&] {
        if (batched) {
            batched->store.push_back(timedEdits(*floor, "store", edits, QStringLiteral("Batchton"),
                                                [&] { editThroughStore(edits, QStringLiteral("Batchton"), true); }));
            if (crashSafe)
                crashSafe->store.push_back(batched->store.back());
        }
        if (singly)
            singly->store.push_back(timedEdits(*floor, "store", edits, QStringLiteral("Singleton"),
                                               [&] { editThroughStore(edits, QStringLiteral("Singleton"), false); }));
    };
    auto floorRun = [&] {
        const double time = timedEdits(*floor, "floor", edits, QStringLiteral("Floorville"),
                                       [&] { floor->edit(edits, "Floorville"); });
        for (benchkit::Line* line : {batched, singly})
            if (line)
                line->floor.push_back(time);
        if (crashSafe)
            crashSafe->floor.push_back(timedEdits(*floor, "crash-safe floor", edits, QStringLiteral("Safeton"),
                                                  [&] { floor->editCrashSafe(edits, "Safeton"); }));
    };
    benchkit::alternate(repeat, storeRun, floorRun);
    floor->putCitiesBack();
    table.print();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"contacts", "Contact rows.", "n", "1000000"});
    parser.addOption({"only", "Only these parts, comma-separated: walk, lookups, batch, single (to profile one).", "parts"});
    benchkit::addEngineOptions(parser);
    benchkit::addRepeatOption(parser);
    parser.process(app);
    const int contacts = parser.value("contacts").toInt();

    try {
        const int repeat = benchkit::repeatFrom(parser);
        const benchkit::Engine engine = benchkit::engineFrom(parser);
        const benchkit::MachineNote machine;
        const benchkit::DropSchemaAtEnd dropSchema(engine);
        QTemporaryDir dir;
        demo::Options options;
        benchkit::useEngine(engine, options);
        options.root = dir.path();
        options.programDir = dir.path();
        options.users = 1000;
        options.databases = 100;
        options.contacts = contacts;
        options.events = 1000;
        std::printf("Making an installation: %d contacts, %d users x %d databases", options.contacts,
                    options.users, options.databases);
        if (engine.onServer)
            std::printf(" on the server, schema %s", qPrintable(engine.schema));
        std::printf(" ...\n");
        std::fflush(stdout);
        demo::Result made;
        const double installTime = benchkit::timed([&] { made = demo::install(options); });
        std::printf("  made in %.1f s\n\n", installTime);

        auto& session = store::Session::instance();
        session.setConfigPath(made.configPath);
        session.setNetFileDir(made.netDir);
        session.addPassword(catalogue::startupPasswordA());
        session.addPassword(catalogue::startupPasswordB());
        session.addPassword(catalogue::forceOffPassword());
        support::setJournalActive(support::journalFileExists());
        run(made, engine, contacts, repeat, parser.value("only").split(',', Qt::SkipEmptyParts));
        machine.print();
    } catch (const store::StoreError& e) {
        std::fprintf(stderr, "store error: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 2;
    }
    return 0;
}
