#include "ui/DbEdit.h"

#include "store/Field.h"

namespace ui {

DbEdit::DbEdit(QWidget* parent) : QLineEdit(parent)
{
    connect(&m_binding, &FieldBinding::bindingChanged, this, &DbEdit::bindingChanged);
    connect(&m_binding, &FieldBinding::valueChanged, this, &DbEdit::reload);
    connect(this, &QLineEdit::textEdited, this, &DbEdit::onTextEdited);
}

void DbEdit::setDataSource(DataSource* source) { m_binding.setDataSource(source); }

DataSource* DbEdit::dataSource() const { return m_binding.dataSource(); }

void DbEdit::setDataField(const QString& fieldName) { m_binding.setDataField(fieldName); }

QString DbEdit::dataField() const { return m_binding.dataField(); }

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
        if (store::Field* f = m_binding.field())
            length = f->size();
    }
    if (length > 0)
        setMaxLength(length);
    reload();
}

void DbEdit::reload()
{
    if (m_binding.writing())
        return;
    QString text;
    if (store::Field* f = m_binding.field()) {
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

void DbEdit::onTextEdited(const QString& text)
{
    if (!m_binding.field() || isReadOnly())
        return;
    if (!m_binding.write([&](store::Field& f) { f.setAsString(text); }))
        reload();
}

} // namespace ui
