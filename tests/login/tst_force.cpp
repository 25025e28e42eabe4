// The force-off dialog on a real installation: how it opens from the stored
// row, its checks and questions, what Force Off and Allow On write, "&Last
// time", an empty settings table, closing by the close box, the table
// password, the alarm's Test/Stop and the sound-file chooser.

#include "login/Alarm.h"
#include "login/WhosOnLines.h"
#include "login/Whoson.h"
#include "login/force.h"
#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/Session.h"
#include "support/Clock.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DbCheckBox.h"
#include "ui/DbEdit.h"
#include "ui/DialogTestKit.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace {

const QDateTime kNow(QDate(2024, 3, 13), QTime(15, 30, 20));
const QString kFirstTime = QStringLiteral("This is the first time the Force Logout has been used.");

QVariantMap settings()
{
    const auto rows = testkit::tableRows(catalogue::kSettings);
    return rows.isEmpty() ? QVariantMap() : rows.first();
}

void setSettings(const QVariantMap& values)
{
    store::Table t(catalogue::kAlias, catalogue::kSettings);
    t.open();
    t.first();
    t.edit();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        t.fieldByName(it.key()).setValue(it.value());
    t.post();
}

} // namespace

class TestForce : public QObject {
    Q_OBJECT
    std::unique_ptr<TestInstall> install;

private slots:
    void init()
    {
        install = std::make_unique<TestInstall>();
        QVERIFY(install->ok());
    }
    void cleanup() { install.reset(); }

    void opensWithTheStoredRow()
    {
        setSettings({{"ForceOff", true}, {"forceWho", "jds"}, {"forceReason", "Backup until 3 pm"}, {"forceWarn", 7}});
        support::MessageScript script;
        TfrmForce d;
        d.show();
        QVERIFY(script.shown().isEmpty());
        QCOMPARE(d.cbUsers->count(), 4);
        QCOMPARE(d.cbUsers->itemText(0), QString("ADM"));
        QCOMPARE(d.cbUsers->currentText(), QString("JDS"));
        QCOMPARE(d.Edit1->text(), QString("Backup until 3 pm"));
        QCOMPARE(d.edWarn->value(), 7);
        QVERIFY(d.btOn->isEnabled());
        QVERIFY(!d.btOff->isEnabled());
        QCOMPARE(d.edSound->text(), settings().value("forcewav").toString());
    }

    void unknownWhoAndNoWarning()
    {
        setSettings({{"forceWho", "XYZ"}, {"forceWarn", 0}});
        TfrmForce d;
        d.show();
        QCOMPARE(d.cbUsers->currentIndex(), -1);
        QCOMPARE(d.edWarn->value(), 3);
        QVERIFY(d.btOff->isEnabled());
        QVERIFY(!d.btOn->isEnabled());
    }

    // The checks run in order, No writes nothing, Yes writes the record.
    void forceOffChecksAsksThenWrites()
    {
        support::ClockOverride clock(kNow);
        const QVariantMap before = settings();
        support::MessageScript script;
        TfrmForce d;
        d.show();
        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QCOMPARE(script.texts(), QStringList{"The \"Who are you\" field cannot be blank."});
        QCOMPARE(script.shown().last().kind, support::BoxKind::Error);
        QCOMPARE(d.focusWidget(), d.cbUsers);

        d.cbUsers->setCurrentIndex(d.cbUsers->findText("ADM"));
        d.Edit1->setText(" \t ");
        script.clear();
        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QCOMPARE(script.texts(), QStringList{"The \"Reason\" field cannot be blank."});
        QCOMPARE(d.focusWidget(), d.Edit1);

        d.Edit1->setText("Server move, back at 5 pm");
        d.edWarn->setValue(5);
        script.clear();
        script.answerNo();
        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QCOMPARE(script.texts(), QStringList{"Really force the users off of Kontiva Professional?"});
        QCOMPARE(settings(), before);
        QVERIFY(d.btOff->isEnabled());

        QTest::mouseClick(d.cbRepeat, Qt::LeftButton); // pending sound setting
        script.clear();
        script.answerYes();
        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QCOMPARE(script.texts(), (QStringList{"Really force the users off of Kontiva Professional?",
                                              "Users will be forced off of Kontiva Professional"}));
        QCOMPARE(script.shown().last().kind, support::BoxKind::Information);
        const QVariantMap row = settings();
        QCOMPARE(row.value("forceoff").toBool(), true);
        QCOMPARE(row.value("forcewho").toString(), QString("ADM"));
        QCOMPARE(row.value("forcereason").toString(), QString("Server move, back at 5 pm"));
        QCOMPARE(row.value("forcewarn").toInt(), 5);
        QCOMPARE(row.value("forcerepeat").toBool(), true);
        QCOMPARE(row.value("forcedate").toString(), QString("2024-03-13"));
        QVERIFY(row.value("forcetime").toString().startsWith("15:30:20"));
        QVERIFY(!d.btOff->isEnabled());
        QVERIFY(d.btOn->isEnabled());
    }

    void allowOnAndLastTime()
    {
        support::ClockOverride clock(kNow);
        support::MessageScript script;
        TfrmForce d;
        d.show();
        QTest::mouseClick(d.btHistory, Qt::LeftButton);
        QCOMPARE(script.texts(), QStringList{kFirstTime});

        d.cbUsers->setCurrentIndex(0);
        d.Edit1->setText("Say \"cheese\" %1 %s");
        script.answerYes(2);
        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QTest::mouseClick(d.btOn, Qt::LeftButton);
        QCOMPARE(script.texts().mid(3), (QStringList{"Really allow all users back in?",
                                                     "Users can log back in to Kontiva Professional"}));
        QCOMPARE(settings().value("forceoff").toBool(), false);
        QVERIFY(d.btOff->isEnabled() && !d.btOn->isEnabled());

        // Allow On keeps the record of the last Force Off.
        script.clear();
        QTest::mouseClick(d.btHistory, Qt::LeftButton);
        const QLocale locale;
        QCOMPARE(script.texts(),
                 QStringList{"The last time a forced logout was requested was by ADM on "
                             + locale.toString(kNow.date(), QLocale::ShortFormat) + " at "
                             + login::longTimeText(kNow.time()) + " because \"Say \"cheese\" %1 %s\""});
        QCOMPARE(script.shown().last().kind, support::BoxKind::Information);

        script.clear();
        script.answerNo();
        const QVariantMap before = settings();
        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QCOMPARE(settings(), before);
    }

    // A Force Off whose save fails (another program keeps the table busy)
    // leaves the switch as it was; Close later saves only the sound settings.
    void failedForceOffIsNotSavedLater()
    {
        store::Session::instance().setBusyTimeout(100);
        support::MessageScript script;
        TfrmForce d;
        d.show();
        d.cbUsers->setCurrentIndex(0);
        d.Edit1->setText("Upgrade");
        QTest::mouseClick(d.cbRepeat, Qt::LeftButton);
        {
            testkit::RawDb other(install->dataDir() + "/settings.db");
            QVERIFY(other.exec("BEGIN IMMEDIATE"));
            script.answerYes();
            QTest::mouseClick(d.btOff, Qt::LeftButton);
            QCOMPARE(script.shown().size(), 2);
            QCOMPARE(script.shown().last().kind, support::BoxKind::Error);
            QVERIFY(other.exec("COMMIT"));
        }
        QVERIFY(d.btOff->isEnabled());
        QTest::mouseClick(d.btClose, Qt::LeftButton);
        QCOMPARE(settings().value("forceoff").toBool(), false);
        QCOMPARE(settings().value("forcewho").toString(), QString());
        QCOMPARE(settings().value("forcerepeat").toBool(), true);
    }

    // No row: the defaults show, and Close with nothing changed makes no
    // row. Force Off makes it, unless another program made one meanwhile:
    // then that row is forced off, and there is never a second one.
    void emptySettingsTable()
    {
        testkit::deleteAllRows(catalogue::kSettings);
        support::MessageScript script;
        {
            TfrmForce d;
            d.show();
            QVERIFY(d.btOff->isEnabled() && !d.btOn->isEnabled());
            QCOMPARE(d.edWarn->value(), 3);
            QTest::mouseClick(d.btHistory, Qt::LeftButton);
            QCOMPARE(script.texts(), QStringList{kFirstTime});
            QTest::mouseClick(d.btClose, Qt::LeftButton);
            QVERIFY(!d.isVisible());
        }
        QCOMPARE(testkit::rowCount(catalogue::kSettings), 0);

        TfrmForce d;
        d.show();
        d.cbUsers->setCurrentIndex(1);
        d.Edit1->setText("Upgrade");
        QVERIFY(testkit::OtherProgram::runSql(
            install->dataDir() + "/settings.db",
            "INSERT INTO settings (\"ForceOff\", \"ForceWav\", \"forceWarn\") VALUES (FALSE, '/other.wav', 5);"));
        script.answerYes();
        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QCOMPARE(script.shown().size(), 3);
        QCOMPARE(script.texts().last(), QString("Users will be forced off of Kontiva Professional"));
        QCOMPARE(testkit::rowCount(catalogue::kSettings), 1);
        QCOMPARE(settings().value("forceoff").toBool(), true);
        QCOMPARE(settings().value("forcereason").toString(), QString("Upgrade"));
        QCOMPARE(settings().value("forcewarn").toInt(), 3);
        QCOMPARE(settings().value("forcewav").toString(), QString("/other.wav"));

        // A sound setting changed on an empty table is kept by Close.
        testkit::deleteAllRows(catalogue::kSettings);
        {
            TfrmForce again;
            again.show();
            QTest::mouseClick(again.cbRepeat, Qt::LeftButton);
            QTest::mouseClick(again.btClose, Qt::LeftButton);
        }
        QCOMPARE(testkit::rowCount(catalogue::kSettings), 1);
        QCOMPARE(settings().value("forcerepeat").toBool(), true);
        QCOMPARE(settings().value("forceoff").toBool(), false);
    }

    // Another supervisor changed the row while sound settings were being
    // edited here: Force Off fails once, the row is read again (with the
    // sound setting changed here kept), and the next Force Off works.
    void failedForceOffReadsTheRowAgain()
    {
        support::MessageScript script;
        TfrmForce d;
        d.show();
        d.cbUsers->setCurrentIndex(0);
        d.Edit1->setText("Upgrade");
        QTest::mouseClick(d.cbRepeat, Qt::LeftButton);
        const bool repeat = d.cbRepeat->isChecked();
        QVERIFY(testkit::OtherProgram::runSql(install->dataDir() + "/settings.db",
                                              "UPDATE settings SET \"ForceWav\" = '/other.wav';"));
        script.answerYes(2);
        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QCOMPARE(script.shown().size(), 2);
        QCOMPARE(script.shown()[1].kind, support::BoxKind::Error);
        QVERIFY2(script.texts()[1].contains("changed or deleted by another program"), qPrintable(script.texts()[1]));
        QVERIFY(d.btOff->isEnabled());
        QCOMPARE(d.edSound->text(), QString("/other.wav"));
        QCOMPARE(d.cbRepeat->isChecked(), repeat);

        QTest::mouseClick(d.btOff, Qt::LeftButton);
        QCOMPARE(script.texts().mid(2), (QStringList{"Really force the users off of Kontiva Professional?",
                                                     "Users will be forced off of Kontiva Professional"}));
        QCOMPARE(settings().value("forceoff").toBool(), true);
        QCOMPARE(settings().value("forcereason").toString(), QString("Upgrade"));
        QCOMPARE(settings().value("forcewav").toString(), QString("/other.wav"));
        QCOMPARE(settings().value("forcerepeat").toBool(), repeat);
    }

    // The close box and Escape save pending sound settings like Close.
    void closeBoxAndEscapeSaveTheSoundSettings()
    {
        {
            TfrmForce d;
            d.show();
            d.edSound->clear();
            QTest::keyClicks(d.edSound, "/tmp/typed.wav");
            QTest::mouseClick(d.cbPlay, Qt::LeftButton);
            d.close();
            QVERIFY(!d.isVisible());
        }
        QCOMPARE(settings().value("forcewav").toString(), QString("/tmp/typed.wav"));
        QCOMPARE(settings().value("forceplay").toBool(), true);
        {
            TfrmForce d;
            d.show();
            QTest::mouseClick(d.cbPlay, Qt::LeftButton);
            QTest::keyClick(&d, Qt::Key_Escape);
            QVERIFY(!d.isVisible());
        }
        QCOMPARE(settings().value("forceplay").toBool(), false);
    }

    // The dialog registers the settings table's password itself.
    void registersTheTablePassword()
    {
        testkit::useStore(install->configPath(), install->netDir(), false);
        store::Session::instance().addPassword(catalogue::startupPasswordA());
        store::Session::instance().addPassword(catalogue::startupPasswordB());
        support::MessageScript script;
        TfrmForce d;
        d.show();
        QVERIFY2(script.shown().isEmpty(), qPrintable(script.texts().join('\n')));
        QVERIFY(d.tblSettings.active());
        QVERIFY(store::Session::instance().passwords().contains(catalogue::forceOffPassword()));
    }

    void testPlaysOnceOrLoopsUntilStop()
    {
        login::SoundRecorder sound;
        support::MessageScript script;
        TfrmForce d;
        d.show();
        const QString wave = settings().value("forcewav").toString();
        QFile waveFile(wave);
        QVERIFY2(waveFile.open(QIODevice::ReadOnly), "the demo installation ships a wave file");
        const QByteArray header = waveFile.read(12);
        QVERIFY(header.startsWith("RIFF") && header.endsWith("WAVE"));

        QTest::mouseClick(d.btTest, Qt::LeftButton);
        QCOMPARE(sound.played.size(), 1);
        QCOMPARE(sound.played[0].path, wave);
        QVERIFY(!sound.played[0].loop);
        QCOMPARE(d.btTest->text(), QString("Test"));

        QTest::mouseClick(d.cbRepeat, Qt::LeftButton);
        QTest::mouseClick(d.btTest, Qt::LeftButton);
        QCOMPARE(d.btTest->text(), QString("Stop"));
        QVERIFY(sound.looping);
        QTest::mouseClick(d.btTest, Qt::LeftButton);
        QCOMPARE(d.btTest->text(), QString("Test"));
        QVERIFY(!sound.looping);
        QCOMPARE(sound.stops, 1);

        // A looping sound stops with the dialog.
        QTest::mouseClick(d.btTest, Qt::LeftButton);
        QTest::mouseClick(d.btClose, Qt::LeftButton);
        QVERIFY(!sound.looping);

        // A missing file plays nothing and says nothing; a long path plays.
        QTemporaryDir dir;
        const QString longDir = dir.filePath(QString(120, 'd')) + '/' + QString(100, 'e');
        QVERIFY(QDir().mkpath(longDir));
        const QString longPath = longDir + "/alarm.wav";
        QVERIFY(QFile::copy(wave, longPath));
        QVERIFY(longPath.size() > 200);
        sound.played.clear();
        login::playAlarmSound(longPath + ".missing", true, false);
        login::playAlarmSound("  ", true, false);
        QVERIFY(sound.played.isEmpty());
        login::playAlarmSound(longPath, true, false);
        QCOMPARE(sound.played.size(), 1);
        QCOMPARE(sound.played[0].path, longPath);
        QVERIFY(script.shown().isEmpty());
    }

    void chooserSetsTheSoundFile()
    {
        QTemporaryDir dir;
        const QString wave = dir.filePath("bell.wav");
        QVERIFY(QFile::copy(settings().value("forcewav").toString(), wave));
        TfrmForce d;
        d.show();
        bool ran = false;
        testkit::whenModal<QFileDialog>(
            [&](QFileDialog* f) {
                QCOMPARE(f->nameFilters(), (QStringList{"Wav files (*.wav)", "All files (*.*)"}));
                // Typed into the file name field, as the supervisor does. The
                // dialog's file system model lists the starting folder in a
                // thread and then selects the starting file: wait for the
                // list, and type with the field focused (while it is not,
                // typing adds to that selection instead of replacing it).
                auto* name = f->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                auto* list = f->findChild<QListView*>(QStringLiteral("listView"));
                QVERIFY(name && list);
                QTRY_VERIFY_WITH_TIMEOUT(list->model()->rowCount(list->rootIndex()) > 0, 30000);
                QApplication::setActiveWindow(f);
                name->setFocus();
                QTRY_VERIFY_WITH_TIMEOUT(name->hasFocus(), 30000);
                name->setText(wave);
                QTRY_COMPARE_WITH_TIMEOUT(f->selectedFiles(), QStringList{wave}, 30000);
                QMetaObject::invokeMethod(f, "accept");
            },
            &ran);
        QTest::mouseClick(d.sbDir, Qt::LeftButton);
        QVERIFY(ran);
        QCOMPARE(d.edSound->text(), wave);
        QTest::mouseClick(d.btClose, Qt::LeftButton);
        QCOMPARE(settings().value("forcewav").toString(), wave);
    }

    void whosOnAndHelp()
    {
        TfrmForce d;
        d.show();
        bool ran = false;
        testkit::whenModal<TfrmWhosOn>(
            [](TfrmWhosOn* w) {
                QCOMPARE(w->Timer1->interval(), 5000);
                w->reject();
            },
            &ran);
        QTest::mouseClick(d.btWhosOn, Qt::LeftButton);
        QVERIFY(ran);
        support::HelpRecorder help;
        QTest::mouseClick(d.btHelp, Qt::LeftButton);
        QCOMPARE(help.contexts(), QList<int>{1250});
    }
};

QTEST_MAIN(TestForce)
#include "tst_force.moc"
