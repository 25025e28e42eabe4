#pragma once

// Reading and writing the rows of an installation's tables in a few words,
// and pointing the store at an installation.

#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"

#include <QList>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace testkit {

// The store's message of what f raised, or an empty text when it raised
// nothing.
inline QString errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const store::StoreError& e) {
        return e.message();
    }
    return QString();
}

// A table open on the alias, at its first row.
inline std::unique_ptr<store::Table> openAtFirst(const QString& name)
{
    auto table = std::make_unique<store::Table>(catalogue::kAlias, name);
    table->open();
    table->first();
    return table;
}

// Points the store at a configuration and a network control directory, with
// every table password registered, or none.
inline void useStore(const QString& configPath, const QString& netDir, bool passwords = true)
{
    store::Session& session = store::Session::instance();
    session.reset();
    session.setConfigPath(configPath);
    session.setNetFileDir(netDir);
    if (passwords)
        for (const QString& password :
             {catalogue::startupPasswordA(), catalogue::startupPasswordB(), catalogue::forceOffPassword()})
            session.addPassword(password);
}

// Rows of a table in key order, each field's stored value by lower-case name.
inline QList<QVariantMap> tableRows(const QString& tableName)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    QList<QVariantMap> rows;
    for (table.first(); !table.eof(); table.next()) {
        QVariantMap row;
        for (int i = 0; i < table.fieldCount(); ++i)
            row.insert(table.field(i).fieldName().toLower(), table.field(i).value());
        rows.append(row);
    }
    return rows;
}

// The first row whose field reads as value, or an empty map.
inline QVariantMap findRow(const QString& tableName, const QString& field, const QString& value)
{
    for (const QVariantMap& row : tableRows(tableName))
        if (row.value(field.toLower()).toString() == value)
            return row;
    return {};
}

// Each row's value of the field, as text.
inline QStringList column(const QString& tableName, const QString& field)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    QStringList values;
    for (table.first(); !table.eof(); table.next())
        values << table.fieldByName(field).asString();
    return values;
}

inline int rowCount(const QString& tableName)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    return table.recordCount();
}

inline void addRow(const QString& tableName, const QVariantMap& values)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    table.insert();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        table.fieldByName(it.key()).setValue(it.value());
    table.post();
}

inline void deleteAllRows(const QString& tableName)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    table.first();
    while (!table.eof())
        table.deleteRecord();
}

// A row of the change journal.
struct JournalEntry {
    QString recno, db, who, fieldname, to, memo;
    int table = -1; // the journalled table's code
    int action = -1;
    double dateGmt = 0, time = 0; // day counts
};

inline QList<JournalEntry> journalEntries()
{
    store::Table merge(catalogue::kAlias, catalogue::kMerge);
    merge.open();
    QList<JournalEntry> entries;
    for (merge.first(); !merge.eof(); merge.next()) {
        auto field = [&](const char* name) -> store::Field& { return merge.fieldByName(QLatin1String(name)); };
        entries.append({field("recno").asString(), field("DB").asString(), field("who").asString(),
                        field("fieldname").asString(), field("to").asString(), field("memo").asString(),
                        field("database").asInteger(), field("action").asInteger(), field("dateGMT").asDateTime(),
                        field("time").asDateTime()});
    }
    return entries;
}

// The journal entries from the from-th on as "table/action/key", with
// " field" after a field entry: short lines to compare in order.
inline QStringList journalLines(int from = 0)
{
    QStringList lines;
    for (const JournalEntry& e : journalEntries().mid(from))
        lines << QStringLiteral("%1/%2/%3").arg(e.table).arg(e.action).arg(e.recno)
                     + (e.fieldname.isEmpty() ? QString() : QLatin1Char(' ') + e.fieldname);
    return lines;
}

} // namespace testkit
