#pragma once

#include "store/Schema.h"
#include "tools/topg/Values.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

struct sqlite3;
struct sqlite3_stmt;

namespace topg {

// A table file of a SQLite installation, opened read-only inside one read
// transaction, so that its layout, password and rows are one state. The
// table is the one the store opens in the file: the one named like the file,
// or the file's only table.
class SourceFile {
public:
    explicit SourceFile(const QString& path); // raises StoreError
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    const QString& fileName() const { return m_fileName; }   // "contact.db"
    const QString& tableName() const { return m_tableName; } // the server table: "contact"
    // The layout for the server: the file's columns, declared types and key.
    const store::TableDef& layout() const { return m_layout; }
    const QVector<SourceColumn>& columns() const { return m_columns; }
    // The password rows of the file's brisel_meta (key, value); none when the
    // table is not protected.
    const QList<QPair<QString, QString>>& passwordRows() const { return m_passwordRows; }
    // Tables of the file the store never reads, so they are not copied.
    const QStringList& otherTables() const { return m_otherTables; }

    // Walks the rows in rowid order: each call reads the next row's values
    // for the server (see serverValue); false after the last row.
    bool nextRow(qint64* rowid, QVariantList* values);

private:
    [[noreturn]] void fail(const QString& doing) const;
    QStringList dataTables() const;
    void readLayout(const QString& sqlName);
    void readPasswordRows();
    void checkOutbox();
    void exec(const char* sql);

    QString m_path;
    QString m_fileName;
    QString m_tableName;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_rows = nullptr;
    store::TableDef m_layout;
    QVector<SourceColumn> m_columns;
    QList<QPair<QString, QString>> m_passwordRows;
    QStringList m_otherTables;
};

// The table files of a data folder (*.db, in name order).
QStringList tableFiles(const QString& dataDir);

} // namespace topg
