#include "testkit/TestInstall.h"

#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/Session.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "support/Messages.h"

#include <QFile>
#include <QTimeZone>
#include <QTimer>
#include <QtTest>

#include <sqlite3.h>

#include <ctime>
#include <memory>

using namespace support;

namespace {

// Every journal row, field name -> value (text; day count for date-times).
QList<QVariantMap> journalRows()
{
    QList<QVariantMap> rows;
    store::Table merge(catalogue::kAlias, catalogue::kMerge);
    merge.open();
    for (merge.first(); !merge.eof(); merge.next()) {
        QVariantMap row;
        for (int i = 0; i < merge.fieldCount(); ++i) {
            store::Field& f = merge.field(i);
            row[f.fieldName()] = f.dataType() == store::FieldType::DateTime ? QVariant(f.asDateTime())
                                                                             : QVariant(f.asString());
        }
        rows.append(row);
    }
    return rows;
}

// Another connection holding the write lock on merge.db, as another
// workstation in the middle of its own write would.
struct WriteLock {
    explicit WriteLock(const QString& path)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        held = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteLock() { release(); sqlite3_close(db); }
    void release()
    {
        if (held)
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        held = false;
    }
    sqlite3* db = nullptr;
    bool held = false;
};

} // namespace

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
    static std::unique_ptr<store::Table> openAtFirst(const QString& name)
    {
        auto table = std::make_unique<store::Table>(catalogue::kAlias, name);
        table->open();
        table->first();
        return table;
    }

private slots:
    void cleanup()
    {
        setJournalActive(false);
        m_install.reset();
    }

    void tableCodes()
    {
        const QList<QPair<const char*, int>> codes = {{"contact.db", 0}, {"perm", 10},      {"PERM.DB", 10},
                                                     {"Userpref", 12},  {"relate.db", 14}, {"USERSON.DB", 15},
                                                     {"merge", 15},     {"perm.px", 15}};
        for (const auto& [name, code] : codes)
            QCOMPARE(tablecode(QLatin1String(name)), code);
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

        const QList<QVariantMap> rows = journalRows();
        QCOMPARE(rows.size(), 2);
        const auto fields = [](const QVariantMap& row) {
            QStringList texts;
            for (const char* name : {"recno", "DB", "database", "action", "fieldname", "to", "memo", "who"})
                texts << row[QLatin1String(name)].toString();
            return texts.join(QLatin1Char('|'));
        };
        QCOMPARE(fields(rows[0]), QStringList({users->fieldByName(catalogue::fWho).asString(), "", "12", "0",
                                               "Fullname", users->fieldByName(catalogue::fFullName).asString(),
                                               "", ""}).join('|'));
        QCOMPARE(fields(rows[1]), QStringList({perm->fieldByName(catalogue::fSyncwellNo).asString(),
                                               perm->fieldByName(catalogue::fDb).asString(), "10", "2", "", "",
                                               "", ""}).join('|'));
        const double gmt = store::daysFromDateTime(fixed) + standardBiasMinutes() / 1440.0;
        for (const QVariantMap& row : rows) {
            QVERIFY(qAbs(row["dateGMT"].toDouble() - gmt) < 2e-8);
            QVERIFY(qAbs(row["time"].toDouble() - gmt) < 2e-8);
        }
        QVERIFY(script.shown().isEmpty());
    }

    void immediateRepeatDropped()
    {
        QVERIFY(setUp());
        auto perm = openAtFirst(catalogue::kPerm);
        journalrecord(*perm, ActionChanged);
        journalrecord(*perm, ActionChanged);
        QCOMPARE(journalRows().size(), 1);
        journalrecord(*perm, ActionAdded);
        journalrecord(*perm, ActionChanged); // the same change after a different one
        perm->next();
        journalrecord(*perm, ActionChanged); // another row
        QCOMPARE(journalRows().size(), 4);
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
        for (const QVariantMap& row : journalRows()) {
            to << row["to"].toString();
            memo << row["memo"].toString();
        }
        QCOMPARE(to.mid(0, 8), QStringList({"0", "", "", "True", "7", "44265", "0.333333333333333", "False"}));
        QCOMPARE(to.mid(8).join('|'), QString(255, QLatin1Char('a')) + QStringLiteral("|"));
        QCOMPARE(memo.mid(8).join('|'), QStringLiteral("|") + QString(256, QLatin1Char('a')));
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
        QVERIFY(journalRows().isEmpty());

        QVERIFY(setUp(false));
        QVERIFY(!journalActive());
        auto users = openAtFirst(catalogue::kUserPref);
        journalfield(*users, catalogue::fFullName, ActionField);
        journalrecord(*users, ActionChanged);
        QVERIFY(!QFile::exists(mergePath()));
        QVERIFY(script.shown().isEmpty());
    }

    void unreadableJournalSwitchesOff()
    {
        QVERIFY(setUp());
        QFile merge(mergePath());
        QVERIFY(merge.open(QIODevice::WriteOnly | QIODevice::Truncate));
        merge.write(QByteArray(4096, 'x'));
        merge.close();
        QFile::remove(mergePath() + QStringLiteral("-wal"));
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

    void busyJournalRetriedThenReported()
    {
        QVERIFY(setUp());
        MessageScript script;
        auto perm = openAtFirst(catalogue::kPerm);
        {
            // The other writer finishes during the retries; its timer only
            // runs because the retries keep processing events.
            WriteLock other(mergePath());
            QVERIFY(other.held);
            QTimer::singleShot(100, this, [&] { other.release(); });
            journalrecord(*perm, ActionChanged);
            QVERIFY(!other.held);
        }
        QCOMPARE(journalRows().size(), 1);
        QVERIFY(script.shown().isEmpty());

        perm->next();
        {
            WriteLock other(mergePath()); // held through all the attempts
            journalrecord(*perm, ActionChanged);
        }
        QCOMPARE(journalRows().size(), 1);
        QCOMPARE(script.shown().size(), 1);
        QCOMPARE(script.shown()[0].kind, BoxKind::Error);
        QVERIFY(script.texts()[0].contains(catalogue::kPerm));
        QVERIFY(script.texts()[0].contains(perm->fieldByName(catalogue::fSyncwellNo).asString()));
        QVERIFY(journalActive());
        // The lost row did not become the last-row signature.
        journalrecord(*perm, ActionChanged);
        QCOMPARE(journalRows().size(), 2);
    }
};

QTEST_MAIN(JournalTest)
#include "tst_journal.moc"
