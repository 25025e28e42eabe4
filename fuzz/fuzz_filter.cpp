// Filter lines as a window or a command may set them (Who = "ABC"), on a
// small table: a line that is no filter is a clear error naming the table;
// a filter never shows a row that does not meet it.

#include "FuzzStore.h"

#include "store/Table.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QString kTable = QStringLiteral("people");

// The table the filters run on, made once.
void makeTable()
{
    static bool made = false;
    if (made)
        return;
    made = true;
    fuzz::pointStoreAtScratch();
    const QString path = QDir(fuzz::scratch().dataDir).filePath(kTable + QLatin1String(".db"));
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        std::abort();
    fuzz::execRaw(db, "CREATE TABLE people (who VARCHAR(8) NOT NULL, db SMALLINT NOT NULL, "
                      "name VARCHAR(30), super BOOLEAN, since DATE, PRIMARY KEY (who, db))");
    fuzz::execRaw(db, "INSERT INTO people VALUES ('ABC', 1, 'Anna \"B\" Carl', 1, '2020-01-31'),"
                      "('ABC', 2, 'x = \"y\"', 0, NULL), ('Z', 1, '', NULL, '1999-12-31'),"
                      "('=', 3, '\"', 1, 'no date'), ('a\"b', 4, NULL, 'maybe', 12)");
    sqlite3_close(db);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    makeTable();
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = text.split(QLatin1Char('\n'));

    store::Table table(fuzz::kAlias, kTable);
    try {
        table.setFilterLines(lines);
        table.open();
    } catch (const store::StoreError& error) {
        fuzz::checkNamesTable(error);
        return 0;
    }
    try {
        // Each line's field and value, as the store understood them.
        QList<QPair<QString, QString>> conditions;
        for (const QString& line : table.filterLines()) {
            const int eq = line.indexOf(QLatin1Char('='));
            const int q1 = line.indexOf(QLatin1Char('"'));
            const int q2 = line.lastIndexOf(QLatin1Char('"'));
            conditions.append({line.left(eq).trimmed(), line.mid(q1 + 1, q2 - q1 - 1)});
        }
        int shown = 0;
        for (table.first(); !table.eof(); table.next()) {
            ++shown;
            for (const auto& c : conditions) {
                // Text columns compare exactly; numbers and dates follow
                // SQLite's conversions, which the text of a value does not show.
                if (c.first.compare(QLatin1String("who"), Qt::CaseInsensitive) != 0
                    && c.first.compare(QLatin1String("name"), Qt::CaseInsensitive) != 0)
                    continue;
                const QVariant stored = table.fieldByName(c.first).value();
                if (stored.toString() != c.second) {
                    std::fprintf(stderr, "row %lld does not meet %s\n", table.rowId(),
                                 (c.first + QLatin1String(" = ") + c.second).toUtf8().constData());
                    std::abort();
                }
            }
        }
        if (shown != table.recordCount())
            std::abort();
        table.setFilterLines({});
        if (table.recordCount() != 5)
            std::abort();
    } catch (const store::StoreError& error) {
        fuzz::checkNamesTable(error);
    }
    return 0;
}
