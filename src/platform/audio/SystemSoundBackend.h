#pragma once

#include <QUrl>
#include <cstdint>

// A registered system sound: 0 is no sound, SystemSoundServices::userPreferredAlert the desktop's
// alert; others are handed out by SystemSoundServices::createSystemSoundID.
using SystemSoundID = std::uint32_t;

// Where system sounds are played: the sound device, or a recorder in tests. SystemSoundServices
// has checked every file and ID before it calls, so a backend never reports a failure; every call
// returns at once. Main thread only.
class SystemSoundBackend {
public:
    virtual ~SystemSoundBackend() = default;

    // `file` is a readable WAVE file that `id` now stands for.
    virtual void load(SystemSoundID id, const QUrl& file) = 0;
    virtual void unload(SystemSoundID id) = 0;
    // Starts the sound and returns; earlier sounds, even of the same ID, keep playing.
    virtual void play(SystemSoundID id) = 0;
    // The desktop's alert sound.
    virtual void beep() = 0;
    // Whether a sound that has started should be heard to its end when the program quits.
    virtual void setCompletePlaybackIfAppDies(SystemSoundID id, bool complete) = 0;
};
