// Table files written by another program with wrong contents: text in
// BOOLEAN, INTEGER and DATE columns, impossible dates, numbers far out of
// range, texts longer than their declared size, blobs, NULLs in key columns,
// odd declared types. Every row shows, every field reads either as a value
// or as a clear error naming the table, and editing a row never crashes.
// Read as a backup copy, the file gives every row or such an error too.

#include "FuzzStore.h"

#include "store/Table.h"
#include "store/TableCopy.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

namespace {

const QString kTable = QStringLiteral("fuzzed");

// Declared types another program may use; the fuzzer also makes up its own.
const char* const kTypes[] = {"VARCHAR(8)", "CHAR(3)", "TEXT", "BOOLEAN", "LOGICAL", "SMALLINT", "INTEGER",
                              "REAL", "DATE", "TIME", "DATETIME", "TIMESTAMP", "NUMERIC", "BLOB", ""};

std::string declaredType(FuzzedDataProvider& in)
{
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0)
        return in.ConsumeRandomLengthString(12);
    return kTypes[in.ConsumeIntegralInRange<size_t>(0, std::size(kTypes) - 1)];
}

void bindValue(sqlite3_stmt* stmt, int index, FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: sqlite3_bind_null(stmt, index); break;
    case 1: sqlite3_bind_int64(stmt, index, in.ConsumeIntegral<int64_t>()); break;
    case 2: sqlite3_bind_double(stmt, index, in.ConsumeFloatingPoint<double>()); break;
    case 3: sqlite3_bind_int64(stmt, index, in.ConsumeIntegralInRange<int64_t>(-3, 50000)); break;
    case 4: {
        const std::string bytes = in.ConsumeRandomLengthString(16);
        sqlite3_bind_blob(stmt, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        const std::string text = in.ConsumeRandomLengthString(40);
        sqlite3_bind_text(stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
        break;
    }
    }
}

// Writes the table as another program would: no checks, no conversions
// beyond SQLite's own. Returns the number of rows written.
int writeTable(const QString& path, FuzzedDataProvider& in, int* keyCount)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        std::abort();
    const int columns = in.ConsumeIntegralInRange<int>(1, 6);
    const int keys = in.ConsumeIntegralInRange<int>(0, qMin(columns, 2));
    *keyCount = keys;
    std::string create = "CREATE TABLE fuzzed (";
    for (int c = 0; c < columns; ++c) {
        std::string type = declaredType(in);
        for (char& ch : type)
            if (ch == '"' || ch == '(' || ch == ')' || ch == ',' || ch == '\'' || ch == '-' || ch == '/' || ch == ';')
                ch = ' ';
        if (type.find_first_not_of(' ') == std::string::npos)
            type.clear();
        // Types made up above keep one pair of parentheses, like a size.
        create += "\"c" + std::to_string(c) + "\" " + type + (in.ConsumeBool() ? "(" + std::to_string(in.ConsumeIntegral<int16_t>()) + ")" : "") + ", ";
    }
    if (keys > 0) {
        create += "PRIMARY KEY (";
        for (int k = 0; k < keys; ++k)
            create += (k ? ",\"c" : "\"c") + std::to_string(k) + "\"";
        create += "))";
    } else {
        create.resize(create.size() - 2);
        create += ")";
    }
    if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return -1;
    }
    std::string insert = "INSERT INTO fuzzed VALUES (?";
    for (int c = 1; c < columns; ++c)
        insert += ",?";
    insert += ")";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, insert.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        // A made-up type can be SQL of its own (a generated column, say)
        // that takes no plain insert; such a table is not tried.
        sqlite3_close(db);
        return -1;
    }
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    int rows = 0;
    // More rows than one window of the cursor, so paging past odd keys runs.
    const int wanted = in.ConsumeIntegralInRange<int>(0, 40);
    for (int r = 0; r < wanted && in.remaining_bytes() > 0; ++r) {
        for (int c = 1; c <= columns; ++c)
            bindValue(stmt, c, in);
        if (sqlite3_step(stmt) == SQLITE_DONE)
            ++rows; // a duplicate key is refused, as it would be for the other program
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rows;
}


template <typename Read>
void readOrError(Read read)
{
    try {
        read();
    } catch (const store::StoreError& error) {
        fuzz::checkNamesTable(error);
    }
}

void readEveryField(store::Table& table)
{
    for (int i = 0; i < table.fieldCount(); ++i) {
        store::Field& f = table.field(i);
        f.isNull();
        f.size();
        readOrError([&] { f.asString(); });
        readOrError([&] { f.asInteger(); });
        readOrError([&] { f.asLargeInt(); });
        readOrError([&] { f.asBoolean(); });
        readOrError([&] { f.asFloat(); });
        readOrError([&] { f.asDateTime(); });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::pointStoreAtScratch();
    FuzzedDataProvider in(data, size);
    const QString path = QDir(fuzz::scratch().dataDir).filePath(kTable + QLatin1String(".db"));
    fuzz::dropTableFile(path);
    int keys = 0;
    const int rows = writeTable(path, in, &keys);
    if (rows < 0) {
        fuzz::dropTableFile(path);
        return 0;
    }
    // The same file read as a backup copy: every row, or an error naming
    // the table.
    readOrError([&] {
        if (store::readTableCopy(path, kTable).rows.size() != rows) {
            std::fprintf(stderr, "%d rows written, a different number read from the copy\n", rows);
            std::abort();
        }
    });
    {
        store::Table table(fuzz::kAlias, kTable);
        try {
            table.open();
        } catch (const store::StoreError& error) {
            fuzz::checkNamesTable(error);
            fuzz::dropTableFile(path);
            return 0;
        }
        readOrError([&] {
            // Every row the other program wrote shows: none is lost to an odd key.
            int seen = 0;
            for (table.first(); !table.eof(); table.next()) {
                ++seen;
                readEveryField(table);
            }
            if (table.recordCount() != rows || seen != rows) {
                std::fprintf(stderr, "%d rows written, %d shown, %d counted\n", rows, seen, table.recordCount());
                std::abort();
            }
            table.snapshot();
        });
        // Editing a row: each field written back as it reads, then saved.
        readOrError([&] {
            table.first();
            if (table.eof())
                return;
            const QVariantList key = [&] {
                QVariantList values;
                for (const QString& name : table.keyFields())
                    values << table.fieldByName(name).value();
                return values;
            }();
            if (!key.isEmpty())
                readOrError([&] { table.findKey(key); });
            table.edit();
            for (int i = 0; i < table.fieldCount(); ++i)
                readOrError([&] { table.field(i).setAsString(table.field(i).asString()); });
            table.post();
        });
        readOrError([&] {
            if (table.state() != store::TableState::Browse)
                table.cancel();
        });
    }
    fuzz::dropTableFile(path);
    return 0;
}
