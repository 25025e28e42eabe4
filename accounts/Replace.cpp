#include "accounts/Replace.h"

#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/EventThrottle.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/CaseValidator.h"
#include "ui/DialogButtons.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 1200;
constexpr int kWhoLength = 3;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

} // namespace

// While a replace runs: the busy pointer, OK and Cancel disabled; all of it
// undone, and the progress line emptied, on every path out.
class ReplaceRunning {
public:
    explicit ReplaceRunning(TfrmReplace* dialog) : m_dialog(dialog)
    {
        m_dialog->m_running = true;
        m_dialog->btOK->setEnabled(false);
        m_dialog->btCancel->setEnabled(false);
    }
    ~ReplaceRunning()
    {
        m_dialog->m_running = false;
        m_dialog->btOK->setEnabled(m_dialog->choice().any());
        m_dialog->btCancel->setEnabled(true);
        m_dialog->lblStatus->clear();
    }
    ReplaceRunning(const ReplaceRunning&) = delete;
    ReplaceRunning& operator=(const ReplaceRunning&) = delete;

private:
    ui::BusyCursor m_busy;
    TfrmReplace* m_dialog;
};

TfrmReplace::TfrmReplace(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(text("Globally search and replace WHO values"));

    edWho = new QLineEdit(this);
    edWho->setMaxLength(kWhoLength);
    edWho->setValidator(new ui::CaseValidator(ui::CharCase::Upper, edWho));
    cbTarget = new QComboBox(this);
    cbTarget->setEditable(false);
    auto* lblSource = new QLabel(text("Seach for this user ID:"), this);
    auto* lblTarget = new QLabel(text("Replace with this user ID:"), this);
    lblSource->setBuddy(edWho);
    lblTarget->setBuddy(cbTarget);

    auto* group = new QGroupBox(text("Replace ALL Who fields for the following:"), this);
    cbContacts = new QCheckBox(text("All contact databases"), group);
    cbEventsNotDone = new QCheckBox(text("For NOT DONE events in all databases"), group);
    cbEventsDone = new QCheckBox(text("For DONE events in all databases (includes NOTES)"), group);
    cbMarketing = new QCheckBox(text("Marketing assistant databases"), group);
    cbHoliday = new QCheckBox(text("Holiday schedules"), group);
    auto* boxes = new QVBoxLayout(group);
    for (QCheckBox* box : {cbContacts, cbEventsNotDone, cbEventsDone, cbMarketing, cbHoliday}) {
        boxes->addWidget(box);
        connect(box, &QCheckBox::clicked, this, ui::guardedSlot(this, &TfrmReplace::cbContactsClick));
    }

    const ui::DialogButtons buttons = ui::makeDialogButtons(this);
    btOK = buttons.ok;
    btCancel = buttons.cancel;
    btHelp = buttons.help;
    btOK->setEnabled(false);

    lblStatus = new QLabel(this);
    lblStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lblStatus->setMinimumHeight(lblStatus->fontMetrics().height() + 6);

    auto* fields = new QGridLayout;
    fields->addWidget(lblSource, 0, 0);
    fields->addWidget(edWho, 0, 1);
    fields->addWidget(lblTarget, 1, 0);
    fields->addWidget(cbTarget, 1, 1);
    auto* content = new QVBoxLayout;
    content->addLayout(fields);
    content->addWidget(group);
    auto* column = new QVBoxLayout;
    column->addWidget(btOK);
    column->addWidget(btCancel);
    column->addWidget(btHelp);
    column->addStretch();
    auto* upper = new QHBoxLayout;
    upper->addLayout(content, 1);
    upper->addLayout(column);
    auto* top = new QVBoxLayout(this);
    top->addLayout(upper);
    top->addWidget(lblStatus);

    ui::setTabChain({edWho, cbTarget, btOK, btCancel, btHelp, cbContacts, cbEventsNotDone, cbEventsDone, cbMarketing,
                     cbHoliday});

    connect(btOK, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmReplace::btOKClick));
    connect(btCancel, &QPushButton::clicked, this, &TfrmReplace::reject);
    connect(btHelp, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmReplace::btHelpClick));

    ui::fixDialogBorder(this);
}

void TfrmReplace::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Only the first showing fills the list; a window restored from the task
    // bar keeps the chosen target.
    if (!ui::firstShowing(this, m_shown))
        return;
    support::guarded([this] { FormShow(); });
    edWho->setFocus();
}

void TfrmReplace::FormShow()
{
    cbTarget->clear();
    store::Table users(catalogue::kAlias, catalogue::kUserPref);
    users.open();
    store::Field& who = users.fieldByName(catalogue::fWho);
    for (users.first(); !users.eof(); users.next())
        cbTarget->addItem(who.asString());
    users.close();
    cbTarget->setCurrentIndex(cbTarget->count() > 0 ? 0 : -1);
}

accounts::ReplaceChoice TfrmReplace::choice() const
{
    accounts::ReplaceChoice c;
    c.contacts = cbContacts->isChecked();
    c.eventsNotDone = cbEventsNotDone->isChecked();
    c.eventsDone = cbEventsDone->isChecked();
    c.marketing = cbMarketing->isChecked();
    c.holiday = cbHoliday->isChecked();
    return c;
}

void TfrmReplace::cbContactsClick()
{
    if (!m_running)
        btOK->setEnabled(choice().any());
}

void TfrmReplace::btOKClick()
{
    // The click never closes the dialog, and a click that arrives while a
    // replace runs (events are processed between rows) is ignored.
    if (m_running || !choice().any())
        return;
    edWho->setText(support::trimRight(edWho->text()));
    const QString source = edWho->text();
    const QString target = cbTarget->currentText();
    if (support::isBlank(target)) {
        // The list of users could not be filled: there is nobody to hand
        // the rows to, and a blank owner would orphan them.
        support::showError(text("The \"Replace with this user ID\" field cannot be blank."));
        cbTarget->setFocus();
        return;
    }
    const accounts::ReplaceChoice ticked = choice();

    const QString question = support::isBlank(source)
        ? text("Really replace blank WHO fields with \"%1\"?").arg(target)
        : text("Really replace user \"%1\" with \"%2\"?").arg(source, target);
    QString preview;
    {
        // Counted through shared opens: nobody is locked out while the
        // supervisor reads the numbers.
        ui::BusyCursor busy;
        preview = accounts::previewText(accounts::countReplace(source, ticked), ticked);
    }
    if (!support::confirm(question, support::BoxKind::Question, preview))
        return;

    m_closeRequested = false;
    bool completed = false;
    {
        ReplaceRunning running(this);
        accounts::ReplaceHooks hooks;
        hooks.status = [this](const QString& progress) { lblStatus->setText(progress); };
        // The window's events every 10 ms of rows rather than after each
        // one (that cost more than the rows); every row once a close waits.
        support::EventThrottle events;
        hooks.afterRow = [this, &events] {
            events.processEvents(m_closeRequested);
            return !m_closeRequested;
        };
        completed = accounts::replaceAll(source, target, ticked, hooks);
    }
    if (!completed) {
        // Stopped because the window is being closed: let it close now.
        reject();
        return;
    }
    support::showInfo(text("Finished"));
}

void TfrmReplace::btHelpClick() { support::openHelp(kHelpContext); }

void TfrmReplace::reject()
{
    // Escape and Cancel do nothing while rows are being replaced.
    if (!m_running)
        QDialog::reject();
}

void TfrmReplace::closeEvent(QCloseEvent* event)
{
    if (m_running) {
        // Closing stops the replace after the current row; the window
        // closes once the walk has let go of its tables.
        m_closeRequested = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
