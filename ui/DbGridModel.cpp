#include "ui/DbGridModel.h"

#include "support/ErrorBox.h"
#include "ui/DataSource.h"
#include "ui/Rebind.h"
#include "ui/RowState.h"

#include <QBrush>

#include <utility>

namespace ui {

DbGridModel::DbGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void DbGridModel::setDataSource(DataSource* source)
{
    const bool changed = rebind(this, m_source, source, [this](DataSource* s) {
        connect(s, &DataSource::dataSetChange, this, &DbGridModel::onDataSetChange);
        connect(s, &DataSource::rowChange, this, &DbGridModel::onRowChange);
        connect(s, &DataSource::dataChange, this, &DbGridModel::onDataChange);
        connect(s, &DataSource::stateChange, this, &DbGridModel::onStateChange);
    });
    if (changed)
        reload();
}

DataSource* DbGridModel::dataSource() const { return m_source.data(); }

void DbGridModel::setColumns(const QList<GridColumn>& columns)
{
    m_columns = columns;
    reload();
}

const QList<GridColumn>& DbGridModel::columns() const { return m_columns; }

void DbGridModel::setReadOnly(bool readOnly)
{
    beginResetModel();
    m_readOnly = readOnly;
    endResetModel();
    emit currentRowChanged(m_current);
}

bool DbGridModel::readOnly() const { return m_readOnly; }

void DbGridModel::setCellColour(CellColour colour)
{
    m_colour = std::move(colour);
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::BackgroundRole});
}

store::Table* DbGridModel::table() const { return m_source ? m_source->table() : nullptr; }

void DbGridModel::resolveColumns()
{
    m_fieldIndex.fill(-1, m_columns.size());
    m_boolean.fill(false, m_columns.size());
    store::Table* t = table();
    if (!t || !t->active())
        return;
    for (int c = 0; c < m_columns.size(); ++c) {
        if (store::Field* f = t->findField(m_columns[c].fieldName)) {
            m_fieldIndex[c] = f->index();
            m_boolean[c] = f->dataType() == store::FieldType::Boolean;
        }
    }
}

void DbGridModel::openReader()
{
    m_reader.reset();
    m_readerStarted = false;
    store::Table* t = table();
    if (!t || !t->active())
        return;
    // The same table and filter; this program's own objects never block
    // each other, so the second cursor opens whatever lock the first holds.
    auto reader = std::make_unique<store::Table>(t->databaseName(), t->tableName());
    reader->setFilterLines(t->filterLines());
    reader->open();
    m_reader = std::move(reader);
}

int DbGridModel::readLines(int count, QVector<store::RowSnapshot>& into)
{
    int read = 0;
    while (m_reader && read < count) {
        if (m_readerStarted)
            m_reader->next();
        m_readerStarted = true;
        if (m_reader->eof()) {
            m_reader.reset(); // every line is read: let the cursor go
            break;
        }
        store::RowSnapshot row;
        row.rowId = m_reader->rowId();
        row.values.resize(m_reader->fieldCount());
        for (int fi : std::as_const(m_fieldIndex))
            if (fi >= 0)
                row.values[fi] = m_reader->rawValue(fi);
        into.append(std::move(row));
        ++read;
    }
    return read;
}

int DbGridModel::lineOf(qint64 rowId) const
{
    if (rowId == 0)
        return -1;
    for (int r = 0; r < m_rows.size(); ++r)
        if (m_rows[r].rowId == rowId)
            return r;
    return -1;
}

bool DbGridModel::fetchUntilFound(qint64 rowId)
{
    if (rowId == 0 || m_insertRow >= 0)
        return false;
    while (m_reader && lineOf(rowId) < 0)
        fetchMore(QModelIndex());
    return lineOf(rowId) >= 0;
}

void DbGridModel::reload()
{
    // A new row's line goes where the row was that the table stood on
    // before the new row began.
    const qint64 before = m_lastRowId;
    const int shown = m_rows.size() - (m_insertRow >= 0 ? 1 : 0);
    const QVector<int> oldFields = m_fieldIndex;
    resolveColumns();
    store::Table* t = table();
    const store::TableState state = t ? t->state() : store::TableState::Inactive;
    QVector<store::RowSnapshot> rows;
    int insertRow = -1;
    if (t && t->active()) {
        const qint64 wanted = state == store::TableState::Insert ? before : t->rowId();
        auto find = [&rows](qint64 id) {
            for (int r = 0; r < rows.size(); ++r)
                if (id != 0 && rows[r].rowId == id)
                    return r;
            return -1;
        };
        support::guarded([&] {
            openReader();
            readLines(qMax(shown, kFetchStep), rows);
            while (m_reader && wanted != 0 && find(wanted) < 0)
                readLines(kFetchStep, rows);
        });
        if (state == store::TableState::Insert) {
            const int found = find(before);
            insertRow = found >= 0 ? found : int(rows.size());
            rows.insert(insertRow, store::RowSnapshot{});
        }
    } else {
        m_reader.reset();
    }

    // The same lines with new values (a row saved, the table re-read): the
    // views keep their current cell and a click in progress.
    bool sameLines = insertRow < 0 && m_insertRow < 0 && oldFields == m_fieldIndex && rows.size() == m_rows.size();
    for (int r = 0; sameLines && r < rows.size(); ++r)
        sameLines = rows[r].rowId == m_rows[r].rowId;
    if (sameLines) {
        m_rows = std::move(rows);
        m_state = state;
        if (!m_rows.isEmpty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
        updateCurrent();
        return;
    }
    beginResetModel();
    m_rows = std::move(rows);
    m_insertRow = insertRow;
    m_current = -1;
    m_state = state;
    endResetModel();
    updateCurrent();
}

bool DbGridModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_reader && m_insertRow < 0;
}

void DbGridModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    QVector<store::RowSnapshot> more;
    if (!support::guarded([&] { readLines(kFetchStep, more); }))
        m_reader.reset();
    if (more.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size() + more.size()) - 1);
    m_rows += more;
    endInsertRows();
}

void DbGridModel::updateCurrent()
{
    int current = -1;
    store::Table* t = table();
    if (m_insertRow >= 0) {
        current = m_insertRow;
    } else if (t && t->active()) {
        const qint64 id = t->rowId();
        current = lineOf(id);
        if (current < 0 && fetchUntilFound(id))
            current = lineOf(id);
    }
    const int old = m_current;
    m_current = current;
    if (current >= 0 && current != m_insertRow)
        m_lastRowId = m_rows[current].rowId;
    if (old != current) {
        if (old >= 0 && old < rowCount())
            emit dataChanged(index(old, 0), index(old, columnCount() - 1));
        if (current >= 0)
            emit dataChanged(index(current, 0), index(current, columnCount() - 1));
        if (!m_rows.isEmpty())
            emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
    }
    emit currentRowChanged(m_current);
}

void DbGridModel::onDataSetChange() { reload(); }

void DbGridModel::onRowChange() { updateCurrent(); }

void DbGridModel::onDataChange(int fieldIndex)
{
    if (fieldIndex < 0 || m_current < 0)
        return; // whole-row changes arrive as row, state or data-set changes
    for (int c = 0; c < m_columns.size(); ++c) {
        if (m_fieldIndex.value(c) == fieldIndex)
            emit dataChanged(index(m_current, c), index(m_current, c));
    }
}

void DbGridModel::onStateChange()
{
    store::Table* t = table();
    const store::TableState now = t ? t->state() : store::TableState::Inactive;
    if (now == m_state)
        return;
    // A new row gets its own line. Saving, dropping, opening and closing are
    // followed by a data-set change, which reads the rows again; until then
    // only the current line is read differently.
    if (now == store::TableState::Insert) {
        reload();
        return;
    }
    m_state = now;
    if (m_current >= 0 && m_current < rowCount()) {
        emit dataChanged(index(m_current, 0), index(m_current, columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, m_current, m_current);
    }
}

int DbGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int DbGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columns.size();
}

bool DbGridModel::isCheckColumn(int column) const { return m_boolean.value(column, false); }

int DbGridModel::currentRow() const { return m_current; }

qint64 DbGridModel::rowIdAt(int row) const
{
    return (row >= 0 && row < m_rows.size()) ? m_rows[row].rowId : 0;
}

bool DbGridModel::isInsertRow(int row) const { return row >= 0 && row == m_insertRow; }

QVariant DbGridModel::valueAt(int row, int column) const
{
    const int fi = m_fieldIndex.value(column, -1);
    if (fi < 0 || row < 0 || row >= m_rows.size())
        return {};
    store::Table* t = table();
    if (row == m_current && t && isEditing(m_state)) {
        try {
            return t->rawValue(fi);
        } catch (const std::exception&) {
            return {};
        }
    }
    return m_rows[row].values.value(fi);
}

QVariant DbGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (isCheckColumn(column))
            return {};
        {
            const QVariant v = valueAt(index.row(), column);
            return v.isNull() ? QString() : v.toString();
        }
    case Qt::CheckStateRole:
        if (!isCheckColumn(column))
            return {};
        return valueAt(index.row(), column).toBool() ? Qt::Checked : Qt::Unchecked;
    case Qt::BackgroundRole:
        if (m_colour) {
            const QColor c = m_colour(index.row(), m_columns[column]);
            if (c.isValid())
                return QBrush(c);
        }
        return {};
    default:
        return {};
    }
}

QVariant DbGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return m_columns.value(section).title;
    // The row indicator: a marker on the current line, showing its state.
    if (section != m_current)
        return QString();
    switch (m_state) {
    case store::TableState::Insert: return QStringLiteral("*");
    case store::TableState::Edit: return QStringLiteral("I");
    default: return QStringLiteral("\u25B6");
    }
}

Qt::ItemFlags DbGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!m_readOnly && isCheckColumn(index.column()) && !m_columns[index.column()].readOnly
        && !isInsertRow(index.row()))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

void DbGridModel::setRowSaver(RowSaver saver) { m_saver = std::move(saver); }

void DbGridModel::moveTableTo(int row)
{
    store::Table* t = table();
    if (!t || !t->active() || row < 0 || row >= m_rows.size() || isInsertRow(row))
        return;
    const qint64 id = m_rows[row].rowId;
    if (id == t->rowId() && m_current == row)
        return;
    if (m_saver && isEditing(*t))
        m_saver(*t);
    if (!t->gotoRowId(id))
        reload(); // the row went meanwhile: show what is there now
}

bool DbGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !(flags(index) & Qt::ItemIsUserCheckable))
        return false;
    store::Table* t = table();
    const int fi = m_fieldIndex.value(index.column(), -1);
    if (!t || fi < 0)
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    return support::guarded([&] {
        moveTableTo(index.row());
        startEditing(*t);
        t->field(fi).setAsBoolean(checked);
    });
}

} // namespace ui
