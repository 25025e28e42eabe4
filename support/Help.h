#pragma once

#include <QList>
#include <QString>

class QTextBrowser;
class QWidget;

// The program's help: one HTML file ("Brisel.HLP" beside the program) with
// one anchor per help context (<a name="1000">), shown in the program's own
// help window.
namespace support {

// The help file in use; until set, "Brisel.HLP" in the program's directory.
void setHelpFile(const QString& path);
QString helpFile();

// Opens the help window at the context's anchor. A missing help file gives an
// error box that names it.
void openHelp(int context);

// The open help window's browser, or nullptr (tests look at what it shows).
QTextBrowser* helpBrowser();

// Tests: while a HelpRecorder is alive, openHelp only records the context;
// it neither looks for the file nor opens a window.
class HelpRecorder {
public:
    HelpRecorder();
    ~HelpRecorder();
    QList<int> contexts() const;
    int lastContext() const; // 0 when nothing was opened
    HelpRecorder(const HelpRecorder&) = delete;
    HelpRecorder& operator=(const HelpRecorder&) = delete;
};

} // namespace support
