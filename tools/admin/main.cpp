// brisel-admin: the supervisor's routine work from the command line (users,
// permissions, settings, the log-in switch), on the installation beside the
// program or the one named by --config and --netdir. See 'brisel-admin --help'.
#include "tools/Console.h"
#include "tools/admin/Command.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brisel-admin"));
    return admin::run(app.arguments().mid(1), QCoreApplication::applicationDirPath(), tools::out(), tools::err());
}
