#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace ui {

// A title in large navy type, as the permission windows show the user and
// database they are about.
QLabel* makeTitleLabel(const QString& text, QWidget* parent);

} // namespace ui
