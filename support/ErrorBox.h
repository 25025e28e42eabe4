#pragma once

#include <QApplication>
#include <exception>
#include <utility>

// The application-wide error box: an error that no handler catches is shown
// to the user with its message, the command that raised it ends, and the
// program goes on.
namespace support {

// Shows the error's message with showError.
void reportError(const std::exception& error);

// Failures of the store that no caller can catch (a write batch whose last
// commit fails as it ends) go to the error box too. The Application does this
// itself.
void reportStoreFailures();

// Runs f; an exception it raises is reported and swallowed. Returns true when
// f ran to its end. Handlers connected to signals run through this, because
// an exception must not unwind through the toolkit's signal code.
template <typename F>
bool guarded(F&& f)
{
    try {
        std::forward<F>(f)();
        return true;
    } catch (const std::exception& error) {
        reportError(error);
        return false;
    }
}

// The program's QApplication: events whose handlers raise end in the error
// box instead of ending the program.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace support
