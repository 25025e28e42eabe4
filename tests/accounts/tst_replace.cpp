// The global replace of a user ID: the walks on real tables (matching,
// events done and not done, progress, order, rows that move in key order),
// the preview's counts against what a replace then changes, and the dialog
// from the main window, with another program holding a table.

#include "accounts/Replace.h"
#include "accounts/ReplaceWalk.h"
#include "shell/Main.h"
#include "store/Catalogue.h"
#include "store/Schema.h"
#include "support/Changes.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DialogTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using accounts::ReplaceChoice;
using testkit::OtherProgram;

namespace {

constexpr int kContactCode = 0, kEventCode = 1, kActionsCode = 3, kStepsCode = 4, kHolidayCode = 6;

ReplaceChoice allBoxes()
{
    ReplaceChoice c;
    c.contacts = c.eventsNotDone = c.eventsDone = c.marketing = c.holiday = true;
    return c;
}

// Journal rows about the replace, by table code.
QList<testkit::JournalEntry> whoEntries(int fromIndex = 0)
{
    QList<testkit::JournalEntry> result;
    const auto all = testkit::journalEntries();
    for (int i = fromIndex; i < all.size(); ++i)
        if (all[i].fieldname == "who")
            result << all[i];
    return result;
}

int entriesFor(const QList<testkit::JournalEntry>& entries, int code)
{
    int n = 0;
    for (const auto& e : entries)
        n += e.table == code ? 1 : 0;
    return n;
}

void addContact(const QString& recno, const QVariant& who)
{
    testkit::addRow(catalogue::kContact, {{"recno", recno}, {"DB", "MAIN"}, {"Who", who}});
}

void addEvent(const QString& erecno, const QVariant& who, const QVariant& completed)
{
    testkit::addRow(catalogue::kEvent, {{"erecno", erecno}, {"DB", "MAIN"}, {"Who", who}, {"completed", completed}});
}

// Every table of the installation as text, to compare whole installations.
QStringList dump(const QString& table)
{
    QStringList rows;
    for (const QVariantMap& row : testkit::tableRows(table)) {
        QStringList values;
        for (auto it = row.cbegin(); it != row.cend(); ++it)
            values << it.key() + "=" + it.value().toString();
        rows << values.join('|');
    }
    return rows;
}

} // namespace

class TestReplace : public QObject {
    Q_OBJECT
    std::unique_ptr<TestInstall> install;

    void startJournal()
    {
        support::resetJournal();
        support::setJournalActive(support::journalFileExists());
        QVERIFY(support::journalActive());
    }

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(OtherProgram::path()), "build the hold_table helper"); }
    void init()
    {
        if (QByteArray(QTest::currentTestFunction()) == "matching")
            return; // no installation needed
        install = std::make_unique<TestInstall>();
        QVERIFY(install->ok());
        startJournal();
    }
    void cleanup()
    {
        install.reset();
        support::setJournalActive(false);
    }

    void matching_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("matches");
        QTest::newRow("same") << "ABC" << "ABC" << true;
        QTest::newRow("trailing blanks stored") << "AB  " << "AB" << true;
        QTest::newRow("trailing tab stored") << "AB\t" << "AB" << true;
        QTest::newRow("leading blank stored") << " AB" << "AB" << false;
        QTest::newRow("small letters") << "abc" << "ABC" << false;
        QTest::newRow("empty, blank source") << "" << "" << true;
        QTest::newRow("blanks only, blank source") << "   " << "" << true;
        QTest::newRow("owner, blank source") << "ABC" << "" << false;
    }
    void matching()
    {
        QFETCH(QString, stored);
        QFETCH(QString, source);
        QFETCH(bool, matches);
        QCOMPARE(accounts::whoMatches(stored, source), matches);
    }

    // Trailing blanks and small letters on real rows, the blank owner, and
    // a target equal to the source: each matching row written and journalled.
    void contactsReplacedAndJournalled_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("AB to ZZ") << "AB" << "ZZ" << QStringList{"ZZ", "ZZ", "ab", "", "", "ABD"};
        QTest::newRow("blank to ZZ") << "" << "ZZ" << QStringList{"AB", "AB", "ab", "ZZ", "ZZ", "ABD"};
        QTest::newRow("AB to itself") << "AB" << "AB" << QStringList{"AB", "AB", "ab", "", "", "ABD"};
    }
    void contactsReplacedAndJournalled()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(QStringList, expected);
        testkit::deleteAllRows(catalogue::kContact);
        const QVariantList owners{"AB", "AB ", "ab", QVariant(), "   ", "ABD"};
        for (int i = 0; i < owners.size(); ++i)
            addContact(QString("R%1").arg(i), owners[i]);
        const int journal = testkit::journalEntries().size();

        ReplaceChoice contacts;
        contacts.contacts = true;
        QVERIFY(accounts::replaceAll(source, target, contacts));
        QStringList stored = testkit::column(catalogue::kContact, "Who");
        for (QString& s : stored)
            s = s.trimmed();
        QCOMPARE(stored, expected);

        const auto entries = whoEntries(journal);
        QCOMPARE(entries.size(), 2);
        for (const auto& e : entries) {
            QCOMPARE(e.table, kContactCode);
            QCOMPARE(e.action, 0);
            QCOMPARE(e.to, target);
            QCOMPARE(e.db, QStringLiteral("MAIN"));
        }
        QCOMPARE(entries[0].recno, source.isEmpty() ? QStringLiteral("R3") : QStringLiteral("R0"));
    }

    void eventsByTheirBoxes_data()
    {
        QTest::addColumn<bool>("notDone");
        QTest::addColumn<bool>("done");
        QTest::addColumn<QStringList>("replaced");
        QTest::newRow("not done") << true << false << QStringList{"E1", "E3"};
        QTest::newRow("done") << false << true << QStringList{"E2"};
        QTest::newRow("both") << true << true << QStringList{"E1", "E2", "E3"};
    }
    // completed false, true and blank; blank counts as not done.
    void eventsByTheirBoxes()
    {
        QFETCH(bool, notDone);
        QFETCH(bool, done);
        QFETCH(QStringList, replaced);
        testkit::deleteAllRows(catalogue::kEvent);
        addEvent("E1", "ABC", false);
        addEvent("E2", "ABC", true);
        addEvent("E3", "ABC", QVariant());
        addEvent("E4", "XYZ", true);
        ReplaceChoice c;
        c.eventsNotDone = notDone;
        c.eventsDone = done;
        const auto counts = accounts::countReplace("ABC", c);
        QVERIFY(accounts::replaceAll("ABC", "NEW", c));
        QStringList changed;
        for (const QVariantMap& row : testkit::tableRows(catalogue::kEvent))
            if (row.value("who").toString() == "NEW")
                changed << row.value("erecno").toString();
        QCOMPARE(changed, replaced);
        QCOMPARE(counts.total(), qint64(replaced.size()));
        QCOMPARE(whoEntries().size(), replaced.size());
    }

    // The progress text every 25 rows read, matching or not, per table.
    void progressEvery25Rows_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("24") << 24 << QStringList{};
        QTest::newRow("50") << 50 << QStringList{"Working : CONTACT.DB 25", "Working : CONTACT.DB 50",
                                                 "Working : Events 25", "Working : Events 50"};
    }
    void progressEvery25Rows()
    {
        QFETCH(int, rows);
        QFETCH(QStringList, texts);
        testkit::deleteAllRows(catalogue::kContact);
        testkit::deleteAllRows(catalogue::kEvent);
        for (int i = 0; i < rows; ++i) {
            addContact(QString("C%1").arg(i), i % 2 ? "ABC" : "XYZ");
            addEvent(QString("E%1").arg(i), "XYZ", false);
        }
        QStringList shown;
        int afterRows = 0;
        accounts::ReplaceHooks hooks;
        hooks.status = [&](const QString& t) { shown << t; };
        hooks.afterRow = [&] { return ++afterRows > 0; };
        ReplaceChoice c;
        c.contacts = c.eventsNotDone = true;
        QVERIFY(accounts::replaceAll("ABC", "ZZ", c, hooks));
        QCOMPARE(shown, texts);
        QCOMPARE(afterRows, 2 * rows);
    }

    // Steps.DB before actions.DB; the user, permission and per-database
    // tables untouched.
    void marketingOrderAndUserTablesUntouched()
    {
        const QString source = testkit::column(catalogue::kSteps, "Who").first();
        const QStringList users = dump(catalogue::kUserPref), perm = dump(catalogue::kPerm),
                          userDb = dump(catalogue::kUserDb);
        ReplaceChoice c = allBoxes();
        QVERIFY(accounts::replaceAll(source, "ADM", c));
        QList<int> codes;
        for (const auto& e : whoEntries())
            if (codes.isEmpty() || codes.last() != e.table)
                codes << e.table;
        QVERIFY(codes.indexOf(kStepsCode) >= 0 && codes.indexOf(kActionsCode) > codes.indexOf(kStepsCode));
        QCOMPARE(codes.first(), kContactCode);
        QCOMPARE(dump(catalogue::kUserPref), users);
        QCOMPARE(dump(catalogue::kPerm), perm);
        QCOMPARE(dump(catalogue::kUserDb), userDb);
    }

    // A holiday table whose key begins with Who: a changed row moves in key
    // order, forwards or backwards, and is still replaced exactly once, with
    // no row skipped.
    void rowsMovingInKeyOrderReplacedOnce_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("moves forwards") << "ZZZ";
        QTest::newRow("moves backwards") << "AAA";
        QTest::newRow("stays") << "AB";
    }
    void rowsMovingInKeyOrderReplacedOnce()
    {
        QFETCH(QString, target);
        const QString dir = install->dataDir();
        store::Session::instance().reset();
        for (const QString& suffix : {"", "-wal", "-shm"})
            QFile::remove(QDir(dir).filePath("holiday.db" + suffix));
        store::TableDef def = catalogue::tableDef(catalogue::kHoliday);
        def.primaryKey = {"Who", "syncwellno"};
        store::createTableFile(dir, def);
        testkit::useStore(install->configPath(), install->netDir());
        const QStringList owners{"AAA", "AB", "AB", "AB ", "ABD", "AB", "ZZZ", "AB"};
        for (int i = 0; i < owners.size(); ++i)
            testkit::addRow(catalogue::kHoliday, {{"Who", owners[i]}, {"syncwellno", QString("S%1").arg(i)}});

        ReplaceChoice c;
        c.holiday = true;
        QCOMPARE(accounts::countReplace("AB", c).holiday, qint64(5));
        int rowsRead = 0;
        accounts::ReplaceHooks hooks;
        hooks.afterRow = [&] { return ++rowsRead > 0; };
        QVERIFY(accounts::replaceAll("AB", target, c, hooks));
        QCOMPARE(rowsRead, owners.size());

        QStringList journalled;
        for (const auto& e : whoEntries())
            journalled << e.recno;
        journalled.sort();
        QCOMPARE(journalled, (QStringList{"S1", "S2", "S3", "S5", "S7"}));
        for (const QVariantMap& row : testkit::tableRows(catalogue::kHoliday)) {
            const int n = row.value("syncwellno").toString().mid(1).toInt();
            const bool wasSource = owners[n].trimmed() == "AB";
            QCOMPARE(row.value("who").toString(), wasSource ? target : owners[n]);
        }
    }

    // For every combination of boxes, the preview counts exactly the rows
    // the replace then changes (and the replace is undone for the next one).
    void previewCountsWhatChanges()
    {
        const QString source = testkit::column(catalogue::kContact, "Who").first();
        addEvent("EXTRA", source, QVariant()); // blank completed
        for (int boxes = 1; boxes < 32; ++boxes) {
            const QByteArray combination = QByteArray::number(boxes);
            ReplaceChoice c;
            c.contacts = boxes & 1;
            c.eventsNotDone = boxes & 2;
            c.eventsDone = boxes & 4;
            c.marketing = boxes & 8;
            c.holiday = boxes & 16;

            const auto counts = accounts::countReplace(source, c);
            QVERIFY(counts.unreadable.isEmpty());
            QVERIFY2(counts.total() > 0, combination);
            const int journal = testkit::journalEntries().size();
            QVERIFY(accounts::replaceAll(source, "QQQ", c));
            const auto entries = whoEntries(journal);
            QVERIFY2(qint64(entries.size()) == counts.total(), combination);
            QVERIFY2(qint64(entriesFor(entries, kContactCode)) == counts.contacts, combination);
            QVERIFY2(qint64(entriesFor(entries, kEventCode)) == counts.eventsDone + counts.eventsNotDone, combination);
            QVERIFY2(qint64(entriesFor(entries, kHolidayCode)) == counts.holiday, combination);
            QVERIFY2(qint64(entriesFor(entries, kStepsCode)) == counts.steps, combination);
            QVERIFY2(qint64(entriesFor(entries, kActionsCode)) == counts.actions, combination);
            qint64 done = 0;
            for (const QVariantMap& row : testkit::tableRows(catalogue::kEvent))
                done += row.value("who").toString() == "QQQ" && row.value("completed").toBool() ? 1 : 0;
            QVERIFY2(done == counts.eventsDone, combination);

            const QString detail = accounts::previewText(counts, c);
            QCOMPARE(detail.contains("CONTACT.DB: "), c.contacts);
            QCOMPARE(detail.contains("EVENT.DB, done: "), c.eventsDone);
            QCOMPARE(detail.contains("EVENT.DB, not done: "), c.eventsNotDone);
            QCOMPARE(detail.contains("Steps.DB: ") && detail.contains("actions.DB: "), c.marketing);
            QCOMPARE(detail.contains("holiday.DB: "), c.holiday);

            // Hand the rows back for the next combination.
            QVERIFY(accounts::replaceAll("QQQ", source, allBoxes()));
        }
    }

    void previewWithNothingToChange()
    {
        ReplaceChoice c = allBoxes();
        const auto counts = accounts::countReplace("QQQ", c);
        QCOMPARE(counts.total(), qint64(0));
        QCOMPARE(accounts::previewText(counts, c), QStringLiteral("No row holds this user ID: nothing will change."));
        accounts::ReplaceCounts some;
        some.contacts = 12408;
        some.eventsNotDone = 1;
        c.marketing = c.holiday = c.eventsDone = false;
        QCOMPARE(accounts::previewText(some, c), QStringLiteral("CONTACT.DB: 12,408 rows\nEVENT.DB, not done: 1 row"));
        // A ticked table without a matching row beside one with rows.
        some.eventsNotDone = 0;
        QCOMPARE(accounts::previewText(some, c), QStringLiteral("CONTACT.DB: 12,408 rows\nEVENT.DB, not done: 0 rows"));
    }

    // From the main window as a supervisor: OK's enabling, trimming, the
    // question word for word with the counts under it, No changing nothing,
    // Yes replacing, "Finished", and the dialog staying open.
    void dialogFromTheMainWindow()
    {
        const QString source = "AB";
        for (int i = 0; i < 3; ++i)
            addContact(QString("AB%1").arg(i), i ? "AB" : "AB ");
        testkit::deleteAllRows(catalogue::kEvent);
        addEvent("E1", "AB ", false);
        support::MessageScript script;
        support::HelpRecorder help;
        TfrmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QStringList before = testkit::column(catalogue::kContact, "Who");
        const int matches = 3;
        bool ran = false;
        testkit::whenModal<TfrmReplace>([&](TfrmReplace* d) {
            QCOMPARE(d->focusWidget(), d->edWho);
            QVERIFY(!d->btOK->isEnabled());
            QCOMPARE(d->cbTarget->count(), testkit::rowCount(catalogue::kUserPref));
            QTest::keyClicks(d->edWho, source.toLower() + " ");
            QCOMPARE(d->edWho->text(), source + " ");
            d->cbContacts->click();
            QVERIFY(d->btOK->isEnabled());
            d->cbEventsNotDone->click();
            d->cbTarget->setCurrentIndex(1);
            const QString target = d->cbTarget->currentText();
            QTest::mouseClick(d->btHelp, Qt::LeftButton);

            QString asked;
            script.answerWith([&](const QString&) {
                asked = d->edWho->text();
                return false;
            });
            QTest::mouseClick(d->btOK, Qt::LeftButton);
            QCOMPARE(asked, source); // trimmed before the question
            QCOMPARE(testkit::column(catalogue::kContact, "Who"), before);

            script.clear();
            script.answerYes();
            QTest::mouseClick(d->btOK, Qt::LeftButton);
            QVERIFY(d->isVisible());
            QVERIFY(d->lblStatus->text().isEmpty());
            QVERIFY(d->btOK->isEnabled() && d->btCancel->isEnabled());
            const QString question = QString("Really replace user \"%1\" with \"%2\"?").arg(source, target);
            QCOMPARE(script.texts(), (QStringList{question, "Finished"}));
            QCOMPARE(script.shown().first().detail,
                     QString("CONTACT.DB: %1 rows\nEVENT.DB, not done: 1 row").arg(matches));
            QCOMPARE(testkit::column(catalogue::kContact, "Who").count(target),
                     before.count(target) + matches);
            QTest::mouseClick(d->btCancel, Qt::LeftButton);
        }, &ran);
        QTest::mouseClick(w.btReplace, Qt::LeftButton);
        QVERIFY(ran);
        QCOMPARE(help.contexts(), QList<int>{1200});
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!w.tblContact.active());
    }

    void blankSourceAsksAboutBlankFields()
    {
        support::MessageScript script;
        script.answerNo();
        TfrmReplace d;
        d.show();
        QTest::keyClicks(d.edWho, "  ");
        d.cbHoliday->click();
        QTest::mouseClick(d.btOK, Qt::LeftButton);
        QCOMPARE(d.edWho->text(), QString());
        QCOMPARE(script.texts(),
                 QStringList{QString("Really replace blank WHO fields with \"%1\"?").arg(d.cbTarget->currentText())});
    }

    // The list is filled once: a window restored from the task bar keeps
    // the chosen target.
    void targetListFilledOnce()
    {
        TfrmReplace d;
        d.show();
        d.cbTarget->setCurrentIndex(2);
        d.hide(); // shown again, as a window restored from the task bar is
        d.show();
        QCOMPARE(d.cbTarget->currentIndex(), 2);
        QCOMPARE(d.cbTarget->count(), testkit::rowCount(catalogue::kUserPref));
    }

    // When the list could not be filled, OK refuses the blank target before
    // anything is asked or changed.
    void blankTargetRefused()
    {
        const QStringList contacts = dump(catalogue::kContact);
        OtherProgram other(*install);
        QVERIFY(other.hold(catalogue::kUserPref, "exclusive"));
        support::MessageScript script;
        TfrmReplace d;
        d.show();
        QCOMPARE(d.cbTarget->count(), 0);
        QCOMPARE(script.shown().size(), 1); // the user table could not be read
        QTest::keyClicks(d.edWho, testkit::column(catalogue::kContact, "Who").first());
        d.cbContacts->click();
        script.answerYes();
        QTest::mouseClick(d.btOK, Qt::LeftButton);
        QCOMPARE(script.texts().mid(1), QStringList{"The \"Replace with this user ID\" field cannot be blank."});
        other.release();
        QCOMPARE(dump(catalogue::kContact), contacts);
        QVERIFY(whoEntries().isEmpty());
    }

    // Another program holds EVENT.DB: the replace ends there with the
    // store's error, the contacts already replaced stay replaced and
    // journalled, "Finished" is not shown and the dialog is usable again.
    void tableHeldByAnotherProgram_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("shared") << "shared";
        QTest::newRow("exclusive") << "exclusive";
    }
    void tableHeldByAnotherProgram()
    {
        QFETCH(QString, mode);
        const QString source = testkit::column(catalogue::kContact, "Who").first();
        const int matches = testkit::column(catalogue::kContact, "Who").count(source);
        const QStringList events = testkit::column(catalogue::kEvent, "Who");
        OtherProgram other(*install);
        QVERIFY(other.hold(catalogue::kEvent, mode));

        support::MessageScript script;
        script.answerYes();
        TfrmReplace d;
        d.show();
        QTest::keyClicks(d.edWho, source);
        d.cbTarget->setCurrentIndex(d.cbTarget->count() - 1);
        QVERIFY(d.cbTarget->currentText() != source);
        for (QCheckBox* box : {d.cbContacts, d.cbEventsDone, d.cbHoliday})
            box->click();
        QTest::mouseClick(d.btOK, Qt::LeftButton);

        const auto shown = script.shown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].detail.contains("EVENT.DB: cannot be counted now"), mode == "exclusive");
        QCOMPARE(shown[1].kind, support::BoxKind::Error);
        QVERIFY2(shown[1].text.contains("EVENT", Qt::CaseInsensitive), qPrintable(shown[1].text));
        QVERIFY(!script.texts().contains("Finished"));
        QVERIFY(d.btOK->isEnabled() && d.btCancel->isEnabled());
        QVERIFY(d.lblStatus->text().isEmpty());
        QVERIFY(!QApplication::overrideCursor());
        other.release();

        QCOMPARE(testkit::column(catalogue::kContact, "Who").count(source), 0);
        QCOMPARE(entriesFor(whoEntries(), kContactCode), matches);
        QCOMPARE(testkit::column(catalogue::kEvent, "Who"), events);
        QCOMPARE(entriesFor(whoEntries(), kEventCode) + entriesFor(whoEntries(), kHolidayCode), 0);
    }

    // Closing the window while a replace runs stops it after the current
    // row: no "Finished", the window closes, the rest stays as it was.
    void closingStopsTheReplace()
    {
        testkit::deleteAllRows(catalogue::kContact);
        for (int i = 0; i < 60; ++i)
            addContact(QString("C%1").arg(i), "ABC");
        support::MessageScript script;
        TfrmReplace d;
        d.show();
        QTest::keyClicks(d.edWho, "ABC");
        d.cbContacts->click();
        bool wasRunning = false;
        script.answerWith([&](const QString&) {
            // Arrives with the first events processed during the walk.
            QTimer::singleShot(0, &d, [&] {
                wasRunning = d.running() && !d.btCancel->isEnabled();
                d.close();
            });
            return true;
        });
        QTest::mouseClick(d.btOK, Qt::LeftButton);
        QVERIFY(wasRunning);
        QVERIFY(!d.isVisible());
        QVERIFY(!script.texts().contains("Finished"));
        const int replaced = 60 - testkit::column(catalogue::kContact, "Who").count("ABC");
        QVERIFY2(replaced >= 1 && replaced < 5, qPrintable(QString::number(replaced)));
        QCOMPARE(whoEntries().size(), replaced);
    }
};

QTEST_MAIN(TestReplace)
#include "tst_replace.moc"
