#include "platform/audio/SoundOutputModule.h"

#include "platform/audio/output/SoundOutputBackend.h"

// The module's one entry point, looked up by name when the program loads the module.
extern "C" __attribute__((visibility("default"))) SystemSoundBackend* zuzireCreateSoundOutputBackend()
{
    return new SoundOutputBackend();
}
