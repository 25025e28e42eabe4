#pragma once

// A check list bound by position to a run of adjacent boolean fields of a
// data source's current row: item p (from 0) stands for the field at the
// run's first position plus p.
//
// API in short: setDataSource, setRun(first, last) (the run's field
// positions, which the window finds when its table is open) and setCaptions
// (one caption per field of the run) set it up. The list keeps no state of
// its own: loadFromRow() ticks the items from the row (a blank field
// unticked), keeping the first visible item first and making it the current
// item; storeToRow() puts the row into edit state and writes every field of
// the run from the ticks, without saving. Every click of the user on an item
// (ticking it or only selecting it) and every flip with the space bar emits
// itemClick once the tick is in place; loading never does. The window
// decides what to do with it (usually storeToRow and its count label,
// "%d set, %d clear" from checkedCount()).

#include <QListWidget>
#include <QPointer>
#include <QVector>

class QMouseEvent;

namespace store { class Table; }

namespace ui {

class DataSource;

class DbCheckList : public QListWidget {
    Q_OBJECT
public:
    explicit DbCheckList(QWidget* parent = nullptr);

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    // The field positions of the run's first and last items.
    void setRun(int firstPosition, int lastPosition);
    // One checkable item per caption, all unticked.
    void setCaptions(const QStringList& captions);

    // Ticks the items from the current row; raises StoreError when the run
    // is not set, lies outside the row or its length is not the number of
    // items. Does nothing while the source is not open.
    void loadFromRow();
    // Writes every field of the run from the ticks; the row is not saved.
    void storeToRow();

    QVector<bool> checks() const;
    void setChecks(const QVector<bool>& checks); // as loading: no itemClick
    bool isChecked(int item) const;
    void setChecked(int item, bool on);           // as the user: emits itemClick when it flips
    int checkedCount() const;

signals:
    void itemClick(int item);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    store::Table* boundTable() const;
    void checkRun(store::Table& table) const;
    void onItemChanged(QListWidgetItem* item);

    QPointer<DataSource> m_source;
    int m_first = -1;
    int m_last = -1;
    bool m_loading = false;
    bool m_inMouseRelease = false;
    int m_mouseItem = -1; // the item a mouse release clicked or flipped
};

} // namespace ui
