#include "login/Alarm.h"

#include "support/Text.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

namespace login {

namespace {

// The sound card through Qt Multimedia; the effect is made on first use and
// goes with the application object (never after it).
class SoundCard : public SoundDevice {
public:
    void play(const QString& path, bool loop) override
    {
        if (!m_effect)
            m_effect = new QSoundEffect(QCoreApplication::instance());
        m_effect->stop();
        m_effect->setSource(QUrl::fromLocalFile(path));
        m_effect->setLoopCount(loop ? QSoundEffect::Infinite : 1);
        m_effect->play();
    }
    void stop() override
    {
        if (m_effect)
            m_effect->stop();
    }

private:
    QPointer<QSoundEffect> m_effect;
};

SoundDevice*& recorder()
{
    static SoundDevice* current = nullptr;
    return current;
}

SoundDevice& device()
{
    if (SoundDevice* r = recorder())
        return *r;
    static SoundCard card;
    return card;
}

} // namespace

void playAlarmSound(const QString& fileName, bool play, bool loop)
{
    if (!play) {
        device().stop();
        return;
    }
    if (support::isBlank(fileName) || !QFileInfo(fileName).isFile())
        return;
    device().play(fileName, loop);
}

SoundRecorder::SoundRecorder()
{
    recorder() = this;
}

SoundRecorder::~SoundRecorder()
{
    if (recorder() == this)
        recorder() = nullptr;
}

void SoundRecorder::play(const QString& path, bool loop)
{
    played.append({path, loop});
    looping = loop;
}

void SoundRecorder::stop()
{
    ++stops;
    looping = false;
}

} // namespace login
