#include "ui/DialogFrame.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QSize>
#include <QWidget>

namespace ui {

void fixDialogBorder(QWidget* window)
{
    Qt::WindowFlags flags = window->windowFlags() & Qt::WindowType_Mask;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
             | Qt::WindowCloseButtonHint;
    window->setWindowFlags(flags);
    if (QLayout* layout = window->layout())
        layout->setSizeConstraint(QLayout::SetFixedSize);
}

void fixDialogSize(QWidget* window, QSize size)
{
    if (QLayout* layout = window->layout())
        layout->setSizeConstraint(QLayout::SetDefaultConstraint);
    window->setFixedSize(window->sizeHint().expandedTo(size));
}

void centreOnScreen(QWidget* window)
{
    QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

bool firstShowing(QWidget* window, bool& shown)
{
    if (shown)
        return false;
    shown = true;
    centreOnScreen(window);
    return true;
}

void setTabChain(std::initializer_list<QWidget*> widgets)
{
    QWidget* previous = nullptr;
    for (QWidget* w : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

} // namespace ui
