#include "tools/admin/Command.h"

#include "shell/NetDirIni.h"
#include "shell/Startup.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/ErrorBox.h"
#include "support/Messages.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

namespace admin {

namespace {

const QList<Option>& globalOptions()
{
    static const QList<Option> options{
        {QStringLiteral("config"), QStringLiteral("FILE"),
         QStringLiteral("the store configuration (default: brisel-store.ini beside the program, or "
                        "$BRISEL_STORE_CONFIG)")},
        {QStringLiteral("netdir"), QStringLiteral("DIR"),
         QStringLiteral("the network control directory (default: NETDIR.INI beside the program)")},
        {QStringLiteral("json"), QString(), QStringLiteral("print the result as JSON, for scripts")},
        {QStringLiteral("help"), QString(), QStringLiteral("show help")},
    };
    return options;
}

const Option* findOption(const QList<Option>& options, const QString& name)
{
    for (const Option& o : options)
        if (o.name == name)
            return &o;
    return nullptr;
}

QString optionLines(const QList<Option>& options)
{
    QString text;
    for (const Option& o : options) {
        const QString left = QStringLiteral("  --") + o.name + (o.valueName.isEmpty() ? QString() : QLatin1Char(' ') + o.valueName);
        text += left.leftJustified(24) + QLatin1Char(' ') + o.help + QLatin1Char('\n');
    }
    return text;
}

QString programHelp(const QList<Command>& table)
{
    QString text = QStringLiteral(
        "Usage: brisel-admin [options] COMMAND [arguments]\n"
        "Scripts the supervisor's routine work on a Brisel installation, on either engine.\n"
        "Exit status: 0 done, 1 refused or failed (the reason on standard error), 2 usage error.\n\n"
        "Commands:\n");
    for (const Command& c : table)
        text += (QStringLiteral("  ") + c.name()).leftJustified(24) + QLatin1Char(' ') + c.summary + QLatin1Char('\n');
    text += QStringLiteral("\nOptions:\n") + optionLines(globalOptions());
    text += QStringLiteral("\n'brisel-admin COMMAND --help' describes a command.\n");
    return text;
}

QString commandHelp(const Command& c)
{
    QString text = QStringLiteral("Usage: brisel-admin %1%2%3\n%4\n")
                       .arg(c.name(), c.arguments.isEmpty() ? QString() : QLatin1Char(' ') + c.arguments,
                            c.options.isEmpty() ? QString() : QStringLiteral(" [options]"), c.summary);
    if (!c.details.isEmpty())
        text += QLatin1Char('\n') + c.details + QLatin1Char('\n');
    if (!c.options.isEmpty())
        text += QStringLiteral("\nOptions:\n") + optionLines(c.options);
    text += QStringLiteral("\nGlobal options:\n") + optionLines(globalOptions());
    return text;
}

// Parses options and positional arguments; "--" ends the options. False
// (with the message) on an unknown option or a missing value.
bool parseArgs(const QStringList& tokens, const QList<Option>& options, Args* args, QString* problem)
{
    bool optionsEnded = false;
    for (int i = 0; i < tokens.size(); ++i) {
        const QString& token = tokens[i];
        if (optionsEnded || !token.startsWith(QLatin1String("-")) || token == QLatin1String("-")) {
            args->positional << token;
            continue;
        }
        if (token == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (token == QLatin1String("-h")) {
            args->options.insert(QStringLiteral("help"), QString());
            continue;
        }
        QString name = token.mid(token.startsWith(QLatin1String("--")) ? 2 : 1);
        QString value;
        bool inlineValue = false;
        if (const int eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            inlineValue = true;
        }
        const Option* option = findOption(options, name);
        if (!option)
            option = findOption(globalOptions(), name);
        if (!option) {
            *problem = QStringLiteral("unknown option '%1'").arg(token);
            return false;
        }
        if (option->valueName.isEmpty()) {
            if (inlineValue) {
                *problem = QStringLiteral("option '--%1' takes no value").arg(name);
                return false;
            }
        } else if (!inlineValue) {
            if (i + 1 >= tokens.size()) {
                *problem = QStringLiteral("option '--%1' needs a value (%2)").arg(name, option->valueName);
                return false;
            }
            value = tokens[++i];
        }
        args->options.insert(name, value);
    }
    return true;
}

// The command named by the first words of tokens; count is how many words
// it took. Null when none matches.
const Command* matchCommand(const QList<Command>& table, const QStringList& tokens, int* count)
{
    for (int words = 2; words >= 1; --words) {
        if (tokens.size() < words)
            continue;
        for (const Command& c : table) {
            if (c.words == tokens.mid(0, words)) {
                *count = words;
                return &c;
            }
        }
    }
    return nullptr;
}

// The store pointed at the installation: the configuration and the network
// control directory from the options or beside the program, the table
// passwords, and the journal on when merge.db is there. False after telling
// what is missing.
bool openInstallation(const Args& args, const QString& programDir)
{
    store::Session& session = store::Session::instance();
    QString config;
    if (args.has(QStringLiteral("config")))
        config = QFileInfo(args.value(QStringLiteral("config"))).absoluteFilePath();
    else if (qEnvironmentVariableIsEmpty("BRISEL_STORE_CONFIG"))
        config = QDir(programDir).filePath(QStringLiteral("brisel-store.ini"));
    else
        config = QFileInfo(qEnvironmentVariable("BRISEL_STORE_CONFIG")).absoluteFilePath();
    if (!QFileInfo(config).isFile()) {
        support::showError(QStringLiteral("No store configuration at %1 (give --config FILE).")
                               .arg(QDir::toNativeSeparators(config)));
        return false;
    }
    QString netDir = args.value(QStringLiteral("netdir"));
    if (!args.has(QStringLiteral("netdir"))) {
        netDir = shell::readNetDir(programDir);
        if (!shell::netDirIsSet(netDir)) {
            support::showError(QStringLiteral("The shared network control directory has not been initialized.  "
                                              "Run netdir, or give --netdir DIR."));
            return false;
        }
    }
    if (!QFileInfo(netDir).isDir()) {
        support::showError(QStringLiteral("The network control directory %1 does not exist.")
                               .arg(QDir::toNativeSeparators(netDir)));
        return false;
    }
    session.setConfigPath(config);
    session.setNetFileDir(netDir);
    session.setPrivateDir(QDir::tempPath());
    for (const QString& password :
         {catalogue::startupPasswordA(), catalogue::startupPasswordB(), catalogue::forceOffPassword()})
        session.addPassword(password);
    support::setJournalActive(support::journalFileExists());
    shell::recoverJournalRows();
    return true;
}

// The message boxes on the console: errors and warnings (and the rare
// information or question of domain code) go to standard error, as text or
// as one JSON object a line. Counts the errors told.
class ConsoleBoxes {
public:
    ConsoleBoxes(QTextStream& err, bool json)
        : m_console([this, &err, json](support::BoxKind kind, const QString& text, const QString& detail) {
              if (kind == support::BoxKind::Error)
                  ++m_errors;
              QString message = text;
              message.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
              if (json) {
                  const QString key = kind == support::BoxKind::Error ? QStringLiteral("error")
                      : kind == support::BoxKind::Warning             ? QStringLiteral("warning")
                                                                      : QStringLiteral("message");
                  QJsonObject object{{key, message}};
                  if (!detail.isEmpty())
                      object.insert(QStringLiteral("detail"), detail);
                  err << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << '\n';
              } else {
                  err << (kind == support::BoxKind::Warning ? QStringLiteral("Warning: ") : QString()) << message
                      << '\n';
                  if (!detail.isEmpty())
                      err << "  " << detail << '\n';
              }
              err.flush();
          })
    {
    }
    int errors() const { return m_errors; }

private:
    int m_errors = 0;
    support::ConsoleMessages m_console;
};

} // namespace

QList<Command> commands()
{
    return userCommands() + permCommands() + reportCommands() + loginCommands() + restoreCommands();
}

int run(const QStringList& arguments, const QString& programDir, QTextStream& out, QTextStream& err)
{
    const QList<Command> table = commands();
    const bool json = arguments.contains(QLatin1String("--json"));
    Output output(out, err, json);
    ConsoleBoxes boxes(err, json);
    support::reportStoreFailures();

    // Global options may come before the command's words.
    QStringList leading;
    int first = 0;
    while (first < arguments.size() && arguments[first].startsWith(QLatin1Char('-'))) {
        const QString& token = arguments[first];
        leading << token;
        const Option* option = findOption(globalOptions(), token.mid(2));
        ++first;
        if (option && !option->valueName.isEmpty() && first < arguments.size())
            leading << arguments[first++];
    }
    const QStringList rest = arguments.mid(first);
    int words = 0;
    const Command* command = matchCommand(table, rest, &words);
    if (!command) {
        Args args;
        QString problem;
        parseArgs(leading + rest, {}, &args, &problem);
        // A group's first word alone: list its commands.
        QStringList group;
        for (const Command& c : table)
            if (!rest.isEmpty() && c.words.size() > 1 && c.words.first() == rest.first())
                group << c.words.mid(1).join(QLatin1Char(' '));
        if (args.has(QStringLiteral("help")) && (rest.isEmpty() || !group.isEmpty())) {
            QList<Command> listed;
            for (const Command& c : table)
                if (rest.isEmpty() || c.words.first() == rest.first())
                    listed << c;
            out << programHelp(listed);
            out.flush();
            return ExitOk;
        }
        if (rest.isEmpty() || rest.first().startsWith(QLatin1Char('-')))
            return output.usage(problem.isEmpty() ? QStringLiteral("no command given") : problem, QString());
        if (!group.isEmpty())
            return output.usage(QStringLiteral("'%1' needs one of: %2").arg(rest.first(), group.join(QStringLiteral(", "))),
                                QString());
        return output.usage(QStringLiteral("unknown command '%1'").arg(rest.first()), QString());
    }

    Context context{output, {}};
    QString problem;
    if (!parseArgs(leading + rest.mid(words), command->options, &context.args, &problem))
        return output.usage(problem, command->name());
    if (context.args.has(QStringLiteral("help"))) {
        out << commandHelp(*command);
        out.flush();
        return ExitOk;
    }
    const int given = int(context.args.positional.size());
    if (given < command->minArgs || given > command->maxArgs)
        return output.usage(QStringLiteral("%1 expects %2").arg(command->name(), command->arguments.isEmpty()
                                                                                    ? QStringLiteral("no arguments")
                                                                                    : command->arguments),
                            command->name());

    try {
        if (command->usesStore && !openInstallation(context.args, programDir))
            return ExitFailed;
        const int before = boxes.errors();
        int code = command->run(context);
        store::flushBatches();
        if (code == ExitOk && boxes.errors() > before)
            code = ExitFailed; // an error told deep inside the work
        return code;
    } catch (const std::exception& error) {
        support::reportError(error);
        return ExitFailed;
    }
}

} // namespace admin
