#pragma once

#include <QString>

// Data paths, file copies and record identifiers.
namespace shell {

QString aliasDirectory(const QString& alias);
QString joinPath(const QString& directory, const QString& name);
QString encodeBase25(qint64 number, int digits);
QString newRecordId();
// Copies in 2048-byte blocks. False (destination untouched) when the source
// cannot be opened, false when the destination cannot be created; a read or
// write error part-way raises std::runtime_error.
bool copyFile(const QString& source, const QString& destination);

// The platform's path separator.
QChar pathSeparator();

} // namespace shell
