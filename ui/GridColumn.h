#pragma once

#include <QList>
#include <QString>

namespace ui {

// One column of a bound grid: the field it shows, its heading and its width
// in characters of the grid's font. Boolean fields show as check boxes.
struct GridColumn {
    QString fieldName;
    QString title;
    int widthChars = 10;
    bool readOnly = false; // never editable, even in an editable grid
};


} // namespace ui
