#pragma once

#include <QList>
#include <QString>

// The force-off alarm: a wave file played once or in a loop, and stopped.
namespace login {

// Play off stops any alarm this program plays. Play on plays the file
// asynchronously, once or looping until stopped; a blank name or a missing
// file plays nothing and reports nothing. Paths of any length play.
void playAlarmSound(const QString& fileName, bool play, bool loop);

// What plays the sound. The program uses the sound card; tests put a
// SoundRecorder in its place.
class SoundDevice {
public:
    virtual ~SoundDevice() = default;
    virtual void play(const QString& path, bool loop) = 0;
    virtual void stop() = 0;
};

// While alive, playAlarmSound reaches this recorder instead of the sound card.
class SoundRecorder : public SoundDevice {
public:
    struct Played {
        QString path;
        bool loop = false;
    };
    SoundRecorder();
    ~SoundRecorder() override;
    void play(const QString& path, bool loop) override;
    void stop() override;

    QList<Played> played;
    int stops = 0;
    bool looping = false; // a looping sound plays now
    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;
};

} // namespace login
