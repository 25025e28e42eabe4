#include "ui/DataSource.h"

#include "store/Table.h"
#include "ui/Rebind.h"
#include "ui/RowState.h"

namespace ui {

DataSource::DataSource(QObject* parent) : QObject(parent) {}

DataSource::~DataSource() = default;

void DataSource::setTable(store::Table* table)
{
    const bool changed = rebind(this, m_table, table, [this](store::Table* t) {
        connect(t, &store::Table::dataSetChanged, this, &DataSource::onDataSet);
        connect(t, &store::Table::recordChanged, this, &DataSource::onRecord);
        connect(t, &store::Table::fieldChanged, this, &DataSource::onField);
        connect(t, &store::Table::stateChanged, this, &DataSource::onState);
        // A table object that goes away unbinds every control at once.
        connect(t, &QObject::destroyed, this, [this] {
            emit tableChanged();
            emit dataSetChange();
            emit dataChange(-1);
        });
    });
    if (!changed)
        return;
    emit tableChanged();
    emit dataSetChange();
    emit dataChange(-1);
}

store::Table* DataSource::table() const { return m_table.data(); }

bool DataSource::active() const { return m_table && m_table->active(); }

store::Field* DataSource::findField(const QString& name) const
{
    if (!active())
        return nullptr;
    return m_table->findField(name);
}

bool DataSource::editing() const { return m_table && isEditing(*m_table); }

void DataSource::onDataSet()
{
    emit dataSetChange();
    emit dataChange(-1);
}

void DataSource::onRecord()
{
    emit rowChange();
    emit dataChange(-1);
}

void DataSource::onField(int index) { emit dataChange(index); }

void DataSource::onState()
{
    emit stateChange();
    // Insert starts a new row and cancel brings the stored one back: both
    // change what the current row holds.
    emit dataChange(-1);
}

} // namespace ui
