#include "support/Help.h"

#include "support/Messages.h"
#include "support/Text.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace support {

namespace {

QString& configuredFile()
{
    static QString path;
    return path;
}

struct Recording {
    bool active = false;
    QList<int> contexts;
};

Recording& recording()
{
    static Recording r;
    return r;
}

// The help window: a browser over the help file with Back, Contents and Close.
class HelpWindow : public QDialog {
public:
    explicit HelpWindow(QWidget* parent) : QDialog(parent, Qt::Window)
    {
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(uiText(QStringLiteral("Brisel Help")));
        resize(640, 520);
        browser = new QTextBrowser(this);
        browser->setOpenExternalLinks(true);
        auto* buttons = new QDialogButtonBox(this);
        auto* back = buttons->addButton(uiText(QStringLiteral("&Back")), QDialogButtonBox::ActionRole);
        auto* contents = buttons->addButton(uiText(QStringLiteral("&Contents")), QDialogButtonBox::ActionRole);
        buttons->addButton(QDialogButtonBox::Close);
        connect(back, &QPushButton::clicked, browser, &QTextBrowser::backward);
        connect(browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
        back->setEnabled(false);
        connect(contents, &QPushButton::clicked, browser, &QTextBrowser::home);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(browser);
        layout->addWidget(buttons);
    }

    void showContext(const QString& file, int context)
    {
        QUrl url = QUrl::fromLocalFile(file);
        url.setFragment(QString::number(context));
        // The file's extension says nothing about its content: it is HTML.
        browser->setSource(url, QTextDocument::HtmlResource);
        browser->scrollToAnchor(QString::number(context));
    }

    QTextBrowser* browser = nullptr;
};

QPointer<HelpWindow>& window()
{
    static QPointer<HelpWindow> w;
    return w;
}

} // namespace

void setHelpFile(const QString& path) { configuredFile() = path; }

QString helpFile()
{
    if (!configuredFile().isEmpty())
        return configuredFile();
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Brisel.HLP"));
}

void openHelp(int context)
{
    if (recording().active) {
        recording().contexts.append(context);
        return;
    }
    const QString file = helpFile();
    if (!QFileInfo(file).isFile()) {
        showError(uiText(QStringLiteral("The help file %1 could not be found.  Help is not available."))
                      .arg(QDir::toNativeSeparators(file)));
        return;
    }
    // A window opened from a modal dialog must belong to that dialog, or the
    // dialog's modality would block it.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    HelpWindow* w = window();
    if (w && owner && (owner == w || w->isAncestorOf(owner)))
        owner = w->parentWidget();
    if (w && w->parentWidget() != owner) {
        w->close();
        w = nullptr;
    }
    if (!w) {
        w = new HelpWindow(owner);
        window() = w;
    }
    w->showContext(file, context);
    w->show();
    w->raise();
    w->activateWindow();
}

QTextBrowser* helpBrowser()
{
    return window() ? window()->browser : nullptr;
}

HelpRecorder::HelpRecorder()
{
    recording().active = true;
    recording().contexts.clear();
}

HelpRecorder::~HelpRecorder()
{
    recording().active = false;
    recording().contexts.clear();
}

QList<int> HelpRecorder::contexts() const { return recording().contexts; }

int HelpRecorder::lastContext() const
{
    return recording().contexts.isEmpty() ? 0 : recording().contexts.last();
}

} // namespace support
