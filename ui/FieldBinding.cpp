#include "ui/FieldBinding.h"

#include "store/Table.h"
#include "support/ErrorBox.h"
#include "ui/DataSource.h"
#include "ui/Rebind.h"
#include "ui/RowState.h"

namespace ui {

FieldBinding::FieldBinding(QObject* parent) : QObject(parent) {}

void FieldBinding::setDataSource(DataSource* source)
{
    const bool changed = rebind(this, m_source, source, [this](DataSource* s) {
        connect(s, &DataSource::dataChange, this, &FieldBinding::onDataChange);
        connect(s, &DataSource::tableChanged, this, &FieldBinding::bindingChanged);
    });
    if (changed)
        emit bindingChanged();
}

DataSource* FieldBinding::dataSource() const { return m_source.data(); }

void FieldBinding::setDataField(const QString& fieldName)
{
    m_fieldName = fieldName;
    emit bindingChanged();
}

QString FieldBinding::dataField() const { return m_fieldName; }

store::Field* FieldBinding::field() const
{
    return m_source ? m_source->findField(m_fieldName) : nullptr;
}

bool FieldBinding::writing() const { return m_writing; }

bool FieldBinding::write(const std::function<void(store::Field&)>& setValue)
{
    store::Field* f = field();
    if (!f)
        return false;
    m_writing = true;
    const bool ok = support::guarded([&] {
        startEditing(*m_source->table());
        setValue(*f);
    });
    m_writing = false;
    return ok;
}

void FieldBinding::onDataChange(int fieldIndex)
{
    if (fieldIndex < 0) {
        emit valueChanged();
        return;
    }
    store::Field* f = field();
    if (f && f->index() == fieldIndex)
        emit valueChanged();
}

} // namespace ui
