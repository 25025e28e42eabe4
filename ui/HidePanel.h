#pragma once

// A panel with a centred caption that lies exactly on top of one widget (a
// container of the controls to hide) and hides it: it has the system's
// button-face colour, follows the covered widget's place and size, and while
// it covers, the covered controls cannot be reached with the mouse or Tab.
//
// API in short: HidePanel(covered) (the panel becomes a sibling of covered);
// setCaption(text); setCovering(bool) shows it on top or hides it; covering().

#include <QFrame>
#include <QPointer>

class QLabel;

namespace ui {

class HidePanel : public QFrame {
    Q_OBJECT
public:
    explicit HidePanel(QWidget* covered);

    void setCaption(const QString& text);
    QString caption() const;
    void setCovering(bool covering);
    bool covering() const;
    QWidget* coveredWidget() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    QLabel* m_label;
    QPointer<QWidget> m_covered;
    bool m_covering = false;
};

} // namespace ui
