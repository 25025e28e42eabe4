#pragma once

#include <QString>
#include <QStringList>
#include <QList>
#include <exception>
#include <functional>

class QWidget;

// The message boxes every window uses. Tests script them: while a
// MessageScript is alive no real box is shown; each box is recorded and
// answered from the script's queue.
namespace support {

enum class BoxKind { Error, Warning, Information, Question };

int showError(const QString& message);   // exclamation beep, error box, OK; returns QMessageBox::Ok
void showErrorQuiet(const QString& message); // error box, OK, no beep
// The same box with detail text below the message (the box's details).
int showError(const QString& message, const QString& detail);
// Ends a command that failed on an error, usually the store's: the box says
// the program's message word for word and gives the error's own words (which
// table, which file, what went wrong) as its detail text.
int showError(const QString& message, const std::exception& reason);
void showWarning(const QString& message); // critical-stop beep, warning box, OK
void showInfo(const QString& message);    // information box, OK, no beep

// A Yes/No question; true only for Yes. icon is Question or Information.
// A non-empty detail is shown in smaller type under the question.
bool confirm(const QString& message, BoxKind icon = BoxKind::Question, const QString& detail = QString());

struct ShownBox {
    BoxKind kind;          // Question for every Yes/No box
    QString text;
    BoxKind icon = kind;   // the icon the box shows
    QString detail;        // the detail text; empty when the box has none
};

// A command-line program shows no boxes: while a ConsoleMessages is alive
// (and no MessageScript), every box goes to the sink as its kind, text and
// detail, no beep sounds, and a question gets the answer given here.
class ConsoleMessages {
public:
    using Sink = std::function<void(BoxKind kind, const QString& text, const QString& detail)>;
    explicit ConsoleMessages(Sink sink, bool answer = false);
    ~ConsoleMessages();
    ConsoleMessages(const ConsoleMessages&) = delete;
    ConsoleMessages& operator=(const ConsoleMessages&) = delete;
};

class MessageScript {
public:
    MessageScript();
    ~MessageScript();
    void answerYes(int times = 1);
    void answerNo(int times = 1);
    // Queues an answer computed when the question is asked (the callback
    // gets the question's text); lets a test look around while a box is up.
    void answerWith(std::function<bool(const QString&)> answer);
    // Runs look while each error, warning or information box is up, as a
    // real box would let the program run its events: a test sees the
    // program's state behind the box.
    void whileShown(std::function<void(const ShownBox&)> look);
    QList<ShownBox> shown() const;
    QStringList texts() const;
    QStringList details() const; // each box's detail text, in order
    int beeps() const;   // beeps sounded while the script was alive
    void clear();
    MessageScript(const MessageScript&) = delete;
    MessageScript& operator=(const MessageScript&) = delete;
};

} // namespace support
