#include "ui/HidePanel.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace ui {

HidePanel::HidePanel(QWidget* covered) : QFrame(covered->parentWidget()), m_covered(covered)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setFrameShape(QFrame::NoFrame);
    m_label = new QLabel(this);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    covered->installEventFilter(this);
    hide();
}

void HidePanel::setCaption(const QString& text) { m_label->setText(text); }

QString HidePanel::caption() const { return m_label->text(); }

QWidget* HidePanel::coveredWidget() const { return m_covered.data(); }

void HidePanel::setCovering(bool covering)
{
    m_covering = covering;
    if (m_covered)
        m_covered->setEnabled(!covering);
    place();
    setVisible(covering);
    if (covering)
        raise();
}

bool HidePanel::covering() const { return m_covering; }

bool HidePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_covered && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        place();
    return QFrame::eventFilter(watched, event);
}

void HidePanel::place()
{
    if (m_covered)
        setGeometry(m_covered->geometry());
}

} // namespace ui
