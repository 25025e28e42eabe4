#include "store/DayCount.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace store;
using testkit::errorOf;

namespace {

const QString kAlias = QStringLiteral("NORDA");

TableDef userDbDef()
{
    return {QStringLiteral("USERDB.DB"),
            {{QStringLiteral("DB"), QStringLiteral("VARCHAR(8)")},
             {QStringLiteral("Who"), QStringLiteral("VARCHAR(3)")},
             {QStringLiteral("ntimes"), QStringLiteral("INTEGER")},
             {QStringLiteral("small"), QStringLiteral("SMALLINT")},
             {QStringLiteral("flag"), QStringLiteral("BOOLEAN")},
             {QStringLiteral("lastday"), QStringLiteral("DATE")},
             {QStringLiteral("lasttime"), QStringLiteral("TIME")},
             {QStringLiteral("stamp"), QStringLiteral("DATETIME")},
             {QStringLiteral("notes"), QStringLiteral("TEXT")}},
            {QStringLiteral("DB"), QStringLiteral("Who")}};
}

TableDef walkedDef(const QString& name)
{
    return {name, {{QStringLiteral("Who"), QStringLiteral("VARCHAR(3)")}, {QStringLiteral("n"), QStringLiteral("INTEGER")}}, {}};
}

void addRow(Table& t, const QString& db, const QString& who, int n)
{
    t.insert();
    t.fieldByName(QStringLiteral("db")).setAsString(db);
    t.fieldByName(QStringLiteral("WHO")).setAsString(who);
    t.fieldByName(QStringLiteral("ntimes")).setAsInteger(n);
    t.post();
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_data, m_net, m_config;
    std::unique_ptr<TestSchema> m_schema; // the tables' home on a server run

    void createTable(const TableDef& def, const QString& password = QString())
    {
        if (m_schema)
            m_schema->createTable(def, password);
        else
            createTableFile(m_data, def, password);
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        static int n = 0;
        const QString root = m_dir.filePath(QString::number(++n));
        m_data = root + QStringLiteral("/data");
        m_net = root + QStringLiteral("/net");
        QDir().mkpath(m_data);
        QDir().mkpath(m_net);
        m_config = root + QStringLiteral("/store.ini");
        m_schema.reset();
        if (TestInstall::onServer()) {
            m_schema = std::make_unique<TestSchema>();
            QVERIFY(m_schema->ok());
        }
        QFile f(m_config);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write((QStringLiteral("[NORDA]\n") + (m_schema ? m_schema->aliasLines(m_data) : QStringLiteral("PATH=%1\n").arg(m_data)))
                    .toUtf8());
        f.close();
        testkit::useStore(m_config, m_net, false);
        createTable(userDbDef());
    }
    void cleanupTestCase() { m_schema.reset(); }

    void walksInKeyOrderAndFindsKeys()
    {
        Table t(kAlias, QStringLiteral("userdb.DB"));
        t.open();
        QVERIFY(t.isEmpty() && t.eof());
        addRow(t, QStringLiteral("B"), QStringLiteral("ZZ"), 1);
        addRow(t, QStringLiteral("A"), QStringLiteral("YY"), 2);
        addRow(t, QStringLiteral("B"), QStringLiteral("AA"), 3);
        addRow(t, QStringLiteral("a"), QStringLiteral("AA"), 4); // binary order: capitals first
        QStringList seen;
        for (t.first(); !t.eof(); t.next())
            seen << t.fieldByName(QStringLiteral("DB")).asString() + t.fieldByName(QStringLiteral("who")).asString();
        QCOMPARE(seen, QStringList({"AYY", "BAA", "BZZ", "aAA"}));
        QCOMPARE(t.recordCount(), 4);

        QVERIFY(t.findKey({QStringLiteral("B"), QStringLiteral("ZZ")}));
        QCOMPARE(t.fieldByName(QStringLiteral("ntimes")).asInteger(), 1);
        QVERIFY(!t.findKey({QStringLiteral("b"), QStringLiteral("ZZ")}));
        QCOMPARE(t.fieldByName(QStringLiteral("ntimes")).asInteger(), 1); // stayed put
        t.next();
        QCOMPARE(t.fieldByName(QStringLiteral("DB")).asString(), QStringLiteral("a"));
        t.next();
        QVERIFY(t.eof());
        QCOMPARE(t.fieldByName(QStringLiteral("DB")).asString(), QStringLiteral("a")); // Eof keeps the last row
    }

    // The key's order differs from the column order: rows come in key order,
    // key searches take values in key order, and fields read their own
    // columns, whether every column is in the key or not.
    void keyOrderDiffersFromColumnOrder_data()
    {
        QTest::addColumn<bool>("withOtherField");
        QTest::newRow("key columns only") << false;
        QTest::newRow("key and other columns") << true;
    }
    void keyOrderDiffersFromColumnOrder()
    {
        QFETCH(bool, withOtherField);
        TableDef def{QStringLiteral("KEYED.DB"),
                     {{QStringLiteral("Who"), QStringLiteral("VARCHAR(3)")}, {QStringLiteral("DB"), QStringLiteral("VARCHAR(8)")}},
                     {QStringLiteral("DB"), QStringLiteral("Who")}};
        if (withOtherField)
            def.columns.append({QStringLiteral("n"), QStringLiteral("INTEGER")});
        createTable(def);
        {
            Table w(kAlias, def.name);
            w.open();
            int n = 0;
            for (const auto& [who, db] : QList<QPair<QString, QString>>{{"ZZ", "A"}, {"AA", "B"}, {"MM", "A"}}) {
                w.insert();
                w.fieldByName(QStringLiteral("Who")).setAsString(who);
                w.fieldByName(QStringLiteral("DB")).setAsString(db);
                if (withOtherField)
                    w.fieldByName(QStringLiteral("n")).setAsInteger(++n);
                w.post();
            }
        }
        // A fresh object reads key columns only at first.
        Table t(kAlias, def.name);
        t.open();
        QCOMPARE(t.keyFields(), QStringList({"DB", "Who"}));
        auto here = [&] {
            return t.fieldByName(QStringLiteral("DB")).asString() + QLatin1Char('/')
                   + t.fieldByName(QStringLiteral("Who")).asString();
        };
        QCOMPARE(here(), QStringLiteral("A/MM")); // where the open lands
        t.first();
        QCOMPARE(here(), QStringLiteral("A/MM"));
        QStringList seen;
        for (t.first(); !t.eof(); t.next())
            seen << here();
        QCOMPARE(seen, QStringList({"A/MM", "A/ZZ", "B/AA"}));

        Table f(kAlias, def.name);
        f.open();
        QVERIFY(f.findKey({QStringLiteral("B"), QStringLiteral("AA")}));
        QCOMPARE(f.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("AA"));
        QCOMPARE(f.fieldByName(QStringLiteral("DB")).asString(), QStringLiteral("B"));
        QVERIFY(!f.findKey({QStringLiteral("AA"), QStringLiteral("B")})); // column order finds nothing
        QVERIFY(f.findKey({QStringLiteral("A")}));                        // a leading part of the key
        QCOMPARE(f.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("MM"));
        f.next();
        QCOMPARE(f.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("ZZ"));
        if (withOtherField)
            QCOMPARE(f.fieldByName(QStringLiteral("n")).asInteger(), 1);
        // Editing a row read by key writes back to the right columns.
        f.edit();
        f.fieldByName(QStringLiteral("Who")).setAsString(QStringLiteral("YY"));
        f.post();
        QCOMPARE(testkit::column(def.name, QStringLiteral("Who")), QStringList({"MM", "YY", "AA"}));
        QCOMPARE(testkit::column(def.name, QStringLiteral("DB")), QStringList({"A", "A", "B"}));
    }

    // An empty text blanks a field of any type without an error; it reads as
    // 0, false or day 0, and is stored as NULL.
    void emptyTextStoresTheBlank()
    {
        Table t(kAlias, QStringLiteral("USERDB.DB"));
        t.open();
        t.insert();
        t.fieldByName(QStringLiteral("DB")).setAsString(QStringLiteral("A"));
        t.fieldByName(QStringLiteral("Who")).setAsString(QStringLiteral("AA"));
        t.fieldByName(QStringLiteral("ntimes")).setAsInteger(5);
        t.fieldByName(QStringLiteral("small")).setAsInteger(6);
        t.fieldByName(QStringLiteral("flag")).setAsBoolean(true);
        t.fieldByName(QStringLiteral("lastday")).setAsDateTime(36526);
        t.fieldByName(QStringLiteral("stamp")).setAsDateTime(36526.5);
        t.fieldByName(QStringLiteral("notes")).setAsString(QStringLiteral("text"));
        t.post();
        const QStringList blanked = {"ntimes", "small", "flag", "lastday", "stamp", "notes"};
        t.edit();
        for (const QString& name : blanked)
            QVERIFY2(errorOf([&] { t.fieldByName(name).setAsString(QString()); }).isEmpty(), qPrintable(name));
        t.post();
        Table fresh(kAlias, QStringLiteral("USERDB.DB"));
        fresh.open();
        QVERIFY(fresh.findKey({QStringLiteral("A"), QStringLiteral("AA")}));
        for (const QString& name : blanked)
            QVERIFY2(fresh.fieldByName(name).isNull(), qPrintable(name));
        QCOMPARE(fresh.fieldByName(QStringLiteral("ntimes")).asInteger(), 0);
        QCOMPARE(fresh.fieldByName(QStringLiteral("small")).asInteger(), 0);
        QCOMPARE(fresh.fieldByName(QStringLiteral("flag")).asBoolean(), false);
        QCOMPARE(fresh.fieldByName(QStringLiteral("lastday")).asDateTime(), 0.0);
        QCOMPARE(fresh.fieldByName(QStringLiteral("notes")).asString(), QString());
        testkit::RawDb raw(m_data + QStringLiteral("/userdb.db"));
        QCOMPARE(raw.text(QStringLiteral("SELECT count(*) FROM userdb WHERE ntimes IS NULL AND small IS NULL AND flag "
                                         "IS NULL AND lastday IS NULL AND stamp IS NULL AND notes IS NULL")),
                 QStringLiteral("1"));
    }

    // A key that exists already is refused without costing the batch the
    // rows it wrote before and after.
    void keyViolationInABatchKeepsTheBatch()
    {
        Table t(kAlias, QStringLiteral("USERDB.DB"));
        t.open();
        {
            WriteBatch batch;
            addRow(t, QStringLiteral("A"), QStringLiteral("AA"), 1);
            const QString error = errorOf([&] { addRow(t, QStringLiteral("A"), QStringLiteral("AA"), 2); });
            QVERIFY2(error.contains(QLatin1String("Key violation")), qPrintable(error));
            t.cancel();
            addRow(t, QStringLiteral("B"), QStringLiteral("BB"), 3);
        }
        Table fresh(kAlias, QStringLiteral("USERDB.DB"));
        fresh.open();
        QStringList seen;
        for (fresh.first(); !fresh.eof(); fresh.next())
            seen << fresh.fieldByName(QStringLiteral("DB")).asString() + fresh.fieldByName(QStringLiteral("ntimes")).asString();
        QCOMPARE(seen, QStringList({"A1", "B3"}));
    }

    // Edit during an insert keeps the insert: the post adds the row.
    void editWhileInsertingStillAdds()
    {
        Table t(kAlias, QStringLiteral("USERDB.DB"));
        t.open();
        addRow(t, QStringLiteral("A"), QStringLiteral("AA"), 1);
        t.insert();
        t.fieldByName(QStringLiteral("DB")).setAsString(QStringLiteral("B"));
        t.edit();
        QCOMPARE(t.state(), TableState::Insert);
        QCOMPARE(t.fieldByName(QStringLiteral("DB")).asString(), QStringLiteral("B"));
        t.fieldByName(QStringLiteral("Who")).setAsString(QStringLiteral("BB"));
        t.post();
        QCOMPARE(t.recordCount(), 2);
        QVERIFY(t.findKey({QStringLiteral("A"), QStringLiteral("AA")}));
        QCOMPARE(t.fieldByName(QStringLiteral("ntimes")).asInteger(), 1); // the first row untouched
        QVERIFY(t.findKey({QStringLiteral("B"), QStringLiteral("BB")}));
    }

    void walksAcrossManyRowsAndDeletesWhileWalking()
    {
        Table t(kAlias, QStringLiteral("USERDB.DB"));
        t.open();
        {
            WriteBatch batch;
            for (int i = 0; i < 3000; ++i)
                addRow(t, QStringLiteral("D%1").arg(i / 100, 2, 10, QLatin1Char('0')),
                       QStringLiteral("%1").arg(i % 100, 3, 10, QLatin1Char('0')), i);
        }
        // Delete every row whose user ends in 7, the way a user's rows are
        // removed: delete leaves the cursor on the next row.
        int visited = 0;
        t.first();
        while (!t.eof()) {
            ++visited;
            if (t.fieldByName(QStringLiteral("Who")).asString().endsWith(QLatin1Char('7')))
                t.deleteRecord();
            else
                t.next();
        }
        QCOMPARE(visited, 3000);
        QCOMPARE(t.recordCount(), 2700);
        int count = 0;
        qint64 sum = 0;
        for (t.first(); !t.eof(); t.next()) {
            ++count;
            sum += t.fieldByName(QStringLiteral("ntimes")).asInteger();
            QVERIFY(!t.fieldByName(QStringLiteral("Who")).asString().endsWith(QLatin1Char('7')));
        }
        QCOMPARE(count, 2700);
        // The first walk read only key fields; this one switched to whole
        // rows part-way through a window and must still see every value.
        qint64 expected = 0;
        for (int i = 0; i < 3000; ++i)
            if (i % 10 != 7)
                expected += i;
        QCOMPARE(sum, expected);
        // A row another object deleted after it was read keeps its key, and
        // its other fields read as blank.
        Table other(kAlias, QStringLiteral("USERDB.DB"));
        other.open();
        QVERIFY(other.findKey({QStringLiteral("D05"), QStringLiteral("003")}));
        other.deleteRecord();
        Table fresh(kAlias, QStringLiteral("USERDB.DB"));
        fresh.open();
        QVERIFY(fresh.findKey({QStringLiteral("D05"), QStringLiteral("004")}));
        other.findKey({QStringLiteral("D05"), QStringLiteral("004")});
        other.deleteRecord();
        QCOMPARE(fresh.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("004"));
        QVERIFY(fresh.fieldByName(QStringLiteral("ntimes")).isNull());
        // Deleting the very last row leaves Eof set.
        QVERIFY(t.findKey({QStringLiteral("D29"), QStringLiteral("099")}));
        t.deleteRecord();
        QVERIFY(t.eof());
        QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("098"));
    }

    void rowStatesHooksAndAutomaticPost()
    {
        Table t(kAlias, QStringLiteral("USERDB"));
        QStringList calls;
        t.onNewRecord = [&](Table& tb) {
            calls << QStringLiteral("new:%1").arg(int(tb.state()));
            tb.fieldByName(QStringLiteral("notes")).setAsString(QStringLiteral("default"));
        };
        t.beforePost = [&](Table& tb) { calls << QStringLiteral("post:%1").arg(int(tb.state())); };
        t.beforeDelete = [&](Table& tb) { calls << QStringLiteral("delete:") + tb.fieldByName(QStringLiteral("Who")).asString(); };
        t.open();
        QCOMPARE(t.state(), TableState::Browse);
        addRow(t, QStringLiteral("A"), QStringLiteral("AA"), 1);
        QCOMPARE(calls, QStringList({"new:3", "post:3"}));
        QCOMPARE(t.fieldByName(QStringLiteral("notes")).asString(), QStringLiteral("default"));

        // Cancel of an insert leaves no row; cancel of an edit restores.
        t.insert();
        t.fieldByName(QStringLiteral("DB")).setAsString(QStringLiteral("Z"));
        t.cancel();
        QCOMPARE(t.recordCount(), 1);
        QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("AA"));
        t.edit();
        t.fieldByName(QStringLiteral("ntimes")).setAsInteger(99);
        QCOMPARE(t.fieldByName(QStringLiteral("ntimes")).asInteger(), 99);
        t.cancel();
        QCOMPARE(t.fieldByName(QStringLiteral("ntimes")).asInteger(), 1);

        // Writing outside edit state is refused.
        QVERIFY(errorOf([&] { t.fieldByName(QStringLiteral("ntimes")).setAsInteger(5); }).contains(QLatin1String("ntimes")));

        // Moving posts a pending edit; closing drops it.
        addRow(t, QStringLiteral("B"), QStringLiteral("BB"), 2);
        t.findKey({QStringLiteral("A"), QStringLiteral("AA")});
        t.edit();
        t.fieldByName(QStringLiteral("ntimes")).setAsInteger(11);
        t.next();
        QCOMPARE(t.state(), TableState::Browse);
        t.edit();
        t.fieldByName(QStringLiteral("ntimes")).setAsInteger(22);
        t.close();
        t.open();
        QVERIFY(t.findKey({QStringLiteral("A"), QStringLiteral("AA")}));
        QCOMPARE(t.fieldByName(QStringLiteral("ntimes")).asInteger(), 11);
        QVERIFY(t.findKey({QStringLiteral("B"), QStringLiteral("BB")}));
        QCOMPARE(t.fieldByName(QStringLiteral("ntimes")).asInteger(), 2);

        // A key violation names the table, and the row keeps its values.
        t.insert();
        t.fieldByName(QStringLiteral("DB")).setAsString(QStringLiteral("A"));
        t.fieldByName(QStringLiteral("Who")).setAsString(QStringLiteral("AA"));
        const QString error = errorOf([&] { t.post(); });
        QVERIFY2(error.contains(QLatin1String("USERDB")) && error.contains(QLatin1String("key")), qPrintable(error));
        QCOMPARE(t.state(), TableState::Insert);
        QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("AA"));
        t.cancel();

        calls.clear();
        t.findKey({QStringLiteral("A"), QStringLiteral("AA")});
        t.deleteRecord();
        QCOMPARE(calls, QStringList({"delete:AA"}));
        QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("BB"));
    }

    void valuesKeepTheirKindsAndStoredForms()
    {
        Table t(kAlias, QStringLiteral("USERDB.DB"));
        t.open();
        t.insert();
        t.fieldByName(QStringLiteral("DB")).setAsString(QStringLiteral("A"));
        t.fieldByName(QStringLiteral("Who")).setAsString(QStringLiteral("AA"));
        t.fieldByName(QStringLiteral("flag")).setAsBoolean(true);
        t.fieldByName(QStringLiteral("lastday")).setAsDateTime(36526.75); // time dropped from a date
        t.fieldByName(QStringLiteral("lasttime")).setAsDateTime(0.5);
        t.fieldByName(QStringLiteral("stamp")).setAsDateTime(44265.25);
        t.fieldByName(QStringLiteral("notes")).setAsString(QString(1000, QLatin1Char('x')));
        QVERIFY(!errorOf([&] { t.fieldByName(QStringLiteral("small")).setAsInteger(40000); }).isEmpty());
        const QString tooLong = errorOf([&] { t.fieldByName(QStringLiteral("Who")).setAsString(QStringLiteral("ABCD")); });
        QVERIFY2(tooLong.contains(QLatin1String("Who")) && tooLong.contains(QLatin1String("USERDB")), qPrintable(tooLong));
        t.post();
        QCOMPARE(t.fieldByName(QStringLiteral("flag")).asString(), QStringLiteral("True"));
        QCOMPARE(t.fieldByName(QStringLiteral("lastday")).asDateTime(), 36526.0);
        QCOMPARE(t.fieldByName(QStringLiteral("lasttime")).asDateTime(), 0.5);
        QCOMPARE(t.fieldByName(QStringLiteral("stamp")).asDateTime(), 44265.25);
        QCOMPARE(t.fieldByName(QStringLiteral("notes")).asString().size(), 1000);
        QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), QStringLiteral("AA"));
        // Readable by any SQLite tool.
        testkit::RawDb raw(m_data + QStringLiteral("/userdb.db"));
        QCOMPARE(raw.text(QStringLiteral("SELECT lastday FROM userdb")), QStringLiteral("2000-01-01"));
        QCOMPARE(raw.text(QStringLiteral("SELECT lasttime FROM userdb")), QStringLiteral("12:00:00.000"));
        QCOMPARE(raw.text(QStringLiteral("SELECT stamp FROM userdb")), QStringLiteral("2021-03-10 06:00:00.000"));
        QCOMPARE(raw.text(QStringLiteral("SELECT flag FROM userdb")), QStringLiteral("1"));
        // Day counts before the epoch keep their time of day.
        QCOMPARE(daysFromDateTime(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
        QCOMPARE(dateTimeFromDays(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    }

    void filterValuesAreData()
    {
        Table t(kAlias, QStringLiteral("USERDB.DB"));
        t.open();
        const QStringList tricky = {QStringLiteral("a\"b"), QStringLiteral("x'"), QStringLiteral("\\"),
                                    QStringLiteral("';-"), QStringLiteral("%")};
        for (int i = 0; i < tricky.size(); ++i)
            addRow(t, QStringLiteral("D"), tricky[i], i);
        addRow(t, QStringLiteral("DROP"), QStringLiteral("ZZ"), 9);
        for (const QString& who : tricky) {
            t.setFilterLines({QStringLiteral("Who = \"%1\"").arg(who), QStringLiteral("DB = \"D\"")});
            QCOMPARE(t.recordCount(), 1);
            QCOMPARE(t.fieldByName(QStringLiteral("Who")).asString(), who);
        }
        t.setFilterLines({QStringLiteral("DB = \"DROP TABLE userdb; --\"")});
        QVERIFY(t.isEmpty());
        t.setFilterLines({});
        QCOMPARE(t.recordCount(), 6);
        QVERIFY(errorOf([&] { t.setFilterLines({QStringLiteral("Nope = \"1\"")}); }).contains(QLatin1String("Nope")));
    }

    void badInputsGiveClearErrors()
    {
        if (!m_schema)
            junkFileIsRefused();
        Table missing(kAlias, QStringLiteral("MISSING.DB"));
        QString error = errorOf([&] { missing.open(); });
        QVERIFY2(error.contains(QLatin1String("MISSING.DB")) && error.contains(QLatin1String("does not exist")),
                 qPrintable(error));
        QVERIFY(!QFile::exists(m_data + QStringLiteral("/missing.db")));
        badInputsOnAnOpenTable();
    }

private:
    // A file of random bytes is refused and left as it was.
    void junkFileIsRefused()
    {
        const QString junkPath = m_data + QStringLiteral("/junk.db");
        QByteArray junk;
        for (int i = 0; i < 8192; ++i)
            junk.append(char((i * 7919 + 13) % 251));
        QFile f(junkPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(junk);
        f.close();
        Table j(kAlias, QStringLiteral("JUNK.DB"));
        QString error = errorOf([&] { j.open(); });
        QVERIFY2(error.contains(QLatin1String("JUNK.DB")) && error.contains(QLatin1String("not a valid table file")),
                 qPrintable(error));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), junk);
        f.close();
    }

    void badInputsOnAnOpenTable()
    {
        Table t(kAlias, QStringLiteral("USERDB.DB"));
        t.open();
        QString error = errorOf([&] { t.fieldByName(QStringLiteral("nofield")); });
        QVERIFY(error.contains(QLatin1String("nofield")) && error.contains(QLatin1String("USERDB.DB")));
        t.close();

        // Passwords: missing or wrong passwords refuse the table.
        createTable(walkedDef(QStringLiteral("SECRET.DB")), QStringLiteral("open sesame"));
        Table s(kAlias, QStringLiteral("SECRET.DB"));
        error = errorOf([&] { s.open(); });
        QVERIFY2(error.contains(QLatin1String("SECRET.DB")) && error.contains(QLatin1String("password")), qPrintable(error));
        Session::instance().addPassword(QStringLiteral("wrong"));
        QVERIFY(!errorOf([&] { s.open(); }).isEmpty());
        Session::instance().addPassword(QStringLiteral("open sesame"));
        s.open();
        QVERIFY(s.active());
        s.close();

        // No usable network control directory: nothing opens.
        Session::instance().setNetFileDir(m_net + QStringLiteral("/nowhere"));
        error = errorOf([&] { t.open(); });
        QVERIFY2(error.contains(QLatin1String("network control directory")), qPrintable(error));
        Session::instance().setNetFileDir(QString());
        QVERIFY(!errorOf([&] { t.open(); }).isEmpty());
        QVERIFY(!t.active());
    }

private slots:
    void valuesWrittenByAnotherProgram()
    {
        if (m_schema)
            QSKIP("a server keeps every column to its type and every key field filled");
        // Another program writes what it likes: SQLite keeps text in typed
        // columns, dates that do not exist, numbers far out of range, texts
        // longer than their declared size and blank key fields.
        {
            testkit::RawDb raw(m_data + QStringLiteral("/userdb.db"));
            QVERIFY(raw.exec(QStringLiteral(
                "INSERT INTO USERDB (DB, Who, ntimes, small, flag, lastday, lasttime, stamp, notes) VALUES "
                "('D1', 'ABCDEFG', 'many', 5e9, 'maybe', '2023-02-30', 'noon', 1e300, 'kept'),"
                "('D2', 'X', 5000000000, 7, 'yes', 1e300, 0.5, '2024-01-02 03:04:05', NULL)")));
        }
        Table t(kAlias, QStringLiteral("USERDB.DB"));
        t.open();
        QVERIFY(t.findKey({QStringLiteral("D1"), QStringLiteral("ABCDEFG")}));
        auto field = [&](const char* name) -> Field& { return t.fieldByName(QLatin1String(name)); };

        // A wrong value is an error naming the table, the field and the row...
        const QString many = errorOf([&] { field("ntimes").asInteger(); });
        QVERIFY2(many.contains(QLatin1String("USERDB.DB")) && many.contains(QLatin1String("ntimes"))
                     && many.contains(QLatin1String("D1, ABCDEFG")) && many.contains(QLatin1String("\"many\"")),
                 qPrintable(many));
        QVERIFY(errorOf([&] { field("flag").asBoolean(); }).contains(QLatin1String("flag of the row with key D1")));
        QVERIFY(errorOf([&] { field("lastday").asDateTime(); }).contains(QLatin1String("not a valid date")));
        QVERIFY(errorOf([&] { field("lasttime").asDateTime(); }).contains(QLatin1String("not a valid time")));
        QVERIFY(errorOf([&] { field("stamp").asDateTime(); }).contains(QLatin1String("stamp")));
        QVERIFY(errorOf([&] { field("small").asInteger(); }).contains(QLatin1String("too large")));
        // ...while the text of the field shows what is stored, in full.
        QCOMPARE(field("flag").asString(), QStringLiteral("maybe"));
        QCOMPARE(field("lastday").asString(), QStringLiteral("2023-02-30"));
        QCOMPARE(field("who").asString(), QStringLiteral("ABCDEFG"));
        QCOMPARE(field("small").asLargeInt(), Q_INT64_C(5000000000));

        // A row with a wrong value elsewhere is edited and saved without
        // losing the over-long text.
        t.edit();
        field("notes").setAsString(QStringLiteral("seen"));
        t.post();
        QCOMPARE(testkit::findRow(QStringLiteral("USERDB.DB"), QStringLiteral("notes"), QStringLiteral("seen"))
                     .value(QStringLiteral("who")).toString(), QStringLiteral("ABCDEFG"));

        // Day counts beyond any calendar neither read nor write as dates.
        QVERIFY(t.findKey({QStringLiteral("D2"), QStringLiteral("X")}));
        QVERIFY(field("flag").asBoolean());
        QVERIFY(errorOf([&] { field("lastday").asDateTime(); }).contains(QLatin1String("D2, X")));
        QVERIFY(errorOf([&] { field("ntimes").asInteger(); }).contains(QLatin1String("too large")));
        QCOMPARE(field("lasttime").asString(), QStringLiteral("12:00:00"));
        t.edit();
        QVERIFY(errorOf([&] { field("lastday").setAsDateTime(1e300); }).contains(QLatin1String("lastday")));
        t.cancel();
        t.close();

        // A blank key field reads as blank, and its row by number.
        {
            testkit::RawDb raw(m_data + QStringLiteral("/blank.db"));
            QVERIFY(raw.exec(QStringLiteral("CREATE TABLE blank (k VARCHAR(3), n INTEGER, PRIMARY KEY (k))")));
            QVERIFY(raw.exec(QStringLiteral("INSERT INTO blank VALUES (NULL, 'one')")));
        }
        Table b(kAlias, QStringLiteral("BLANK.DB"));
        b.open();
        QCOMPARE(b.recordCount(), 1);
        QCOMPARE(b.fieldByName(QStringLiteral("k")).asString(), QString());
        QVERIFY(errorOf([&] { b.fieldByName(QStringLiteral("n")).asInteger(); }).contains(QLatin1String("row number 1")));
    }

    void locksHoldBetweenProcesses()
    {
        const QString name = QStringLiteral("CONTACT.DB");
        createTable(walkedDef(name));
        testkit::OtherProgram other(m_config, m_net);
        QVERIFY(other.hold(name));

        Table exclusive(kAlias, name);
        exclusive.setExclusive(true);
        QVERIFY(errorOf([&] { exclusive.open(); }).contains(QLatin1String("exclusive")));
        Table shared1(kAlias, name);
        Table shared2(kAlias, QStringLiteral("contact"));
        shared1.open();
        shared2.open(); // this program's own objects never block each other

        other.release();
        exclusive.open(); // alone now (our own shared objects do not count)
        QVERIFY(exclusive.active());
        QVERIFY(other.tryOpen(name).startsWith("failed"));
        exclusive.close();
        QVERIFY(other.canOpen(name));
        // Shared objects keep their lock: an exclusive open elsewhere fails.
        QVERIFY(other.tryOpen(name, true).startsWith("failed"));
        shared1.close();
        shared2.close();
        QVERIFY(other.canOpen(name, true));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
