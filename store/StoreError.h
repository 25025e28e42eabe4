#pragma once

#include <QString>
#include <QByteArray>
#include <exception>

namespace store {

// Every failure of the record store is raised as a StoreError whose message
// names the table (and the field, where there is one) in plain words.
class StoreError : public std::exception {
public:
    explicit StoreError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace store
