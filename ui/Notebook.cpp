#include "ui/Notebook.h"

namespace ui {

Notebook::Notebook(QWidget* parent) : QTabWidget(parent) {}

int Notebook::addPage(QWidget* page, const QString& title) { return addTab(page, title); }

void Notebook::setPageVisible(QWidget* page, bool visible)
{
    const int index = indexOf(page);
    if (index < 0 || isTabVisible(index) == visible)
        return;
    setTabVisible(index, visible);
    if (!visible && currentIndex() == index) {
        for (int i = 0; i < count(); ++i)
            if (isTabVisible(i)) {
                setCurrentIndex(i);
                break;
            }
    }
}

bool Notebook::isPageVisible(QWidget* page) const
{
    const int index = indexOf(page);
    return index >= 0 && isTabVisible(index);
}

void Notebook::showPage(QWidget* page)
{
    const int index = indexOf(page);
    if (index >= 0 && isTabVisible(index))
        setCurrentIndex(index);
}

} // namespace ui
