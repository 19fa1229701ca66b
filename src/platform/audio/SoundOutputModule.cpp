#include "platform/audio/SoundOutputModule.h"

#include "platform/foundation/Resources.h"

#include <QLibrary>

QString SoundOutputModule::path()
{
    const QString overridden = qEnvironmentVariable("ZUZIRE_SOUND_MODULE");
    if (!overridden.isEmpty())
        return overridden;
    return Resources::executableDirectory() +
           QStringLiteral("/" ZUZIRE_MODULE_DIR_FROM_BIN "/libzuzire-sound-output.so");
}

std::shared_ptr<SystemSoundBackend> SoundOutputModule::createBackend()
{
    // A library stays loaded when its QLibrary goes, and the hint keeps it loaded even when
    // another QLibrary of the same file is unloaded: the backend's code must outlive its sounds.
    QLibrary library(path());
    library.setLoadHints(QLibrary::PreventUnloadHint);
    if (!library.load()) {
        qWarning("Sound output module not loaded, so sounds are off: %s", qPrintable(library.errorString()));
        return nullptr;
    }
    const auto factory = reinterpret_cast<Factory>(library.resolve(factoryName));
    if (!factory) {
        qWarning("Sound output module not loaded, so sounds are off: %s has no %s",
                 qPrintable(library.fileName()), factoryName);
        return nullptr;
    }
    return std::shared_ptr<SystemSoundBackend>(factory());
}
