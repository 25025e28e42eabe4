#pragma once

#include <initializer_list>

class QWidget;

namespace ui {

// A fixed border with a close box and no minimise or maximise box; the size
// follows the window's layout.
void fixDialogBorder(QWidget* window);

// Moves the window to the middle of the screen it is on.
void centreOnScreen(QWidget* window);

// Tab moves through the widgets in the order given.
void setTabChain(std::initializer_list<QWidget*> widgets);

} // namespace ui
