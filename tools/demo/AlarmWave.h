#pragma once

#include <QString>

namespace demo {

// The alarm sound a demo installation ships in its data folder.
inline const QString kAlarmFileName = QStringLiteral("alarm.wav");

// Writes a short two-tone beep as a PCM wave file (16-bit mono); raises
// store::StoreError when the file cannot be written.
void writeAlarmWave(const QString& path);

} // namespace demo
