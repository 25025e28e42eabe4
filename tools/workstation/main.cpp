// brisel-workstation: stands in for the Kontiva client of one workstation,
// for demonstrations and tests of the log-in control.
//   brisel-workstation [options] WHO MACHINE DATABASE
// Prints one line per event on standard output. Exit codes: 0 logged out,
// 1 error, 2 usage, 3 refused.
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "tools/workstation/Workstation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

int fail(const QString& line, int code)
{
    say(line);
    return code;
}

// SIGTERM, SIGINT and SIGHUP end the run through the event loop, so that the
// log-in rows are removed and the tables released as on a normal log-out.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

// The users of a load run: WHO and those after it in the user table.
QStringList usersFrom(const QString& first, int count)
{
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    QStringList result;
    if (!users.findKey({first}))
        return {first}; // reported as unknown at log-in
    while (!users.eof() && result.size() < count) {
        result << users.fieldByName(catalogue::fWho).asString();
        users.next();
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brisel-workstation"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stands in for the Kontiva client of one workstation: logs WHO in from MACHINE to DATABASE, holds the "
        "contact table open, and logs out when the users are forced off (after the warning time) or on SIGTERM."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("WHO"), QStringLiteral("the user ID"));
    parser.addPositionalArgument(QStringLiteral("MACHINE"), QStringLiteral("the machine name"));
    parser.addPositionalArgument(QStringLiteral("DATABASE"), QStringLiteral("the contact database code"));
    const QCommandLineOption configOption(QStringLiteral("config"),
                                          QStringLiteral("the store configuration (default: brisel-store.ini beside "
                                                         "the program, or $BRISEL_STORE_CONFIG)"),
                                          QStringLiteral("file"));
    const QCommandLineOption netDirOption(QStringLiteral("netdir"),
                                          QStringLiteral("the network control directory (default: NETDIR.INI beside "
                                                         "the program)"),
                                          QStringLiteral("dir"));
    const QCommandLineOption usersOption(QStringLiteral("users"),
                                         QStringLiteral("log in N users, WHO and those after it in the user table, "
                                                        "from MACHINE-1 to MACHINE-N"),
                                         QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("count the warning minutes as seconds"));
    const QCommandLineOption pollOption(QStringLiteral("poll"),
                                        QStringLiteral("read the settings row every MS milliseconds (default 2000)"),
                                        QStringLiteral("ms"), QStringLiteral("2000"));
    parser.addOptions({configOption, netDirOption, usersOption, secondsOption, pollOption});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    bool usersOk = false, pollOk = false;
    const int users = parser.value(usersOption).toInt(&usersOk);
    const int pollMs = parser.value(pollOption).toInt(&pollOk);
    if (args.size() != 3 || !usersOk || users < 1 || !pollOk || pollMs < 10) {
        std::fprintf(stderr, "%s", parser.helpText().toLocal8Bit().constData());
        return 2;
    }

    store::Session& session = store::Session::instance();
    const QString programDir = QCoreApplication::applicationDirPath();
    if (parser.isSet(configOption))
        session.setConfigPath(QDir(parser.value(configOption)).absolutePath());
    QString netDir = parser.value(netDirOption);
    if (netDir.isEmpty())
        netDir = store::readIniValue(QDir(programDir).filePath(QStringLiteral("NETDIR.INI")),
                                     QStringLiteral("Options"), QStringLiteral("NetDir"), QString());
    if (netDir.isEmpty())
        return fail(QStringLiteral("error: no network control directory (NETDIR.INI beside the program, or --netdir)"),
                    1);
    session.setNetFileDir(netDir);
    session.setPrivateDir(QDir::tempPath());
    for (const QString& password :
         {catalogue::startupPasswordA(), catalogue::startupPasswordB(), catalogue::forceOffPassword()})
        session.addPassword(password);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return fail(QStringLiteral("error: no signal pipe"), 1);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);

    try {
        Workstation::Options options;
        options.database = args[2];
        options.pollMs = pollMs;
        options.warnInSeconds = parser.isSet(secondsOption);
        options.who = users == 1 ? QStringList{args[0]} : usersFrom(args[0], users);
        if (options.who.size() < users)
            return fail(QStringLiteral("error: fewer than %1 users from %2 on").arg(users).arg(args[0]), 1);
        for (int i = 0; i < options.who.size(); ++i)
            options.machines << (users == 1 ? args[1] : QStringLiteral("%1-%2").arg(args[1]).arg(i + 1));

        Workstation workstation(options);
        QObject::connect(&workstation, &Workstation::message, &say);
        QObject::connect(&workstation, &Workstation::finished, &app, [] { QCoreApplication::exit(0); });
        QString why;
        if (!workstation.logIn(&why))
            return fail(QStringLiteral("refused: ") + why, 3);

        QSocketNotifier signalNotifier(signalPipe[1], QSocketNotifier::Read);
        QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
            say(QStringLiteral("signal received; logging out"));
            workstation.logOut();
            QCoreApplication::exit(0);
        });
        workstation.startPolling();
        say(QStringLiteral("ready"));
        const int code = app.exec();
        workstation.logOut();
        return code;
    } catch (const std::exception& e) {
        return fail(QStringLiteral("error: ") + QString::fromUtf8(e.what()), 1);
    }
}
