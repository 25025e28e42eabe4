#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"

#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/DayCount.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "support/Messages.h"

#include <QFile>
#include <QTimeZone>
#include <QtTest>

#include <ctime>
#include <memory>

using namespace support;
using testkit::openAtFirst;

using testkit::JournalEntry;
using testkit::journalEntries;

class JournalTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestInstall> m_install;

    bool setUp(bool withJournal = true)
    {
        demo::Options options = TestInstall::smallOptions();
        options.journal = withJournal;
        m_install.reset(); // its destructor resets the store
        m_install = std::make_unique<TestInstall>(options);
        store::Session::instance().setBusyTimeout(0); // each busy attempt fails at once
        resetJournal();
        setJournalActive(journalFileExists()); // as the main window does
        return m_install->ok();
    }
    QString mergePath() const { return m_install->dataDir() + QStringLiteral("/merge.db"); }

private slots:
    void cleanup()
    {
        setJournalActive(false);
        m_install.reset();
    }

    void tableCodes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        const char* const names[] = {"contact", "event", "database", "actions", "steps",
                                     "plan",    "holiday", "messages", "phonemsg", "popup",
                                     "perm",    "filesdb", "userpref", "userdb", "relate"};
        for (int code = 0; code < 15; ++code) {
            const QString base = QLatin1String(names[code]);
            const QString mixed = base.left(1).toUpper() + base.mid(1);
            for (const QString& name : {base, base.toUpper(), base + QStringLiteral(".db"),
                                        base.toUpper() + QStringLiteral(".DB"), mixed + QStringLiteral(".Db")})
                QTest::newRow(qPrintable(name)) << name << code;
        }
        for (const char* other : {"USERSON.DB", "merge", "settings", "perm.px", "perm.db.db", "permdb", " perm",
                                  "contacts", "", ".DB"})
            QTest::newRow(qPrintable(QStringLiteral("other '%1'").arg(QLatin1String(other))))
                << QString::fromLatin1(other) << 15;
    }
    void tableCodes()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(tablecode(name), code);
    }

    void gmtUsesStandardBiasOnly()
    {
        if (!QTimeZone(QByteArrayLiteral("America/New_York")).isValid())
            QSKIP("no time zone data on this system");
        const QByteArray savedTz = qgetenv("TZ");
        qputenv("TZ", "America/New_York");
        tzset();
        const QDateTime summer(QDate(2021, 7, 15), QTime(12, 0)); // daylight-saving time
        ClockOverride clock(summer);
        const double gmt = gmtnow();
        savedTz.isNull() ? qunsetenv("TZ") : qputenv("TZ", savedTz);
        tzset();
        QCOMPARE(gmt, store::daysFromDateTime(summer) + 300 / 1440.0);
    }

    void rowContents()
    {
        QVERIFY(setUp());
        const QDateTime fixed(QDate(2021, 3, 10), QTime(14, 30, 15, 500));
        ClockOverride clock(fixed);
        MessageScript script;
        auto users = openAtFirst(catalogue::kUserPref);
        auto perm = openAtFirst(catalogue::kPerm);
        perm->next();

        journalfield(*users, QStringLiteral("Fullname"), ActionField); // spelled as the caller does
        journalrecord(*perm, ActionAdded);

        const QList<JournalEntry> rows = journalEntries();
        QCOMPARE(rows.size(), 2);
        const auto fields = [](const JournalEntry& e) {
            return QStringList{e.recno, e.db, QString::number(e.table), QString::number(e.action), e.fieldname, e.to,
                               e.memo, e.who};
        };
        QCOMPARE(fields(rows[0]), QStringList({users->fieldByName(catalogue::fWho).asString(), "", "12", "0",
                                               "Fullname", users->fieldByName(catalogue::fFullName).asString(),
                                               "", ""}));
        QCOMPARE(fields(rows[1]), QStringList({perm->fieldByName(catalogue::fSyncwellNo).asString(),
                                               perm->fieldByName(catalogue::fDb).asString(), "10", "2", "", "",
                                               "", ""}));
        const double gmt = store::daysFromDateTime(fixed) + standardBiasMinutes() / 1440.0;
        for (const JournalEntry& row : rows) {
            QVERIFY(qAbs(row.dateGmt - gmt) < 2e-8);
            QVERIFY(qAbs(row.time - gmt) < 2e-8);
        }
        QVERIFY(script.shown().isEmpty());
    }

    void immediateRepeatDropped()
    {
        QVERIFY(setUp());
        auto perm = openAtFirst(catalogue::kPerm);
        journalrecord(*perm, ActionChanged);
        journalrecord(*perm, ActionChanged);
        QCOMPARE(journalEntries().size(), 1);
        journalrecord(*perm, ActionAdded);
        journalrecord(*perm, ActionChanged); // the same change after a different one
        perm->next();
        journalrecord(*perm, ActionChanged); // another row
        QCOMPARE(journalEntries().size(), 4);
    }

    void valueTexts()
    {
        QVERIFY(setUp());
        auto userDb = openAtFirst(catalogue::kUserDb);
        const QStringList fields = {"ntimes", "datelastlogin", "timelastlogin", "ShowGridLines"};
        auto journalAll = [&](const QVariantList& values) {
            userDb->edit();
            for (int i = 0; i < fields.size(); ++i)
                values[i].isNull() ? userDb->fieldByName(fields[i]).clear()
                                   : userDb->fieldByName(fields[i]).setValue(values[i]);
            userDb->post();
            for (const QString& name : fields)
                journalfield(*userDb, name, ActionField);
        };
        journalAll({QVariant(), QVariant(), QVariant(), true});
        journalAll({7, store::daysFromDate(QDate(2021, 3, 10)), store::daysFromTime(QTime(8, 0)), false});
        auto users = openAtFirst(catalogue::kUserPref); // a memo field takes the long texts
        for (int length : {255, 256}) {
            users->edit();
            users->fieldByName(QStringLiteral("ReturnAddress")).setAsString(QString(length, QLatin1Char('a')));
            users->post();
            journalfield(*users, QStringLiteral("ReturnAddress"), ActionField);
        }
        QStringList to, memo;
        for (const JournalEntry& row : journalEntries()) {
            to << row.to;
            memo << row.memo;
        }
        QCOMPARE(to.mid(0, 8), QStringList({"0", "", "", "True", "7", "44265", "0.333333333333333", "False"}));
        QCOMPARE(to.mid(8).join('|'), QString(255, QLatin1Char('a')) + QStringLiteral("|"));
        QCOMPARE(memo.mid(8).join('|'), QStringLiteral("|") + QString(256, QLatin1Char('a')));
    }

    // In a write batch, as the bulk commands write: a value of 255
    // characters goes to "to" and one of 256 to "memo", as merge stores them
    // once the batch has moved its rows.
    void valueTextsInABatch()
    {
        QVERIFY(setUp());
        auto users = openAtFirst(catalogue::kUserPref);
        {
            store::WriteBatch batch;
            for (int length : {255, 256}) {
                users->edit();
                users->fieldByName(QStringLiteral("ReturnAddress")).setAsString(QString(length, QLatin1Char('b')));
                store::ChangeUnit unit(*users);
                users->post();
                journalfield(*users, QStringLiteral("ReturnAddress"), ActionField);
                unit.commit();
            }
        }
        testkit::RawDb merge(mergePath());
        QCOMPARE(merge.column(QStringLiteral("SELECT coalesce(length(\"to\"), 0) || '/' || coalesce(length(memo), 0) "
                                             "FROM merge ORDER BY rowid")),
                 (QStringList{QStringLiteral("255/0"), QStringLiteral("0/256")}));
    }

    // Key, field name and DB texts are cut to what the journal's columns hold.
    void longTextsAreCut()
    {
        QVERIFY(setUp());
        const QString longName = QStringLiteral("AFieldNameMuchLongerThanFortyCharactersXYZ");
        m_install->createTable(
                               {QStringLiteral("POPUP.DB"),
                                {{catalogue::fSyncwellNo, QStringLiteral("VARCHAR(40)")},
                                 {catalogue::fDb, QStringLiteral("VARCHAR(20)")},
                                 {longName, QStringLiteral("INTEGER")}},
                                {catalogue::fSyncwellNo}});
        const QString key = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
        testkit::addRow(QStringLiteral("POPUP.DB"),
                        {{catalogue::fSyncwellNo, key}, {catalogue::fDb, QStringLiteral("DATABASE12")}, {longName, 7}});
        MessageScript script;
        auto popup = openAtFirst(QStringLiteral("POPUP.DB"));
        journalfield(*popup, longName, ActionField);
        const QList<JournalEntry> rows = journalEntries();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].recno, key.left(25));
        QCOMPARE(rows[0].fieldname, longName.left(40));
        QCOMPARE(rows[0].db, QStringLiteral("DATABASE"));
        QCOMPARE(rows[0].to, QStringLiteral("7"));
        QCOMPARE(rows[0].table, 9);
        QVERIFY(script.shown().isEmpty());
    }

    // A journalled table written without its key field (or its DB field)
    // gives an error naming the table and the field; nothing is written and
    // the journal stays usable.
    void tableWithoutKeyFieldGivesClearError_data()
    {
        QTest::addColumn<QString>("tableName");
        QTest::addColumn<QString>("missingField");
        QTest::newRow("no key") << QStringLiteral("RELATE.DB") << QStringLiteral("recno");
        QTest::newRow("no DB") << QStringLiteral("FILESDB.DB") << catalogue::fDb;
    }
    void tableWithoutKeyFieldGivesClearError()
    {
        QFETCH(QString, tableName);
        QFETCH(QString, missingField);
        QVERIFY(setUp());
        m_install->createTable(
                               {tableName,
                                {{catalogue::fSyncwellNo, QStringLiteral("VARCHAR(20)")},
                                 {QStringLiteral("n"), QStringLiteral("INTEGER")}},
                                {catalogue::fSyncwellNo}});
        testkit::addRow(tableName, {{catalogue::fSyncwellNo, QStringLiteral("K1")}, {QStringLiteral("n"), 1}});
        MessageScript script;
        auto table = openAtFirst(tableName);
        for (int call = 0; call < 2; ++call) {
            QString error;
            try {
                call == 0 ? journalrecord(*table, ActionChanged) : journalfield(*table, QStringLiteral("n"), ActionField);
            } catch (const store::StoreError& e) {
                error = e.message();
            }
            QVERIFY2(error.contains(tableName) && error.contains(missingField), qPrintable(error));
        }
        QVERIFY(journalEntries().isEmpty());
        QVERIFY(journalActive());
        auto perm = openAtFirst(catalogue::kPerm);
        journalrecord(*perm, ActionChanged);
        QCOMPARE(journalEntries().size(), 1);
    }

    void otherTablesAndMissingJournalWriteNothing()
    {
        QVERIFY(setUp());
        MessageScript script;
        for (const QString& name : {catalogue::kUsersOn, catalogue::kSettings}) {
            auto table = openAtFirst(name);
            journalrecord(*table, ActionChanged);
            journalfield(*table, table->field(0).fieldName(), ActionField);
        }
        QVERIFY(journalEntries().isEmpty());

        QVERIFY(setUp(false));
        QVERIFY(!journalActive());
        auto users = openAtFirst(catalogue::kUserPref);
        journalfield(*users, catalogue::fFullName, ActionField);
        journalrecord(*users, ActionChanged);
        QVERIFY(!store::tableExists(catalogue::kAlias, catalogue::kMerge));
        QVERIFY(script.shown().isEmpty());
    }

    void unreadableJournalSwitchesOff()
    {
        QVERIFY(setUp());
        if (m_install->onServer()) {
            // A journal table the store cannot use.
            testkit::RawDb other(mergePath());
            QVERIFY(other.exec(QStringLiteral("ALTER TABLE merge RENAME COLUMN rowid TO other_rowid")));
        } else {
            QFile merge(mergePath());
            QVERIFY(merge.open(QIODevice::WriteOnly | QIODevice::Truncate));
            merge.write(QByteArray(4096, 'x'));
            merge.close();
            QFile::remove(mergePath() + QStringLiteral("-wal"));
        }
        QVERIFY(journalActive());

        MessageScript script;
        auto perm = openAtFirst(catalogue::kPerm);
        journalrecord(*perm, ActionChanged);
        QCOMPARE(script.texts(), QStringList(QStringLiteral("preparetable() unable to open the merge.db, Either "
                                                            "merge.db requires repair or re-install of syncwell")));
        QCOMPARE(script.shown()[0].kind, BoxKind::Error);
        QVERIFY(!journalActive());
        perm->next();
        journalrecord(*perm, ActionChanged); // silent for the rest of the run
        QCOMPARE(script.shown().size(), 1);
    }
};

QTEST_MAIN(JournalTest)
#include "tst_journal.moc"
