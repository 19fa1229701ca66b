#pragma once

#include "platform/audio/SoundMixer.h"
#include "platform/audio/SystemSoundBackend.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <set>

class QAudioSink;
class QIODevice;
class QMediaDevices;

// Plays system sounds on the desktop's default sound output: every sound is decoded once when
// loaded, and a press adds it to one mixed stream (SoundMixer) written to a single output stream,
// so sounds overlap. The alert is the desktop's bell.
//
// The stream is written ahead by at most its buffer: a press that finds it drained fills the whole
// buffer at once with its sound at the head, so the sound server starts playing at once (it waits
// for a nearly full buffer before it starts); while sounds play, the buffer is topped up every few
// milliseconds. The stream is closed after a few quiet seconds, so an idle program keeps the sound
// server idle too. Without a sound output (a build machine, a server) it
// says so once and plays nothing, making no stream at all; when an output appears, sounds play
// from then on.
//
// At quit it lets the sounds marked to complete play to their end, waiting at most a moment.
// Main thread only.
class SoundOutputBackend : public SystemSoundBackend {
public:
    // What the output stream buffers, in milliseconds: the most a sound waits behind another.
    static constexpr int bufferMs = 50;
    // How often the stream is topped up while sounds play, in milliseconds.
    static constexpr int pumpIntervalMs = 10;
    // Quiet time after which the output stream stops, in milliseconds.
    static constexpr int idleStopMs = 3000;
    // The longest the program's quit waits for sounds still playing, in milliseconds.
    static constexpr int quitWaitLimitMs = 300;

    SoundOutputBackend();
    ~SoundOutputBackend() override;

    // A backend that behaves as on a machine without a sound output, wherever it runs.
    static std::unique_ptr<SoundOutputBackend> withoutDeviceForTesting();

    void load(SystemSoundID id, const QUrl& file) override;
    void unload(SystemSoundID id) override;
    void play(SystemSoundID id) override;
    void beep() override;
    void setCompletePlaybackIfAppDies(SystemSoundID id, bool complete) override;

    bool hasDevice() const { return m_hasDevice; }
    bool isOutputRunning() const;
    // Waits, running the event loop for at most `limitMs` milliseconds, until no sound marked
    // to complete is playing.
    void finishPlayingSounds(int limitMs);

    const SoundMixer& mixerForTesting() const { return m_mixer; }

private:
    enum class Detection { Detect, None };
    explicit SoundOutputBackend(Detection detection);

    void outputsChanged();
    void startOutput();
    void pump();
    void stopOutput();
    void stopWhenQuiet();
    bool completingSoundIsPlaying() const;

    QObject m_context;
    std::unique_ptr<QMediaDevices> m_devices;
    SoundMixer m_mixer;
    std::unique_ptr<QAudioSink> m_sink;
    // The sink's input while it runs; owned by the sink.
    QIODevice* m_stream = nullptr;
    QTimer m_pumpTimer;
    QTimer m_idleTimer;
    std::set<SystemSoundID> m_completing;
    bool m_hasDevice = false;
};
