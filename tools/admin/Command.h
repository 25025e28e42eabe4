#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

// The commands of brisel-admin: a table of named commands, each with its
// usage, options and the function that runs it, so that a new command is one
// more row. main() and the tests run them through admin::run.
namespace admin {

enum Exit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

struct Option {
    QString name;      // without the leading "--"
    QString valueName; // empty for a flag
    QString help;
};

// A command line after the command's words: positional arguments and the
// options given (a flag's value is empty).
struct Args {
    QStringList positional;
    QMap<QString, QString> options;
    bool has(const QString& name) const { return options.contains(name); }
    QString value(const QString& name) const { return options.value(name); }
};

// Where a command writes: its result on out, as tab-separated lines or as
// JSON; refusals and errors go to err through the message boxes (see
// Admin.cpp), which the program routes to the console.
class Output {
public:
    Output(QTextStream& out, QTextStream& err, bool json) : m_out(out), m_err(err), m_json(json) {}
    bool json() const { return m_json; }

    // A list: a heading line and one line per row in text; an array of
    // objects keyed by keys in JSON.
    void table(const QStringList& headings, const QStringList& keys, const QList<QVariantList>& rows);
    // A result: its fields as "key<TAB>value" lines (or only the values of
    // line, when given), or one JSON object.
    void result(const QJsonObject& object, const QStringList& line = {});
    // A line of text; nothing in JSON, where the result says it all.
    void text(const QString& line);
    // Text exactly as given (a document such as a CSV), in either mode.
    void write(const QString& document);
    // A usage error, with the hint where help is.
    int usage(const QString& message, const QString& command);

    QTextStream& err() { return m_err; }

private:
    QTextStream& m_out;
    QTextStream& m_err;
    bool m_json;
};

struct Context {
    Output& out;
    Args args;
};

struct Command {
    QStringList words;  // {"user", "add"}
    QString arguments;  // the usage after the words: WHO "FULL NAME"
    QString summary;    // one line
    QString details;    // more lines for --help; may be empty
    QList<Option> options;
    int minArgs = 0;
    int maxArgs = 0;
    std::function<int(Context&)> run;
    bool usesStore = true;

    QString name() const { return words.join(QLatin1Char(' ')); }
};

// The command table, in the order --help lists it.
QList<Command> commands();
QList<Command> userCommands();  // UserCommands.cpp
QList<Command> permCommands();  // PermCommands.cpp
QList<Command> loginCommands(); // LoginCommands.cpp
QList<Command> reportCommands();  // ReportCommands.cpp
QList<Command> restoreCommands(); // RestoreCommands.cpp

// Runs one command line (without the program name). programDir is where
// NETDIR.INI and brisel-store.ini are looked for. Returns the exit status.
int run(const QStringList& arguments, const QString& programDir, QTextStream& out, QTextStream& err);

} // namespace admin
