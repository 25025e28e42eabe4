#pragma once

// Small helpers for tests that drive windows offscreen.

#include "store/Catalogue.h"
#include "store/Table.h"

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
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, action, ran] {
        QWidget* modal = QApplication::activeModalWidget();
        T* dialog = qobject_cast<T*>(modal);
        if (!dialog) {
            if (++*tries > 500) {
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

// Rows of a table as maps from lower-case field name to value, in key order.
inline QList<QVariantMap> tableRows(const QString& tableName)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    QList<QVariantMap> rows;
    for (table.first(); !table.eof(); table.next()) {
        QVariantMap row;
        for (int i = 0; i < table.fieldCount(); ++i)
            row.insert(table.field(i).fieldName().toLower(), table.field(i).value());
        rows.append(row);
    }
    return rows;
}

inline int rowCount(const QString& tableName)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    return table.recordCount();
}

// A journal row in short: key, action, field name and value.
struct JournalEntry {
    QString recno;
    int action = -1;
    QString fieldname;
    QString to;
};

inline QList<JournalEntry> journalEntries()
{
    QList<JournalEntry> result;
    for (const QVariantMap& row : tableRows(catalogue::kMerge))
        result.append({row.value("recno").toString(), row.value("action").toInt(),
                       row.value("fieldname").toString(), row.value("to").toString()});
    return result;
}

} // namespace testkit
