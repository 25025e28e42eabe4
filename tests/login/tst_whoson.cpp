// The who's-on list on real rows: the latest-database rule with its ties and
// empty rows, the Duration texts with the clock fixed, the single pass
// against the per-log-in scan, the window's refresh when another program
// logs in, and printing to a PDF file.

#include "login/WhosOnLines.h"
#include "login/Whoson.h"
#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Clock.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "testkit/WorkstationProcess.h"

#include <QHeaderView>
#include <QLocale>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QPageSize>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace login;

namespace {

const QDateTime kNow(QDate(2024, 3, 13), QTime(15, 30, 20));

void logIn(const QString& who)
{
    testkit::addRow(catalogue::kUsersOn, {{"Who", who}, {"DB", "MAIN"}});
}

void entry(const QString& who, const QString& db, const QDate& date, const QTime& time, int times)
{
    QVariantMap row{{"Who", who}, {"DB", db}, {"ntimes", times}};
    if (date.isValid())
        row.insert("datelastlogin", store::daysFromDate(date));
    if (time.isValid())
        row.insert("timelastlogin", store::daysFromTime(time));
    testkit::addRow(catalogue::kUserDb, row);
}

QString since(const QDate& date, const QTime& time)
{
    const QLocale locale;
    return locale.toString(date, QLocale::ShortFormat) + ' ' + longTimeText(time);
}

struct Tables {
    store::Table usersOn{catalogue::kAlias, catalogue::kUsersOn};
    store::Table userPref{catalogue::kAlias, catalogue::kUserPref};
    store::Table userDb{catalogue::kAlias, catalogue::kUserDb};
    Tables()
    {
        usersOn.open();
        userPref.open();
        userDb.open();
    }
    QVector<QStringList> lines(double now) { return whosOnLines(usersOn, userPref, userDb, now); }
    QVector<QStringList> linesPerLogIn(double now) { return whosOnLinesPerLogIn(usersOn, userPref, userDb, now); }
};

} // namespace

class TestWhosOn : public QObject {
    Q_OBJECT
    std::unique_ptr<TestInstall> install;

private slots:
    void init()
    {
        install = std::make_unique<TestInstall>();
        QVERIFY(install->ok());
        testkit::deleteAllRows(catalogue::kUsersOn);
        testkit::deleteAllRows(catalogue::kUserDb);
    }
    void cleanup() { install.reset(); }

    void nobodyOnShowsOneEmptyLine()
    {
        Tables t;
        QVERIFY(t.lines(support::nowDays()).isEmpty());
        TfrmWhosOn w;
        w.show();
        QCOMPARE(w.grid->rowCount(), 1);
        for (int c = 0; c < ColumnCount; ++c)
            QVERIFY(!w.grid->item(0, c) || w.grid->item(0, c)->text().isEmpty());
        QCOMPARE(w.grid->horizontalHeaderItem(3)->text(), QString("In Database Since"));
        QVERIFY(w.Timer1->isActive());
        QCOMPARE(w.Timer1->interval(), 10000);
    }

    // Each log-in's line from its user's latest database row.
    void latestDatabaseOfEachLogIn()
    {
        support::ClockOverride clock(kNow);
        const QDate today = kNow.date();
        // ADM: the later time of two rows on one day; on a full tie the later row.
        entry("ADM", "A1", today, QTime(9, 0), 4);
        entry("ADM", "A2", today, QTime(14, 45, 20), 5);
        entry("ADM", "A3", today, QTime(14, 45, 20), 6);
        entry("ADM", "A4", today.addDays(-1), QTime(23, 0), 7);
        // JDS: an entry after now on the clients' clocks.
        entry("JDS", "J1", today, QTime(16, 0), 2);
        // RTP: empty date and time read as 30 December 1899, 00:00, still
        // later than the start; a row of another letter case is not RTP's.
        entry("RTP", "R1", QDate(), QTime(), 3);
        entry("rtp", "R2", today, QTime(8, 0), 9);
        // ZZZ has database rows but no user row.
        entry("ZZZ", "Z1", today.addDays(-1), QTime(10, 0), 1);
        for (const char* who : {"ADM", "JDS", "MKL", "RTP", "ZZZ", "ADM"})
            logIn(who);

        Tables t;
        const auto lines = t.lines(support::nowDays());
        QCOMPARE(lines.size(), 6);
        const QVariantMap adm = testkit::findRow(catalogue::kUserPref, "who", "ADM");
        QCOMPARE(lines[0], (QStringList{"ADM", adm.value("fullname").toString(), "A3",
                                        since(today, QTime(14, 45, 20)), " 45 min", "6",
                                        adm.value("loginmachinename").toString()}));
        QCOMPARE(lines[5], lines[0]);
        QVERIFY2(!lines[0][ColSince].contains("UTC"), "a time of day from a table has no zone");
        QCOMPARE(lines[1][ColDatabase], QString("J1"));
        QCOMPARE(lines[1][ColDuration], QString("Future???"));
        // MKL has no database row at all.
        QCOMPARE(lines[2][ColDatabase], QString());
        QCOMPARE(lines[2][ColSince], since(QDate(1800, 1, 1), QTime(0, 0, 1)));
        QVERIFY2(lines[2][ColDuration].endsWith("ago"), qPrintable(lines[2][ColDuration]));
        QCOMPARE(lines[2][ColTimes], QString("0"));
        QCOMPARE(lines[3][ColDatabase], QString("R1"));
        QCOMPARE(lines[3][ColSince], since(QDate(1899, 12, 30), QTime(0, 0)));
        QCOMPARE(lines[4], (QStringList{"ZZZ", "", "Z1", since(today.addDays(-1), QTime(10, 0)), "Yesterday", "1", ""}));

        QCOMPARE(t.linesPerLogIn(support::nowDays()), lines);
    }

    // Two rows of one user on the same day: the later time wins, whether
    // the table holds it before or after the earlier one.
    void laterTimeOfTheDayWinsInEitherOrder()
    {
        support::ClockOverride clock(kNow);
        const QDate today = kNow.date();
        entry("ADM", "A1", today, QTime(13, 0), 4); // read first
        entry("ADM", "B1", today, QTime(11, 0), 5);
        entry("JDS", "C1", today, QTime(11, 0), 6); // read first
        entry("JDS", "D1", today, QTime(13, 0), 7);
        logIn("ADM");
        logIn("JDS");
        Tables t;
        for (const auto& lines : {t.lines(support::nowDays()), t.linesPerLogIn(support::nowDays())}) {
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines[0][ColDatabase], QString("A1"));
            QCOMPARE(lines[0][ColSince], since(today, QTime(13, 0)));
            QCOMPARE(lines[0][ColTimes], QString("4"));
            QCOMPARE(lines[1][ColDatabase], QString("D1"));
            QCOMPARE(lines[1][ColSince], since(today, QTime(13, 0)));
            QCOMPARE(lines[1][ColTimes], QString("7"));
        }
    }

    // The single pass picks the same rows as one scan per log-in, ties and
    // all, on rows in random order.
    void singlePassMatchesThePerLogInScan()
    {
        support::ClockOverride clock(kNow);
        QRandomGenerator random(7);
        const QStringList who{"ADM", "JDS", "MKL", "RTP", "QQQ"};
        for (int i = 0; i < 120; ++i)
            entry(who[random.bounded(5)], QString("D%1").arg(i), kNow.date().addDays(-random.bounded(3)),
                  QTime(10 + random.bounded(2), 0), random.bounded(50));
        for (int i = 0; i < 8; ++i)
            logIn(who[random.bounded(5)]);
        Tables t;
        QCOMPARE(t.lines(support::nowDays()), t.linesPerLogIn(support::nowDays()));
    }

    // Rows written by another program in other forms read as the fields
    // read them; a value that is no date is a clear error, never a crash.
    void oddStoredValues()
    {
        support::ClockOverride clock(kNow);
        testkit::RawDb raw(install->dataDir() + "/userdb.db");
        QVERIFY(raw.exec("INSERT INTO userdb (DB, Who, datelastlogin, timelastlogin, ntimes) VALUES "
                         "('N1', 'ADM', 45000.0, '10:15', '7'), ('N2', 'ADM', ' 2024-03-13 ', 0.25, 3.0), "
                         "('N3', 'JDS', '2024-02-30', '10:00:00.000', 1)"));
        logIn("ADM");
        Tables t;
        const auto lines = t.lines(support::nowDays());
        QCOMPARE(lines, t.linesPerLogIn(support::nowDays()));
        QCOMPARE(lines[0][ColDatabase], QString("N2"));
        QCOMPARE(lines[0][ColSince], since(kNow.date(), QTime(6, 0)));

        logIn("JDS");
        QVERIFY_THROWS_EXCEPTION(store::StoreError, t.lines(support::nowDays()));
        QVERIFY_THROWS_EXCEPTION(store::StoreError, t.linesPerLogIn(support::nowDays()));
    }

    // A log-in with an empty ID takes the rows whose Who is blank, stored
    // empty or NULL, in the single pass as in the scan per log-in.
    void emptyIdMatchesBlankRows()
    {
        support::ClockOverride clock(kNow);
        testkit::RawDb raw(install->dataDir() + "/userdb.db");
        // The table as another program may have made it: a key field that
        // takes NULL.
        const int version = raw.text("PRAGMA schema_version").toInt();
        QVERIFY(raw.exec("PRAGMA writable_schema = ON; "
                         "UPDATE sqlite_master SET sql = replace(sql, ' NOT NULL', '') WHERE name = 'userdb'; "
                         "PRAGMA writable_schema = OFF; "
                         + QString("PRAGMA schema_version = %1;").arg(version + 1)));
        QVERIFY(raw.exec("INSERT INTO userdb (DB, Who, datelastlogin, timelastlogin, ntimes) VALUES "
                         "('E1', '', '2024-03-12', '10:00:00.000', 1), "
                         "('E2', NULL, '2024-03-13', '09:00:00.000', 2)"));
        testkit::RawDb on(install->dataDir() + "/userson.db");
        QVERIFY(on.exec("INSERT INTO userson (Who, DB) VALUES (NULL, 'MAIN')"));
        Tables t;
        const auto lines = t.lines(support::nowDays());
        QCOMPARE(lines, t.linesPerLogIn(support::nowDays()));
        QCOMPARE(lines.value(0).value(ColDatabase), QString("E2"));
        QCOMPARE(lines.value(0).value(ColTimes), QString("2"));
    }

    // A refresh that fails shows its error box; no tick comes while the box
    // is up, and the refreshes go on once it has been dismissed.
    void aFailingRefreshShowsOneBoxAtATime()
    {
        support::MessageScript script;
        TfrmWhosOn w;
        w.Timer1->setInterval(20);
        w.show();
        QVERIFY(script.shown().isEmpty());

        QList<bool> tickingBehindTheBox;
        script.whileShown([&](const support::ShownBox&) { tickingBehindTheBox << w.Timer1->isActive(); });
        testkit::RawDb raw(install->dataDir() + "/userdb.db");
        QVERIFY(raw.exec("INSERT INTO userdb (DB, Who, datelastlogin, timelastlogin, ntimes) VALUES "
                         "('N3', 'JDS', '2024-02-30', '10:00:00.000', 1)"));
        logIn("JDS");
        QTRY_VERIFY(script.shown().size() >= 2);
        QCOMPARE(script.shown().first().kind, support::BoxKind::Error);
        QCOMPARE(tickingBehindTheBox, QList<bool>(tickingBehindTheBox.size(), false));
        QVERIFY(w.Timer1->isActive());
    }

    // Another program logs in and out while the window is up; each shows at
    // a later tick. A heading click leaves the order alone.
    void refreshesOnTheTimer()
    {
        TfrmWhosOn w;
        w.Timer1->setInterval(100);
        w.show();
        QCOMPARE(w.grid->rowCount(), 1);
        QVERIFY(w.grid->alternatingRowColors());
        QVERIFY(!w.grid->isSortingEnabled());

        testkit::WorkstationProcess station(*install);
        QVERIFY(station.logIn({"RTP", "WS-RTP", "MAIN"}));
        QTRY_COMPARE(w.grid->rowCount(), 1);
        QTRY_VERIFY(w.grid->item(0, ColWho) && w.grid->item(0, ColWho)->text() == "RTP");
        QCOMPARE(w.grid->item(0, ColMachine)->text(), QString("WS-RTP"));
        QCOMPARE(w.grid->item(0, ColDatabase)->text(), QString("MAIN"));
        QCOMPARE(w.grid->item(0, ColTimes)->text(), QString("1"));

        logIn("ADM");
        QTRY_COMPARE(w.grid->rowCount(), 2);
        QTest::mouseClick(w.grid->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(w.grid->horizontalHeader()->sectionViewportPosition(0) + 5, 5));
        QCOMPARE(w.grid->item(0, ColWho)->text(), QString("RTP"));

        station.stop();
        QTRY_VERIFY(w.grid->rowCount() == 1 && w.grid->item(0, ColWho)->text() == "ADM");
    }

    // Print: the whole list with the caption, the date and the time, read
    // back from the PDF file. No cell is cut, on a full page or on a small
    // one where long texts must wrap.
    void printsTheListToAFile()
    {
        support::ClockOverride clock(kNow);
        entry("JDS", "SALES", kNow.date(), QTime(15, 0), 12);
        for (const char* who : {"JDS", "ADM", "MKL"}) // MKL has no database row: a long years form
            logIn(who);
        testkit::RawDb(install->dataDir() + "/userpref.db")
            .exec("UPDATE userpref SET LogInMachineName = 'RECEPTION-UPSTAIRS-BACK-OFFICE-7' WHERE Who = 'ADM'");
        QTemporaryDir dir;
        const QString pdf = dir.filePath("whoson.pdf");

        TfrmWhosOn w;
        w.show();
        bool asked = false;
        QPageSize paper(QPageSize::A4);
        w.choosePrinter = [&](QPrinter& printer) {
            asked = true;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setPageSize(paper);
            return true;
        };
        QCOMPARE(w.grid->contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(w.grid->actions(), QList<QAction*>{w.Print1});
        QCOMPARE(w.Print1->text(), QString("Print"));
        w.Print1->trigger();
        QVERIFY(asked);

        auto printedText = [&] {
            QProcess text;
            text.start("pdftotext", {"-layout", pdf, "-"});
            [&] { QVERIFY2(text.waitForFinished(20000), "pdftotext (poppler-utils) is needed"); }();
            return QString::fromUtf8(text.readAllStandardOutput());
        };
        QString printed = printedText();
        for (const QString& s : {QString("Who's on the system"), QString("13/03/2024"),
                                 QLocale().toString(kNow.time(), QLocale::ShortFormat), QString("In Database Since"),
                                 QString("# times"), QString("SALES"), QString("JDS"), QString("MKL"),
                                 QString(" 30 min")})
            QVERIFY2(printed.contains(s), qPrintable(s + " not in:\n" + printed));
        QVERIFY(printed.indexOf("JDS") < printed.indexOf("ADM"));

        // Every cell whole: on the full page each on one line.
        auto gridCells = [&] {
            QStringList cells;
            for (int r = 0; r < w.grid->rowCount(); ++r)
                for (int c = 0; c < ColumnCount; ++c)
                    cells << w.grid->item(r, c)->text();
            return cells;
        };
        QStringList cells = gridCells();
        QVERIFY(cells.join(' ').contains("yrs"));
        QVERIFY(!printed.contains(QChar(0x2026)));
        for (const QString& cell : cells)
            QVERIFY2(printed.contains(cell), qPrintable(cell + " not whole in:\n" + printed));

        // On a small page the lines are wider than the page: texts wrap at
        // their blanks, and every word of every cell is there whole.
        testkit::RawDb(install->dataDir() + "/userpref.db")
            .exec("UPDATE userpref SET LogInMachineName = 'RECEPTION-7' WHERE Who = 'ADM'");
        w.fillGridWithWho();
        cells = gridCells();
        paper = QPageSize(QPageSize::A5);
        w.Print1->trigger();
        printed = printedText();
        QVERIFY(!printed.contains(QChar(0x2026)));
        QVERIFY2(!printed.contains(w.grid->item(1, ColDuration)->text()), "nothing wrapped on the small page");
        const QStringList words = printed.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        for (const QString& cell : cells)
            for (const QString& word : cell.split(' ', Qt::SkipEmptyParts))
                QVERIFY2(words.contains(word), qPrintable(word + " not in:\n" + printed));

        // Declining the printer prints nothing.
        QFile::remove(pdf);
        w.choosePrinter = [](QPrinter&) { return false; };
        w.Print1->trigger();
        QVERIFY(!QFile::exists(pdf));
    }

    void helpAndCancel()
    {
        TfrmWhosOn w;
        w.show();
        support::HelpRecorder help;
        QTest::mouseClick(w.btHelp, Qt::LeftButton);
        QCOMPARE(help.contexts(), QList<int>{1600});
        QTest::mouseClick(w.btCancel, Qt::LeftButton);
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestWhosOn)
#include "tst_whoson.moc"
