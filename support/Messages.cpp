#include "support/Messages.h"

#include "store/StoreError.h"
#include "support/Text.h"

#include <QApplication>
#include <QMessageBox>

#include "store/Table.h"
#include <QtDebug>

#include <deque>
#include <utility>
#include <vector>

namespace support {

namespace {

struct ScriptState {
    const MessageScript* owner = nullptr;
    QList<ShownBox> shown;
    std::deque<std::function<bool(const QString&)>> answers;
    int beeps = 0;
    std::function<void(const ShownBox&)> look;
};

// Live scripts, innermost last; the innermost one answers.
std::vector<ScriptState>& scripts()
{
    static std::vector<ScriptState> list;
    return list;
}

ScriptState* activeScript()
{
    auto& list = scripts();
    return list.empty() ? nullptr : &list.back();
}

ScriptState& stateOf(const MessageScript* script)
{
    for (auto& state : scripts()) {
        if (state.owner == script)
            return state;
    }
    // Unreachable: every script registers itself on construction.
    static ScriptState orphan;
    return orphan;
}

struct ConsoleState {
    ConsoleMessages::Sink sink;
    bool answer = false;
};

std::vector<ConsoleState>& consoles()
{
    static std::vector<ConsoleState> list;
    return list;
}

// Hands a box to the console sink; false when no console is set.
bool toConsole(BoxKind kind, const QString& message, const QString& detail)
{
    if (consoles().empty())
        return false;
    consoles().back().sink(kind, message, detail);
    return true;
}

bool haveWidgets()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// The system beep; a script counts it instead.
void beep()
{
    if (ScriptState* script = activeScript()) {
        ++script->beeps;
        return;
    }
    if (haveWidgets() && consoles().empty())
        QApplication::beep();
}

QString titleOf(BoxKind kind)
{
    switch (kind) {
    case BoxKind::Error:
        return uiText(QStringLiteral("Error"));
    case BoxKind::Warning:
        return uiText(QStringLiteral("Warning"));
    case BoxKind::Information:
        return uiText(QStringLiteral("Information"));
    case BoxKind::Question:
        return uiText(QStringLiteral("Confirm"));
    }
    return QString();
}

QMessageBox::Icon iconOf(BoxKind kind)
{
    switch (kind) {
    case BoxKind::Error:
        return QMessageBox::Critical;
    case BoxKind::Warning:
        return QMessageBox::Warning;
    case BoxKind::Information:
        return QMessageBox::Information;
    case BoxKind::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// Shows one modal box; returns the button pressed.
int showBox(BoxKind kind, const QString& message, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton, const QString& detail = QString())
{
    if (toConsole(kind, message, detail))
        return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    if (!haveWidgets()) {
        // No window system to show a box on: say it on the console instead.
        qWarning().noquote() << titleOf(kind) + QStringLiteral(": ") + message
                                    + (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + QLatin1Char(')'));
        return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    }
    QMessageBox box(iconOf(kind), titleOf(kind), message, buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    if (!detail.isEmpty())
    {
        // A question's detail (what Yes will change) must be read before
        // answering, so it stands under the question; an error's reason waits
        // behind the details button.
        if (buttons.testFlag(QMessageBox::Yes))
            box.setInformativeText(detail);
        else
            box.setDetailedText(detail);
    }
    return box.exec();
}

// Records a box in the active script; false when no script is alive.
bool record(BoxKind kind, const QString& message, const QString& detail = QString())
{
    // A box waits for the supervisor: a write batch must not keep tables
    // locked meanwhile.
    store::flushBatches();
    ScriptState* script = activeScript();
    if (!script)
        return false;
    const ShownBox box{kind, message, kind, detail};
    script->shown.append(box);
    if (const auto look = script->look)
        look(box);
    return true;
}

} // namespace

int showError(const QString& message)
{
    return showError(message, QString());
}

int showError(const QString& message, const QString& detail)
{
    beep();
    if (!record(BoxKind::Error, message, detail))
        showBox(BoxKind::Error, message, QMessageBox::Ok, QMessageBox::Ok, detail);
    return QMessageBox::Ok;
}

void showErrorQuiet(const QString& message)
{
    if (!record(BoxKind::Error, message))
        showBox(BoxKind::Error, message, QMessageBox::Ok, QMessageBox::Ok);
}

int showError(const QString& message, const std::exception& reason)
{
    QString detail;
    if (const auto* storeError = dynamic_cast<const store::StoreError*>(&reason))
        detail = storeError->message();
    else
        detail = QString::fromUtf8(reason.what());
    return showError(message, detail.trimmed());
}

void showWarning(const QString& message)
{
    beep();
    if (!record(BoxKind::Warning, message))
        showBox(BoxKind::Warning, message, QMessageBox::Ok, QMessageBox::Ok);
}

void showInfo(const QString& message)
{
    if (!record(BoxKind::Information, message))
        showBox(BoxKind::Information, message, QMessageBox::Ok, QMessageBox::Ok);
}

bool confirm(const QString& message, BoxKind icon, const QString& detail)
{
    if (ScriptState* script = activeScript()) {
        // Recorded as a question whatever its icon, so that a test can tell
        // it from an information box.
        script->shown.append({BoxKind::Question, message, icon, detail});
        if (script->answers.empty()) {
            qWarning().noquote() << "MessageScript: no answer queued, answering No to:" << message;
            return false;
        }
        auto answer = std::move(script->answers.front());
        script->answers.pop_front();
        return answer(message);
    }
    if (!consoles().empty()) {
        toConsole(BoxKind::Question, message, detail);
        return consoles().back().answer;
    }
    const BoxKind kind = icon == BoxKind::Information ? BoxKind::Information : BoxKind::Question;
    return showBox(kind, message, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, detail)
        == QMessageBox::Yes;
}

ConsoleMessages::ConsoleMessages(Sink sink, bool answer)
{
    consoles().push_back({std::move(sink), answer});
}

ConsoleMessages::~ConsoleMessages()
{
    consoles().pop_back();
}

MessageScript::MessageScript()
{
    scripts().push_back(ScriptState{this, {}, {}, 0, {}});
}

MessageScript::~MessageScript()
{
    auto& list = scripts();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->owner == this) {
            list.erase(it);
            break;
        }
    }
}

void MessageScript::answerYes(int times)
{
    for (int i = 0; i < times; ++i)
        stateOf(this).answers.push_back([](const QString&) { return true; });
}

void MessageScript::answerNo(int times)
{
    for (int i = 0; i < times; ++i)
        stateOf(this).answers.push_back([](const QString&) { return false; });
}

void MessageScript::answerWith(std::function<bool(const QString&)> answer)
{
    stateOf(this).answers.push_back(std::move(answer));
}

void MessageScript::whileShown(std::function<void(const ShownBox&)> look)
{
    stateOf(this).look = std::move(look);
}

QList<ShownBox> MessageScript::shown() const
{
    return stateOf(this).shown;
}

QStringList MessageScript::texts() const
{
    QStringList result;
    for (const ShownBox& box : stateOf(this).shown)
        result.append(box.text);
    return result;
}

QStringList MessageScript::details() const
{
    QStringList result;
    for (const ShownBox& box : stateOf(this).shown)
        result.append(box.detail);
    return result;
}

int MessageScript::beeps() const
{
    return stateOf(this).beeps;
}

void MessageScript::clear()
{
    ScriptState& state = stateOf(this);
    // Forgets what was shown and sounded; answers still queued stay queued.
    state.shown.clear();
    state.beeps = 0;
}

} // namespace support
