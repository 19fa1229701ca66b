#pragma once

#include "platform/audio/SystemSoundBackend.h"

#include <QString>
#include <memory>

// The desktop's sound output lives in a module of its own (zuzire_sound_output), loaded on first
// use rather than with the program, so the multimedia libraries behind it do not slow the start.
// Main thread only.
class SoundOutputModule {
public:
    // The entry point the module exports: a new backend, owned by the caller.
    using Factory = SystemSoundBackend* (*)();
    static constexpr const char* factoryName = "zuzireCreateSoundOutputBackend";

    // The module's file: ZUZIRE_SOUND_MODULE when set, else its installed place relative to the
    // program's own folder (the build tree keeps the same layout).
    static QString path();

    // A backend made by the module at path(); nullptr when the module cannot be loaded or has no
    // entry point, with the reason logged. The module stays loaded for the rest of the process.
    static std::shared_ptr<SystemSoundBackend> createBackend();
};
