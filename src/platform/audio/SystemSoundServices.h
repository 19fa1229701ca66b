#pragma once

#include "platform/audio/SystemSoundBackend.h"

#include <QUrl>
#include <memory>

// The process's system sounds: sound files registered once under an ID and played by it,
// asynchronously and overlapping. Failures are statuses, as the calls that can fail return: 0
// for success, else one of the codes below. Playing never fails: an unknown ID, or 0, plays
// nothing.
//
// Sounds go to the backend: the desktop's default sound output (SoundOutputBackend, loaded from
// its module by SoundOutputModule; silence when the module is missing), made on first use and
// given up when the application object goes; tests put a recorder in its place.
// Main thread only.
class SystemSoundServices {
public:
    // The desktop's alert sound, always there.
    static constexpr SystemSoundID userPreferredAlert = 0x1000;

    static constexpr int noError = 0;
    // No URL, or not a local file's.
    static constexpr int parameterError = -50;
    static constexpr int fileNotFoundError = -43;
    static constexpr int permissionError = -54;
    // Not a WAVE file of integer PCM, or too long to be a system sound ('typ?').
    static constexpr int unsupportedFileError = 0x7479703F;
    // An ID that is not registered.
    static constexpr int unknownSoundError = -1500;

    // The longest sound file accepted, in bytes: system sounds are short.
    static constexpr qint64 maximumFileSize = 16 * 1024 * 1024;

    // Registers the sound file at `file` and sets *id to its new ID; the file is checked now,
    // so a missing or unplayable file fails here and not at the first press.
    static int createSystemSoundID(const QUrl& file, SystemSoundID* id);
    // Whether a sound of `id` that has started is heard to its end when the program quits.
    static int setCompletePlaybackIfAppDies(SystemSoundID id, bool complete);
    // Both return at once.
    static void playSystemSound(SystemSoundID id);
    static void playAlertSound(SystemSoundID id);
    static void disposeSystemSoundID(SystemSoundID id);

    // Puts `backend` in place of the current one (nullptr: the desktop's, made on next use) and
    // returns the one it replaces. The registered sounds move over: unloaded from the old,
    // loaded into the new.
    static std::shared_ptr<SystemSoundBackend>
    setBackendForTesting(std::shared_ptr<SystemSoundBackend> backend);
};
