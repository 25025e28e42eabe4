#pragma once

#include "support/EventThrottle.h"
#include "support/Progress.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ui {

// The progress of a long walk, for a walk that reports to it (see
// support::Progress): a caption, what is being done, the count ("12,400 of
// 100,000 pairs") and a bar, with a Cancel button when the work may stop
// half-way. It stays hidden until kShowAfterMs of work have passed on
// support::coarseTickMsecs() (tests step it with ClockOverride), so short walks
// show nothing. Once shown it is application-modal: the other windows take
// no input while the walk goes on, though they are repainted. The texts are
// redrawn at most every kRedrawMs and events are processed through an
// EventThrottle, so that reporting after every row costs one cheap clock
// read.
//
// Cancel, Esc and the close box ask the walk to stop: advance() returns
// false from then on. Without Cancel, Esc and the close box do nothing.
// The opener keeps the object for the whole walk and deletes it afterwards.
class ProgressWindow : public QDialog, public support::Progress {
    Q_OBJECT
public:
    static constexpr qint64 kShowAfterMs = 500;
    static constexpr qint64 kRedrawMs = 200;

    enum class Cancel { Offered, NotOffered };

    // units names what is counted, in the plural ("pairs").
    ProgressWindow(const QString& caption, const QString& units, Cancel cancel, QWidget* parent = nullptr);
    ~ProgressWindow() override;

    void begin(const QString& what, qint64 total) override;
    bool advance(qint64 done) override;

    // A line under the count, such as what Cancel leaves behind.
    void setNote(const QString& note);
    bool cancelled() const { return m_cancelled; }
    QString whatText() const;
    QString countText() const;
    // "12,400 of 100,000 pairs".
    static QString countText(qint64 done, qint64 total, const QString& units);

public slots:
    void reject() override; // Esc and the Cancel button

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void redraw(qint64 now);

    QString m_units;
    QLabel* m_what;
    QLabel* m_count;
    QProgressBar* m_bar;
    QLabel* m_note;
    QPushButton* m_cancelButton = nullptr;
    support::EventThrottle m_events;
    qint64 m_started;
    qint64 m_drawnAt = 0;
    qint64 m_checkedAt = 0; // when the clock last made events or a redraw due
    qint64 m_total = 0;
    qint64 m_done = 0;
    bool m_cancelled = false;
};

} // namespace ui
