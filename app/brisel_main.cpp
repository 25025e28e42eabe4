// Brisel: the supervisor's user administration utility.

#include "shell/Startup.h"
#include "support/ErrorBox.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    support::Application app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brisel"));
    return shell::runBrisel(QCoreApplication::applicationDirPath());
}
