#pragma once

#include "support/ErrorBox.h"

namespace ui {

// A slot that runs one of a window's handlers through support::guarded, so
// that an error it raises ends in the error box instead of unwinding through
// the toolkit's signal code:
//     connect(OKBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmUser::OKBtnClick));
template <typename Window>
auto guardedSlot(Window* window, void (Window::*handler)())
{
    return [window, handler] { support::guarded([window, handler] { (window->*handler)(); }); };
}

} // namespace ui
