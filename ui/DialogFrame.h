#pragma once

#include <initializer_list>

class QSize;
class QWidget;

namespace ui {

// A fixed border with a close box and no minimise or maximise box; the size
// follows the window's layout.
void fixDialogBorder(QWidget* window);

// Fixes the window at the given size, or larger where its layout needs more
// room (a larger font). Call after fixDialogBorder.
void fixDialogSize(QWidget* window, QSize size);

// Moves the window to the middle of the screen it is on.
void centreOnScreen(QWidget* window);

// True on a window's first showing, which centres it; later showings (a
// window restored from the task bar) keep where it is and what the user chose.
bool firstShowing(QWidget* window, bool& shown);

// Tab moves through the widgets in the order given.
void setTabChain(std::initializer_list<QWidget*> widgets);

} // namespace ui
