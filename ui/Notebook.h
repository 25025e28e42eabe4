#pragma once

// A notebook of pages whose tabs can be hidden and shown again, each page
// keeping its place among the others.
//
// API in short: addPage(page, title) adds a page; setPageVisible(page, on)
// hides or shows its tab (a hidden current page gives way to the first
// visible one); isPageVisible(page); showPage(page) makes it current.

#include <QTabWidget>

namespace ui {

class Notebook : public QTabWidget {
    Q_OBJECT
public:
    explicit Notebook(QWidget* parent = nullptr);

    int addPage(QWidget* page, const QString& title);
    void setPageVisible(QWidget* page, bool visible);
    bool isPageVisible(QWidget* page) const;
    void showPage(QWidget* page);
};

} // namespace ui
