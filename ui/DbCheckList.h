#pragma once

// A check list bound by position to a run of adjacent boolean fields of a
// data source's current row (see permissions/PermModel.h): item p (from 0)
// stands for the field at the run's first position plus p.
//
// API in short: setDataSource, setRunFields(first, last) and setCaptions (one
// caption per field of the run) set it up. The list keeps no state of its
// own: loadFromRow() ticks the items from the row (a blank field unticked),
// keeping the scroll position; storeToRow() puts the row into edit state and
// writes every field of the run from the ticks, without saving. A tick or an
// untick made by the user (mouse or space bar) emits itemToggled; loading
// never does. The window decides what to do with it (usually storeToRow and
// its count label, "%d set, %d clear" from checkedCount()).

#include <QListWidget>
#include <QPointer>
#include <QVector>

namespace store { class Table; }

namespace ui {

class DataSource;

class DbCheckList : public QListWidget {
    Q_OBJECT
public:
    explicit DbCheckList(QWidget* parent = nullptr);

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    void setRunFields(const QString& firstField, const QString& lastField);
    // One checkable item per caption, all unticked.
    void setCaptions(const QStringList& captions);

    // Ticks the items from the current row; raises StoreError when the row
    // has no such run or the run's length is not the number of items. Does
    // nothing while the source is not open.
    void loadFromRow();
    // Writes every field of the run from the ticks; the row is not saved.
    void storeToRow();

    QVector<bool> checks() const;
    void setChecks(const QVector<bool>& checks); // as loading: no itemToggled
    bool isChecked(int item) const;
    void setChecked(int item, bool on);           // as the user: emits itemToggled
    int checkedCount() const;

signals:
    void itemToggled(int item);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    store::Table* boundTable() const;
    void onItemChanged(QListWidgetItem* item);

    QPointer<DataSource> m_source;
    QString m_firstField;
    QString m_lastField;
    bool m_loading = false;
};

} // namespace ui
