#include "tools/admin/Command.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QVariant>

namespace admin {

namespace {

// Tabs and line breaks inside a cell would break the line into columns.
QString cellText(const QVariant& value)
{
    QString text = value.typeId() == QMetaType::Bool ? (value.toBool() ? QStringLiteral("yes") : QStringLiteral("no"))
                                                     : value.toString();
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

void writeJson(QTextStream& stream, const QJsonValue& value)
{
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    stream << QString::fromUtf8(doc.toJson(QJsonDocument::Compact)) << '\n';
    stream.flush();
}

} // namespace

void Output::table(const QStringList& headings, const QStringList& keys, const QList<QVariantList>& rows)
{
    if (m_json) {
        QJsonArray array;
        for (const QVariantList& row : rows) {
            QJsonObject object;
            for (int i = 0; i < keys.size() && i < row.size(); ++i)
                object.insert(keys[i], QJsonValue::fromVariant(row[i]));
            array.append(object);
        }
        writeJson(m_out, array);
        return;
    }
    m_out << headings.join(QLatin1Char('\t')) << '\n';
    for (const QVariantList& row : rows) {
        QStringList cells;
        for (const QVariant& value : row)
            cells << cellText(value);
        m_out << cells.join(QLatin1Char('\t')) << '\n';
    }
    m_out.flush();
}

void Output::result(const QJsonObject& object, const QStringList& line)
{
    if (m_json) {
        writeJson(m_out, object);
        return;
    }
    if (!line.isEmpty()) {
        m_out << line.join(QLatin1Char('\t')) << '\n';
    } else {
        for (auto it = object.begin(); it != object.end(); ++it)
            m_out << it.key() << '\t' << cellText(it.value().toVariant()) << '\n';
    }
    m_out.flush();
}

void Output::text(const QString& line)
{
    if (m_json)
        return;
    m_out << line << '\n';
    m_out.flush();
}

void Output::write(const QString& document)
{
    m_out << document;
    m_out.flush();
}

int Output::usage(const QString& message, const QString& command)
{
    const QString hint = QStringLiteral("Try 'brisel-admin %1--help'.")
                             .arg(command.isEmpty() ? QString() : command + QLatin1Char(' '));
    if (m_json) {
        writeJson(m_err, QJsonObject{{QStringLiteral("usage"), message}, {QStringLiteral("help"), hint}});
    } else {
        m_err << "brisel-admin: " << message << '\n' << hint << '\n';
        m_err.flush();
    }
    return ExitUsage;
}

} // namespace admin
