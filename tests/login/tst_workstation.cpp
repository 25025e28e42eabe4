// The log-in control with real workstation processes: forcing two of them
// off through the dialog, a third refused until Allow On, the simulator's
// own rows and signals, and the main window's "somebody is using Kontiva"
// test and Delete while one runs.

#include "login/force.h"
#include "shell/Main.h"
#include "store/Catalogue.h"
#include "support/Messages.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "testkit/WorkstationProcess.h"
#include "ui/DialogTestKit.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

using testkit::WorkstationProcess;

namespace {

const QString kInUseAtShow =
    QStringLiteral("You cannot delete or replace existing users while others are accessing Kontiva.");
const QString kInUseNow =
    QStringLiteral("Could not get exclusive access to the contact.db table.  Somebody is using Kontiva");

// The machines of the log-in rows, sorted.
QStringList machinesOn()
{
    QStringList machines = testkit::column(catalogue::kUsersOn, "MachineName");
    machines.sort();
    return machines;
}

} // namespace

class TestWorkstation : public QObject {
    Q_OBJECT
    std::unique_ptr<TestInstall> install;

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(WorkstationProcess::path()), "build brisel-workstation"); }
    void init()
    {
        install = std::make_unique<TestInstall>();
        QVERIFY(install->ok());
        testkit::deleteAllRows(catalogue::kUsersOn);
    }
    void cleanup() { install.reset(); }

    void forceOffAndAllowOnEndToEnd()
    {
        WorkstationProcess one(*install), two(*install), three(*install);
        QVERIFY(one.logIn({"JDS", "WS-1", "MAIN"}));
        QVERIFY(two.logIn({"MKL", "WS-2", "MAIN"}));
        QCOMPARE(machinesOn(), (QStringList{"WS-1", "WS-2"}));

        support::MessageScript script;
        TfrmForce d;
        d.show();
        QTest::mouseClick(d.btHistory, Qt::LeftButton);
        QCOMPARE(script.texts(), QStringList{"This is the first time the Force Logout has been used."});
        d.cbUsers->setCurrentIndex(d.cbUsers->findText("ADM"));
        d.Edit1->setText("Moving the server");
        d.edWarn->setValue(2); // seconds for the simulators
        script.answerYes();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(d.btOff, Qt::LeftButton);

        for (WorkstationProcess* station : {&one, &two}) {
            QCOMPARE(station->waitForLine("forced off by"),
                     QString("forced off by ADM: Moving the server; logging out in 2 seconds"));
            QCOMPARE(station->waitForExit(), 0);
            QVERIFY(!station->waitForLine("logged out:").isEmpty());
        }
        QVERIFY2(clock.elapsed() >= 2000, "they wait out the warning");
        QVERIFY(machinesOn().isEmpty());

        three.start({"RTP", "WS-3", "MAIN"});
        QCOMPARE(three.waitForExit(), 3);
        QCOMPARE(three.waitForLine("refused"), QString("refused: users are forced off by ADM: Moving the server"));
        QVERIFY(machinesOn().isEmpty());

        script.clear();
        QTest::mouseClick(d.btHistory, Qt::LeftButton);
        QVERIFY(script.texts().value(0).startsWith("The last time a forced logout was requested was by ADM on "));

        script.answerYes();
        QTest::mouseClick(d.btOn, Qt::LeftButton);
        QVERIFY(three.logIn({"RTP", "WS-3", "MAIN"}));
        QCOMPARE(machinesOn(), QStringList{"WS-3"});
    }

    // The rows a log-in writes, several log-ins in one process, and SIGTERM.
    void logInRowsAndTermination()
    {
        const int timesBefore = testkit::findRow(catalogue::kUserDb, "who", "ADM").value("ntimes").toInt();
        WorkstationProcess load(*install);
        QVERIFY(load.logIn({"--users", "3", "ADM", "LOAD", "MAIN"}));
        QCOMPARE(testkit::column(catalogue::kUsersOn, catalogue::fWho), (QStringList{"ADM", "JDS", "MKL"}));
        QCOMPARE(machinesOn(), (QStringList{"LOAD-1", "LOAD-2", "LOAD-3"}));
        QCOMPARE(testkit::findRow(catalogue::kUserPref, "who", "JDS").value("loginmachinename").toString(),
                 QString("LOAD-2"));
        QVariantMap adm;
        for (const QVariantMap& row : testkit::tableRows(catalogue::kUserDb))
            if (row.value("who") == "ADM" && row.value("db") == "MAIN")
                adm = row;
        QCOMPARE(adm.value("ntimes").toInt(), timesBefore + 1);
        QCOMPARE(adm.value("datelastlogin").toString(), QDate::currentDate().toString(Qt::ISODate));

        load.stop(); // SIGTERM
        QCOMPARE(load.waitForExit(), 0);
        QVERIFY(machinesOn().isEmpty());
        QVERIFY(load.lines().contains("logged out: MKL on LOAD-3"));

        WorkstationProcess nobody(*install);
        nobody.start({"NOB", "WS-9", "MAIN"});
        QCOMPARE(nobody.waitForExit(), 3);
        QCOMPARE(nobody.waitForLine("refused"), QString("refused: there is no user NOB"));
    }

    // While a workstation runs, the main window refuses Delete; once it has
    // gone, Delete asks its question.
    void mainWindowSeesTheRunningWorkstation()
    {
        WorkstationProcess station(*install);
        QVERIFY(station.logIn({"RTP", "WS-1", "MAIN"}));
        const int users = testkit::rowCount(catalogue::kUserPref);
        support::MessageScript script;
        TfrmMain w;
        w.show();
        QCOMPARE(script.texts(), QStringList{kInUseAtShow});
        QVERIFY(!w.btDelete->isEnabled());
        script.clear();
        w.DeleteUser1->trigger();
        QCOMPARE(script.texts(), QStringList{kInUseNow});
        QCOMPARE(testkit::rowCount(catalogue::kUserPref), users);

        station.stop();
        script.clear();
        script.answerNo();
        w.DeleteUser1->trigger();
        QCOMPARE(script.shown().size(), 1);
        QCOMPARE(script.shown().first().kind, support::BoxKind::Question);
        QCOMPARE(testkit::rowCount(catalogue::kUserPref), users);

        // The force-off command opens the force-off dialog.
        bool ran = false;
        testkit::whenModal<TfrmForce>([](TfrmForce* d) { d->reject(); }, &ran);
        w.ForceUsersOff1->trigger();
        QVERIFY(ran);
    }
};

QTEST_MAIN(TestWorkstation)
#include "tst_workstation.moc"
