#include "ui/DialogButtons.h"

#include "support/Text.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace ui {

DialogButtons makeDialogButtons(QWidget* dialog)
{
    DialogButtons buttons;
    buttons.ok = new QPushButton(support::uiText(QStringLiteral("OK")), dialog);
    buttons.cancel = new QPushButton(support::uiText(QStringLiteral("Cancel")), dialog);
    buttons.help = new QPushButton(support::uiText(QStringLiteral("&Help")), dialog);
    buttons.ok->setDefault(true);
    return buttons;
}

void layOutBesideButtons(QWidget* dialog, QLayout* content, const DialogButtons& buttons)
{
    auto* column = new QVBoxLayout;
    column->addWidget(buttons.ok);
    column->addWidget(buttons.cancel);
    column->addWidget(buttons.help);
    column->addStretch();
    auto* top = new QHBoxLayout(dialog);
    top->addLayout(content, 1);
    top->addLayout(column);
}

} // namespace ui
