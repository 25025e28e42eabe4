#include "tools/demo/AlarmWave.h"

#include "store/FileModes.h"
#include "store/StoreError.h"

#include <QDataStream>
#include <QDir>
#include <QSaveFile>

#include <cmath>

namespace demo {

void writeAlarmWave(const QString& path)
{
    constexpr int kRate = 22050;
    constexpr int kSamples = kRate * 2 / 5; // 0.4 s
    QByteArray data;
    data.reserve(kSamples * 2);
    for (int i = 0; i < kSamples; ++i) {
        const double frequency = i < kSamples / 2 ? 880.0 : 660.0;
        // A short fade at both ends keeps the speaker from clicking.
        const double fade = std::min({1.0, i / 400.0, (kSamples - i) / 400.0});
        const auto sample = qint16(std::lround(9000 * fade * std::sin(2 * M_PI * frequency * i / kRate)));
        data.append(char(sample & 0xff)).append(char((sample >> 8) & 0xff));
    }

    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + data.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(kRate) << quint32(kRate * 2) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(data.size());
    out.writeRawData(data.constData(), int(data.size()));

    QSaveFile wave(path);
    if (!wave.open(QIODevice::WriteOnly) || wave.write(file) != file.size() || !wave.commit())
        throw store::StoreError(
            QStringLiteral("Could not write the alarm sound %1.").arg(QDir::toNativeSeparators(path)));
    store::setMode(path, store::kFileMode); // like every file of the installation
}

} // namespace demo
