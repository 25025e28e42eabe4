// Copying settings between users on a real installation: the groups and
// "All of the above", blanks against false/0/"", the return address line by
// line, permissions only where both users have a row, a second copy
// journalling nothing, and the dialog's refusals and guard.

#include "accounts/CopySettings.h"
#include "accounts/Settings.h"
#include "shell/Main.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "support/Changes.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DialogTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kFrom = QStringLiteral("JDS");
const QString kTo = QStringLiteral("MKL");

void setUser(const QString& who, const QVariantMap& values)
{
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    QVERIFY(users.findKey({who}));
    users.edit();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        users.fieldByName(it.key()).setValue(it.value());
    users.post();
}

QVariantMap user(const QString& who)
{
    return testkit::findRow(catalogue::kUserPref, catalogue::fWho, who);
}

// The permission rows of a user by database code, booleans only.
QMap<QString, QVariantMap> permFlags(const QString& who)
{
    QMap<QString, QVariantMap> result;
    for (QVariantMap row : testkit::tableRows(catalogue::kPerm)) {
        if (row.value("who").toString() != who)
            continue;
        const QString db = row.value("db").toString();
        for (const QString& key : {"db", "who", "syncwellno"})
            row.remove(key);
        result.insert(db, row);
    }
    return result;
}

int journalSize() { return testkit::journalEntries().size(); }

// One stored value of a user row, straight from the file or the server
// ("" for a blank).
QString stored(const QString& who, const QString& field)
{
    const QString file = store::Session::instance().aliasPath(catalogue::kAlias) + QStringLiteral("/userpref.db");
    testkit::RawDb raw(file);
    return raw.text(QStringLiteral("SELECT \"%1\" FROM userpref WHERE \"Who\" = '%2'").arg(field, who));
}

// The names of the stored preference fields: every field of the user row
// after the return address (which is stored line by line, not as it is),
// as the table itself lists them.
QStringList preferenceFields()
{
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    QStringList names;
    for (int i = users.fieldByName("ReturnAddress").index() + 1; i < users.fieldCount(); ++i)
        names << users.field(i).fieldName();
    return names;
}

// Every preference field of the two users holds the same stored value; a
// blank counts as the 0 or the empty text that it reads as.
bool samePreferencesStored(const QString& a, const QString& b)
{
    for (const QString& name : preferenceFields()) {
        auto plain = [](QString v) { return v == QLatin1String("0") ? QString() : v; };
        if (plain(stored(a, name)) != plain(stored(b, name))) {
            qWarning("%s differs: %s / %s", qPrintable(name), qPrintable(stored(a, name)), qPrintable(stored(b, name)));
            return false;
        }
    }
    return true;
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<JournalledInstall> install;

    // Opens the dialog, picks the users and boxes, presses OK n times.
    QStringList copyThroughDialog(const QString& from, const QString& to, const QList<int>& boxes, int presses = 1)
    {
        support::MessageScript script;
        TfrmSettings d;
        d.show();
        d.cbFrom->setCurrentText(from);
        d.cbTo->setCurrentText(to);
        const QList<QCheckBox*> all = {d.cbPhone, d.cbDataEntry, d.cbWordProc, d.cbEnvelope, d.cbReportFont,
                                       d.cbAlarm, d.cbPermissions, d.cbWinFax, d.cbCoStar, d.cbEmail,
                                       d.cbDuplicates, d.cbAll};
        for (int b : boxes)
            all[b]->click();
        for (int i = 0; i < presses; ++i)
            QTest::mouseClick(d.btOK, Qt::LeftButton);
        [&] { QVERIFY(d.isVisible()); }(); // OK never closes it
        return script.texts();
    }

private slots:
    void init()
    {
        install = std::make_unique<JournalledInstall>();
        QVERIFY(install->ok());
    }
    void cleanup()
    {
        install.reset();
    }

    void returnAddressLineByLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("one line") << "1 Main St" << "1 Main St\r\n";
        QTest::newRow("already stored") << "A\r\nB\r\n" << "A\r\nB\r\n";
        QTest::newRow("bare line feeds") << "A\nB" << "A\r\nB\r\n";
        QTest::newRow("empty line inside") << "A\n\nB" << "A\r\n\r\nB\r\n";
    }
    void returnAddressLineByLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        QCOMPARE(accounts::returnAddressText(text), stored);
    }

    void nothingTickedCopiesNothing()
    {
        const QVariantMap before = user(kTo);
        const int journal = journalSize();
        QCOMPARE(copyThroughDialog(kFrom, kTo, {}), QStringList{"Nothing copied"});
        QCOMPARE(user(kTo), before);
        QCOMPARE(journalSize(), journal);
    }

    void sameUserRefusedBeforeAnythingIsRead()
    {
        const int journal = journalSize();
        QCOMPARE(copyThroughDialog(kFrom, kFrom, {11}), QStringList{"You cannot copy settings from/to the same user."});
        QCOMPARE(journalSize(), journal);
    }

    // "All of the above" alone: every group and the permissions; the
    // permission row of a database where the target has none is not made;
    // a second copy journals nothing but rewrites the return address.
    void allOfTheAboveAloneThenAgain()
    {
        setUser(kFrom, {{"comport", 7}, {"DefCity", "Springfield"}, {"WPPath", "/opt/wp"}, {"EnvFontSize", 14},
                        {"RepFontName", "Serif"}, {"AlarmWav", "ding.wav"}, {"WinFaxDateDefault", 45000.0},
                        {"CoStarHide", true}, {"EmailName", "Jane"}, {"DupCheck", true}, {"AutoNameCap", true},
                        {"ReturnAddress", "Jane Smith\n1 Main St"}});
        setUser(kTo, {{"ReturnAddress", "old"}});
        // The source loses one flag in every database; the target loses its
        // row in the second database.
        const QStringList codes = testkit::column(catalogue::kDatabase, "DB");
        QCOMPARE(codes.size(), 2);
        {
            store::Table perm(catalogue::kAlias, catalogue::kPerm);
            perm.open();
            for (const QString& db : codes) {
                QVERIFY(perm.findKey({db, kFrom}));
                perm.edit();
                perm.fieldByName(catalogue::fFirstAction).setAsBoolean(false);
                perm.post();
            }
            QVERIFY(perm.findKey({codes[1], kTo}));
            perm.deleteRecord();
        }
        const int permRows = testkit::rowCount(catalogue::kPerm);
        const int journal = journalSize();
        const QVariant fullName = user(kTo).value("fullname"), password = user(kTo).value("password");

        QCOMPARE(copyThroughDialog(kFrom, kTo, {11}),
                 QStringList{QString("Fields copied from user \"%1\" to \"%2\"").arg(kFrom, kTo)});
        QVERIFY(samePreferencesStored(kFrom, kTo));
        const QVariantMap to = user(kTo);
        QCOMPARE(to.value("comport").toInt(), 7);
        QCOMPARE(to.value("defcity").toString(), QStringLiteral("Springfield"));
        QCOMPARE(to.value("returnaddress").toString(), QStringLiteral("Jane Smith\r\n1 Main St\r\n"));
        QCOMPARE(to.value("fullname"), fullName); // outside the groups
        QCOMPARE(to.value("password"), password);
        QCOMPARE(permFlags(kTo).value(codes[0]), permFlags(kFrom).value(codes[0]));
        QCOMPARE(testkit::rowCount(catalogue::kPerm), permRows);

        const auto entries = testkit::journalEntries().mid(journal);
        QStringList names;
        for (const auto& e : entries) {
            QCOMPARE(e.action, 0);
            names << e.fieldname;
        }
        QVERIFY2(names.contains(catalogue::fFirstAction, Qt::CaseInsensitive) && names.contains("comport")
                     && names.contains("DefCity"), qPrintable(names.join(" ")));
        QVERIFY(!names.contains("ReturnAddress"));

        // Again: nothing differs, nothing journalled.
        setUser(kTo, {{"ReturnAddress", "changed meanwhile"}});
        const int afterFirst = journalSize();
        copyThroughDialog(kFrom, kTo, {11});
        QCOMPARE(journalSize(), afterFirst);
        QCOMPARE(user(kTo).value("returnaddress").toString(), QStringLiteral("Jane Smith\r\n1 Main St\r\n"));
    }

    // Blank target fields against false, 0 and "" in the source are equal
    // and left alone; one group ticked copies only that group.
    void blanksReadAsFalseZeroOrEmpty()
    {
        setUser(kFrom, {{"DupCheck", false}, {"DupCompany", true}, {"EmailName", "x"}});
        setUser(kTo, {{"DupCheck", QVariant()}, {"DupCompany", QVariant()}, {"EmailName", QVariant()}});
        for (const auto& f : accounts::preferenceGroups()[9].fields)
            if (f.name != "DupCompany" && f.name != "DupCheck")
                setUser(kTo, {{f.name, user(kFrom).value(f.name.toLower())}});
        const int journal = journalSize();
        copyThroughDialog(kFrom, kTo, {10});
        const auto entries = testkit::journalEntries().mid(journal);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].fieldname, QStringLiteral("DupCompany"));
        QCOMPARE(entries[0].recno, kTo);
        QVERIFY(user(kTo).value("emailname").isNull()); // e-mail not ticked
    }

    // Each kind of preference field carries a value that only that kind
    // keeps, as stored: colours beyond true and false, a text of digits with
    // its zeros, a date with its time of day, and a true.
    void everyKindKeepsItsValue()
    {
        setUser(kFrom, {{"EnvFontColor", 16777215}, {"RepFontColor", 255}, {"DefZip", "00710"},
                        {"WinFaxDateDefault", 45000.75}, {"CoStarHide", true}});
        setUser(kTo, {{"EnvFontColor", 1}, {"RepFontColor", 0}, {"DefZip", "710"},
                      {"WinFaxDateDefault", 45000.0}, {"CoStarHide", false}});
        copyThroughDialog(kFrom, kTo, {1, 3, 4, 7, 8});
        QCOMPARE(stored(kTo, "EnvFontColor"), QStringLiteral("16777215"));
        QCOMPARE(stored(kTo, "RepFontColor"), QStringLiteral("255"));
        QCOMPARE(stored(kTo, "DefZip"), QStringLiteral("00710"));
        QVERIFY2(stored(kTo, "WinFaxDateDefault").contains("18:00"), qPrintable(stored(kTo, "WinFaxDateDefault")));
        for (const char* field : {"WinFaxDateDefault", "CoStarHide"})
            QCOMPARE(stored(kTo, field), stored(kFrom, field));
    }

    void copyToAUserWithoutPermissionRowsMakesNone()
    {
        const QString last = testkit::column(catalogue::kUserPref, "Who").last();
        QVERIFY(permFlags(last).isEmpty());
        const int rows = testkit::rowCount(catalogue::kPerm);
        copyThroughDialog(kFrom, last, {6});
        QCOMPARE(testkit::rowCount(catalogue::kPerm), rows);
    }

    void guardAndMissingUser()
    {
        support::MessageScript script;
        TfrmSettings d;
        d.show();
        d.cbFrom->setCurrentText(kFrom);
        d.cbTo->setCurrentText(kTo);
        d.cbAll->click();
        accounts::copyInProgress() = true;
        QTest::mouseClick(d.btOK, Qt::LeftButton);
        accounts::copyInProgress() = false;
        QVERIFY(script.shown().isEmpty());

        testkit::deleteAllRows(catalogue::kUserPref);
        QTest::mouseClick(d.btOK, Qt::LeftButton);
        QCOMPARE(script.texts(),
                 (QStringList{QString("Error ... could not locate user \"%1\"").arg(kFrom), "Nothing copied"}));
        QVERIFY(!accounts::copyInProgress());
    }

    // The lists are filled once: a window restored from the task bar keeps
    // the chosen users.
    void choicesSurviveARestoredWindow()
    {
        TfrmSettings d;
        d.show();
        d.cbFrom->setCurrentIndex(1);
        d.cbTo->setCurrentIndex(2);
        d.hide(); // shown again, as a window restored from the task bar is
        d.show();
        QCOMPARE(d.cbFrom->currentIndex(), 1);
        QCOMPARE(d.cbTo->currentIndex(), 2);
        QCOMPARE(d.cbFrom->count(), testkit::rowCount(catalogue::kUserPref));
    }

    void dialogFromTheMainWindow()
    {
        support::MessageScript script;
        support::HelpRecorder help;
        TfrmMain w;
        w.show();
        bool ran = false;
        testkit::whenModal<TfrmSettings>([&](TfrmSettings* d) {
            QCOMPARE(d->focusWidget(), d->btOK);
            QCOMPARE(d->cbFrom->count(), testkit::rowCount(catalogue::kUserPref));
            QCOMPARE(d->cbFrom->currentIndex(), 0);
            QCOMPARE(d->cbTo->currentIndex(), 0);
            QTest::mouseClick(d->btHelp, Qt::LeftButton);
            QTest::keyClick(d, Qt::Key_Escape);
        }, &ran);
        QTest::mouseClick(w.btCopy, Qt::LeftButton);
        QVERIFY(ran);
        QCOMPARE(help.contexts(), QList<int>{1300});
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
