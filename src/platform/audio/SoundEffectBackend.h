#pragma once

#include "platform/audio/SystemSoundBackend.h"

#include <QObject>
#include <map>
#include <memory>

class QMediaDevices;
class SoundEffectPool;

// Plays system sounds on the desktop's default sound output through Qt's low-latency sound
// effects, a small pool of players per sound so that quick presses mix. The alert is the
// desktop's bell.
//
// Without a sound output (a build machine, a server) it says so once and stays silent: no
// players are made at all, which keeps start-up and presses free of the sound system's retries
// and warnings. When an output appears later, the sounds are loaded then.
//
// At quit it lets the sounds marked to complete play to their end, waiting at most a moment.
// Main thread only.
class SoundEffectBackend : public SystemSoundBackend {
public:
    // Players per sound: a sound is cut off only by the press this many presses after it.
    static constexpr int poolSize = 4;
    // The longest the program's quit waits for sounds still playing, in milliseconds.
    static constexpr int quitWaitLimitMs = 300;

    SoundEffectBackend();
    ~SoundEffectBackend() override;

    // A backend that behaves as on a machine without a sound output, wherever it runs.
    static std::unique_ptr<SoundEffectBackend> withoutDeviceForTesting();

    void load(SystemSoundID id, const QUrl& file) override;
    void unload(SystemSoundID id) override;
    void play(SystemSoundID id) override;
    void beep() override;
    void setCompletePlaybackIfAppDies(SystemSoundID id, bool complete) override;

    bool hasDevice() const { return m_hasDevice; }
    // Waits, running the event loop for at most `limitMs` milliseconds, until no sound marked
    // to complete is playing.
    void finishPlayingSounds(int limitMs);

    // The players of `id`, or nullptr when none were made (unknown ID, no sound output).
    const SoundEffectPool* poolForTesting(SystemSoundID id) const;

private:
    enum class Detection { Detect, None };
    explicit SoundEffectBackend(Detection detection);

    void outputsChanged();
    void makePool(SystemSoundID id, const QUrl& file);
    bool completingSoundIsPlaying() const;
    void warnNoDevice();

    QObject m_context;
    std::unique_ptr<QMediaDevices> m_devices;
    std::map<SystemSoundID, QUrl> m_files;
    std::map<SystemSoundID, bool> m_completes;
    std::map<SystemSoundID, std::unique_ptr<SoundEffectPool>> m_pools;
    bool m_hasDevice = false;
    bool m_warned = false;
};
