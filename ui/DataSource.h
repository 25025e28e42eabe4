#pragma once

#include <QObject>
#include <QPointer>

namespace store { class Table; class Field; }

namespace ui {

// Connects bound controls to a table object. Controls never listen to the
// table directly: they listen here, so that a window can rebind all of its
// controls to another table object in one call.
//
// dataChange runs when the current row or one of its fields changes
// (fieldIndex is the field's position, or -1 when the whole row is new: a
// move, an open, a close, a re-read or a new row).
class DataSource : public QObject {
    Q_OBJECT
public:
    explicit DataSource(QObject* parent = nullptr);
    ~DataSource() override;

    void setTable(store::Table* table);
    store::Table* table() const;
    bool active() const; // bound to a table that is open

    // The field of the current row, or nullptr when unbound, closed or unknown.
    store::Field* findField(const QString& name) const;
    // True while the current row is in edit or insert state.
    bool editing() const;

signals:
    void dataChange(int fieldIndex);
    void dataSetChange();  // rows were added, removed, re-read; opened or closed
    void rowChange();      // another row became current
    void stateChange();    // browse, edit, insert or inactive
    void tableChanged();   // bound to another table object

private:
    void onDataSet();
    void onRecord();
    void onField(int index);
    void onState();

    QPointer<store::Table> m_table;
};

} // namespace ui
