#include "platform/audio/SoundOutputModule.h"

#include "platform/foundation/ProgramModule.h"

#include <QtGlobal>

QString SoundOutputModule::path()
{
    return ProgramModule::path("ZUZIRE_SOUND_MODULE", "libzuzire-sound-output.so");
}

std::shared_ptr<SystemSoundBackend> SoundOutputModule::createBackend()
{
    // The module stays loaded: the backend's code must outlive its sounds.
    QString why;
    const auto factory = reinterpret_cast<Factory>(ProgramModule::entryPoint(path(), factoryName, &why));
    if (!factory) {
        qWarning("Sound output module not loaded, so sounds are off: %s", qPrintable(why));
        return nullptr;
    }
    return std::shared_ptr<SystemSoundBackend>(factory());
}
