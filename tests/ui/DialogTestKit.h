#pragma once

// Small helpers for tests that drive windows offscreen.

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

namespace testkit {

// Runs action on the next modal dialog of type T once it is up (inside its
// exec()). The action must close the dialog. A dialog of another type, or
// none within a few seconds, fails the test and closes what is open.
template <typename T>
void whenModal(std::function<void(T*)> action, bool* ran = nullptr)
{
    // Owned by the application: a timer whose deleteLater() was posted inside
    // the dialog's exec() may never see an event loop again before the test
    // ends, and the application deletes its children when it goes.
    auto* timer = new QTimer(QCoreApplication::instance());
    auto tries = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, action, ran] {
        QWidget* modal = QApplication::activeModalWidget();
        T* dialog = qobject_cast<T*>(modal);
        if (!dialog) {
            if (++*tries > 3000) { // 30 s: a first file dialog loads the MIME database
                timer->deleteLater();
                timer->stop();
                qWarning("whenModal: the expected dialog did not appear");
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (ran)
            *ran = true;
        action(dialog);
        if (dialog->isVisible() && QApplication::activeModalWidget() == dialog) {
            qWarning("whenModal: the action left the dialog open; rejecting it");
            dialog->reject();
        }
    });
    timer->start();
}

// Double-clicks a line of a view as a mouse does it: the first click, then
// the second press and release, on the line's first cell.
inline void doubleClickLine(QAbstractItemView* view, int row)
{
    const QPoint cell = view->visualRect(view->model()->index(row, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
}

} // namespace testkit
