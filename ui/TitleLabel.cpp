#include "ui/TitleLabel.h"

#include <QLabel>

namespace ui {

QLabel* makeTitleLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.5);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));
    label->setPalette(pal);
    return label;
}

} // namespace ui
