#include "shell/Startup.h"

#include "shell/Main.h"
#include "shell/NetDirIni.h"
#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/Outbox.h"
#include "support/Changes.h"
#include "support/ErrorBox.h"
#include "store/FileModes.h"
#include "store/Session.h"
#include "support/Messages.h"
#include "support/Text.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace shell {

namespace {

struct Launches {
    bool recording = false;
    QList<QStringList> started;
};

Launches& launches()
{
    static Launches l;
    return l;
}

// Starts a program and does not wait for it; the outcome is not looked at.
void startDetached(const QString& program, const QStringList& arguments)
{
    if (launches().recording) {
        launches().started.append(QStringList{program} + arguments);
        return;
    }
    QProcess::startDetached(program, arguments, QFileInfo(program).absolutePath());
}

} // namespace

QString setupProgramPath(const QString& programDir)
{
    return joinPath(programDir, QStringLiteral("netdir"));
}

QString privateDirPath(const QString& programDir)
{
    return joinPath(joinPath(programDir, QStringLiteral("priv")), QStringLiteral("PRBrisel"));
}

bool checkNetDir(const QString& programDir, QString* netDir)
{
    const QString value = readNetDir(programDir);
    if (netDirIsSet(value)) {
        if (netDir)
            *netDir = value;
        return true;
    }
    const bool run = support::confirm(
        support::uiText(QStringLiteral("The shared network control directory has not been initialized.  "
                                       "Do you wish to run the NETDIR command now?")),
        support::BoxKind::Information);
    if (run) {
        // The set-up program writes NETDIR.INI beside this program.
        startDetached(setupProgramPath(programDir),
                      {QStringLiteral("--program-dir"), QDir::toNativeSeparators(programDir)});
    }
    return false;
}

QString configureStore(const QString& programDir, const QString& netDir)
{
    store::Session& session = store::Session::instance();
    if (qEnvironmentVariableIsEmpty("BRISEL_STORE_CONFIG"))
        session.setConfigPath(joinPath(programDir, QStringLiteral("brisel-store.ini")));
    session.setNetFileDir(netDir);

    const QString privateDir = privateDirPath(programDir);
    if (!store::makeFolder(privateDir))
        support::showError(support::uiText(QStringLiteral("Could not create the private directory ")) + privateDir);
    session.setPrivateDir(privateDir);

    session.addPassword(catalogue::startupPasswordA());
    session.addPassword(catalogue::startupPasswordB());
    return privateDir;
}

void recoverJournalRows()
{
    if (!support::journalFileExists())
        return;
    support::guarded([] { store::moveLeftoverOutboxes(catalogue::kAlias); });
}

int runBrisel(const QString& programDir)
{
    QString netDir;
    if (!checkNetDir(programDir, &netDir))
        return 0;
    configureStore(programDir, netDir);
    recoverJournalRows();
    TfrmMain main(programDir);
    main.show();
    return QApplication::exec();
}

LaunchRecorder::LaunchRecorder()
{
    launches().recording = true;
    launches().started.clear();
}

LaunchRecorder::~LaunchRecorder()
{
    launches().recording = false;
    launches().started.clear();
}

QList<QStringList> LaunchRecorder::launched() const { return launches().started; }

} // namespace shell
