#include "ui/DbEdit.h"

#include "support/ErrorBox.h"
#include "store/Table.h"
#include "ui/DataSource.h"

namespace ui {

DbEdit::DbEdit(QWidget* parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textEdited, this, &DbEdit::onTextEdited);
}

void DbEdit::setDataSource(DataSource* source)
{
    if (m_source == source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source) {
        connect(m_source, &DataSource::dataChange, this, &DbEdit::onDataChange);
        connect(m_source, &DataSource::tableChanged, this, &DbEdit::bindingChanged);
    }
    bindingChanged();
}

DataSource* DbEdit::dataSource() const { return m_source.data(); }

void DbEdit::setDataField(const QString& fieldName)
{
    m_fieldName = fieldName;
    bindingChanged();
}

QString DbEdit::dataField() const { return m_fieldName; }

void DbEdit::setCharCase(CharCase charCase)
{
    m_case = charCase;
    if (charCase == CharCase::Normal)
        setValidator(nullptr);
    else
        setValidator(new CaseValidator(charCase, this));
}

CharCase DbEdit::charCase() const { return m_case; }

void DbEdit::setFieldMaxLength(int length)
{
    m_maxLength = length;
    bindingChanged();
}

void DbEdit::bindingChanged()
{
    int length = m_maxLength;
    if (length <= 0) {
        if (store::Field* f = m_source ? m_source->findField(m_fieldName) : nullptr)
            length = f->size();
    }
    if (length > 0)
        setMaxLength(length);
    reload();
}

void DbEdit::reload()
{
    if (m_writing)
        return;
    QString text;
    if (store::Field* f = m_source ? m_source->findField(m_fieldName) : nullptr) {
        try {
            text = f->asString();
        } catch (const std::exception&) {
            // A closed or repositioning table shows an empty box.
        }
    }
    if (text != this->text()) {
        const int cursor = cursorPosition();
        setText(text);
        setCursorPosition(qMin(cursor, text.size()));
    }
}

void DbEdit::onDataChange(int fieldIndex)
{
    if (fieldIndex < 0) {
        reload();
        return;
    }
    store::Field* f = m_source ? m_source->findField(m_fieldName) : nullptr;
    if (f && f->index() == fieldIndex)
        reload();
}

void DbEdit::onTextEdited(const QString& text)
{
    store::Field* f = m_source ? m_source->findField(m_fieldName) : nullptr;
    if (!f || isReadOnly())
        return;
    store::Table* table = m_source->table();
    m_writing = true;
    const bool ok = support::guarded([&] {
        if (!m_source->editing())
            table->edit();
        f->setAsString(text);
    });
    m_writing = false;
    if (!ok)
        reload();
}

} // namespace ui
