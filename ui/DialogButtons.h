#pragma once

class QLayout;
class QPushButton;
class QWidget;

namespace ui {

// A dialog's "OK", "Cancel" and "&Help" buttons; OK is the default button.
struct DialogButtons {
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* help = nullptr;
};

DialogButtons makeDialogButtons(QWidget* dialog);

// Lays the dialog out: the content on the left, taking the spare width, and
// the buttons in a column at the top right.
void layOutBesideButtons(QWidget* dialog, QLayout* content, const DialogButtons& buttons);

} // namespace ui
