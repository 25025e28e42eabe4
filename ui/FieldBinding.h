#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

namespace store { class Field; }

namespace ui {

class DataSource;

// The part every bound control shares: which data source and which field of
// its current row the control shows, when to show it again, and writing the
// control's changes into the row. A control holds one as a member and
// connects to its signals:
// - bindingChanged: another source, field name or table object, so the
//   field's size or type may differ too; set up again and show the value.
// - valueChanged: the field's value may have changed; show it again.
// While write() runs, the control's own change comes back through these
// signals; writing() tells the control to ignore it.
class FieldBinding : public QObject {
    Q_OBJECT
public:
    explicit FieldBinding(QObject* parent = nullptr);

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    void setDataField(const QString& fieldName);
    QString dataField() const;

    // The bound field of the current row, or nullptr when unbound, closed or
    // unknown.
    store::Field* field() const;
    bool writing() const;

    // Puts a browsing row into edit state and hands the field to setValue.
    // Errors end in the error box. Returns false when there is no field or
    // the write failed; the control then shows the stored value again.
    bool write(const std::function<void(store::Field&)>& setValue);

signals:
    void bindingChanged();
    void valueChanged();

private:
    void onDataChange(int fieldIndex);

    QPointer<DataSource> m_source;
    QString m_fieldName;
    bool m_writing = false;
};

} // namespace ui
