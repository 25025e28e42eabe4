#pragma once

#include <QByteArray>
#include <QVariant>
#include <QVector>

#include <cstring>

namespace store {

// A row of a cursor's window keeps its column values packed as read from the
// engine and decodes a value only when a field asks for it; the row being
// edited holds plain values.
//
// Packed layout: column count, then count + 1 offsets into the payload, then
// per column a type byte followed by its bytes.
struct Row {
    qint64 rowId = 0;
    QVector<QVariant> values;
    QByteArray packed;
    bool partial = false; // only the key columns were read
    QVariantList rawKey;  // the key as read from the file, kept when values replace packed

    QVariant value(int index) const;
    bool isNull(int index) const; // as !value(index).isValid(), without making the value
    QVariant rawValue(int index) const; // texts as their stored bytes (RawText)
    int count() const;
    void unpack(); // packed -> values
};

enum : char { kPackedNull = 0, kPackedInt = 1, kPackedFloat = 2, kPackedText = 3, kPackedBlob = 4 };

// Packs the values of one row once their sizes are known: begin with the
// payload size (sum of 1 + value bytes), then add each column in order.
class RowPacker {
public:
    RowPacker(Row& row, int columns, int payload) : m_row(row), m_columns(columns)
    {
        const int header = int(sizeof(quint32)) * (columns + 2);
        row.packed = QByteArray(header + payload, Qt::Uninitialized); // exact size: no room to grow
        m_base = row.packed.data();
        offsets()[0] = quint32(columns);
        m_out = m_base + header;
    }
    void addNull() { start(kPackedNull); }
    void addInt(qint64 v) { start(kPackedInt); put(&v, 8); }
    void addFloat(double v) { start(kPackedFloat); put(&v, 8); }
    void addText(const char* bytes, int size) { start(kPackedText); put(bytes, size); }
    void addBlob(const char* bytes, int size) { start(kPackedBlob); put(bytes, size); }
    void finish() { offsets()[m_columns + 1] = quint32(m_out - m_base); }

private:
    quint32* offsets() { return reinterpret_cast<quint32*>(m_base); }
    void start(char type)
    {
        offsets()[++m_column] = quint32(m_out - m_base);
        *m_out++ = type;
    }
    void put(const void* bytes, int size)
    {
        if (size > 0)
            std::memcpy(m_out, bytes, size_t(size));
        m_out += size;
    }
    Row& m_row;
    int m_columns;
    int m_column = 0;
    char* m_base;
    char* m_out;
};

} // namespace store
