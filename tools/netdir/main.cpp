// netdir: sets the shared network control directory in NETDIR.INI beside
// Brisel.
//   netdir [--program-dir DIR] [--set PATH]
// Without --set it asks in a dialog.

#include "NetDirDialog.h"

#include "shell/NetDirIni.h"
#include "support/ErrorBox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
    // Writing a given directory needs no window system.
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--set", 5) == 0)
            headless = true;
    }
    std::unique_ptr<QCoreApplication> app;
    if (headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<support::Application>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netdir"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sets the shared network control directory in NETDIR.INI beside Brisel."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("program-dir"),
         QStringLiteral("The folder of Brisel, where NETDIR.INI is written (default: this program's folder)."),
         QStringLiteral("DIR")},
        {QStringLiteral("set"), QStringLiteral("Write this directory without asking."), QStringLiteral("PATH")},
    });
    parser.process(*app);

    const QString programDir = parser.isSet(QStringLiteral("program-dir"))
                                   ? parser.value(QStringLiteral("program-dir"))
                                   : QCoreApplication::applicationDirPath();
    if (headless) {
        const QString dir = parser.value(QStringLiteral("set")).trimmed();
        if (!shell::netDirIsSet(dir) || dir == QLatin1String("/")) {
            QTextStream(stderr) << "netdir: the directory must not be blank\n";
            return 2;
        }
        if (!shell::writeNetDir(programDir, dir)) {
            QTextStream(stderr) << "netdir: could not write " << shell::netDirIniPath(programDir) << "\n";
            return 1;
        }
        return 0;
    }

    NetDirDialog dialog(programDir);
    return dialog.exec() == QDialog::Accepted ? 0 : 1;
}
