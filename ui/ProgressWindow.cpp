#include "ui/ProgressWindow.h"

#include "support/Clock.h"
#include "support/Text.h"
#include "ui/DialogFrame.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace ui {

namespace {

// The bar runs in thousandths: its range is an int, the counts need not be.
constexpr int kBarSteps = 1000;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

} // namespace

ProgressWindow::ProgressWindow(const QString& caption, const QString& units, Cancel cancel, QWidget* parent)
    : QDialog(parent), m_units(units), m_started(support::coarseTickMsecs())
{
    setWindowTitle(caption);
    setWindowModality(Qt::ApplicationModal);

    m_what = new QLabel(this);
    m_count = new QLabel(this);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, kBarSteps);
    m_bar->setTextVisible(false);
    m_bar->setMinimumWidth(360);
    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    m_note->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_what);
    layout->addWidget(m_count);
    layout->addWidget(m_bar);
    layout->addWidget(m_note);
    if (cancel == Cancel::Offered) {
        m_cancelButton = new QPushButton(text("Cancel"), this);
        connect(m_cancelButton, &QPushButton::clicked, this, &ProgressWindow::reject);
        auto* row = new QHBoxLayout;
        row->addStretch();
        row->addWidget(m_cancelButton);
        layout->addLayout(row);
    }
    fixDialogBorder(this);
    if (cancel == Cancel::NotOffered) // no close box either
        setWindowFlags(windowFlags() & ~(Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint));
}

ProgressWindow::~ProgressWindow() = default;

QString ProgressWindow::countText(qint64 done, qint64 total, const QString& units)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates); // "12,400" wherever the program runs
    return text("%1 of %2 %3").arg(english.toString(done), english.toString(total), units);
}

void ProgressWindow::begin(const QString& what, qint64 total)
{
    m_what->setText(what);
    m_total = total;
    m_done = 0;
    if (isVisible())
        redraw(support::coarseTickMsecs());
}

bool ProgressWindow::advance(qint64 done)
{
    m_done = done;
    const qint64 now = support::coarseTickMsecs();
    if (isHidden()) {
        if (now - m_started < kShowAfterMs)
            return !m_cancelled;
        redraw(now);
        show();
        centreOnScreen(this);
        m_events.processEvents(true);
        m_checkedAt = now;
        return !m_cancelled;
    }
    // One cheap clock read per call, and nothing more until the throttle is
    // due: this runs after every row. A clock that went back (a test's override
    // ending) counts as due.
    if (now - m_checkedAt < support::EventThrottle::kIntervalMs && now >= m_checkedAt)
        return !m_cancelled;
    m_checkedAt = now;
    if (now - m_drawnAt >= kRedrawMs || now < m_drawnAt)
        redraw(now);
    m_events.processEvents();
    return !m_cancelled;
}

void ProgressWindow::setNote(const QString& note)
{
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
}

QString ProgressWindow::whatText() const { return m_what->text(); }

QString ProgressWindow::countText() const { return m_count->text(); }

void ProgressWindow::redraw(qint64 now)
{
    m_count->setText(countText(m_done, m_total, m_units));
    const qint64 done = qBound<qint64>(0, m_done, m_total);
    m_bar->setValue(m_total > 0 ? int(done * kBarSteps / m_total) : 0);
    m_drawnAt = now;
}

void ProgressWindow::reject()
{
    // The window closes when the walk has stopped and its opener deletes it.
    if (!m_cancelButton || m_cancelled)
        return;
    m_cancelled = true;
    m_cancelButton->setEnabled(false);
}

void ProgressWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    reject();
}

} // namespace ui
