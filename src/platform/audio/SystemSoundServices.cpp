#include "platform/audio/SystemSoundServices.h"

#include "platform/audio/SoundOutputModule.h"
#include "platform/audio/WaveFile.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <map>

namespace {

struct Sound {
    QUrl file;
    bool completePlaybackIfAppDies = false;
};

// Where sounds go when the sound output's module cannot be loaded: nowhere, said once.
class SilentBackend : public SystemSoundBackend {
public:
    void load(SystemSoundID, const QUrl&) override {}
    void unload(SystemSoundID) override {}
    void play(SystemSoundID) override {}
    void beep() override {}
    void setCompletePlaybackIfAppDies(SystemSoundID, bool) override {}
};

struct Registry {
    std::shared_ptr<SystemSoundBackend> backend;
    // Whether `backend` is the desktop's (or the silent one in its place), not one set by a test.
    bool backendIsDefault = false;
    std::map<SystemSoundID, Sound> sounds;
    SystemSoundID nextID = 1;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

void assertMainThread(const char* operation)
{
    if (!isMainThread())
        raiseInternalInconsistency("Main thread only.", operation, "SystemSoundServices", __FILE__, __LINE__);
}

// The sound output's players must go while the application object still exists.
void releaseDefaultBackend()
{
    Registry& sounds = registry();
    if (sounds.backendIsDefault) {
        sounds.backend.reset();
        sounds.backendIsDefault = false;
    }
}

void loadAll(SystemSoundBackend& into, const std::map<SystemSoundID, Sound>& sounds)
{
    for (const auto& [id, sound] : sounds) {
        into.load(id, sound.file);
        if (sound.completePlaybackIfAppDies)
            into.setCompletePlaybackIfAppDies(id, true);
    }
}

// The current backend; the desktop's is made on first use, and only while there is an
// application object (none is made on the way out of the process).
SystemSoundBackend* backend()
{
    Registry& sounds = registry();
    if (!sounds.backend && QCoreApplication::instance()) {
        sounds.backend = SoundOutputModule::createBackend();
        if (!sounds.backend)
            sounds.backend = std::make_shared<SilentBackend>();
        sounds.backendIsDefault = true;
        qAddPostRoutine(releaseDefaultBackend);
        loadAll(*sounds.backend, sounds.sounds);
    }
    return sounds.backend.get();
}

int checkSoundFile(const QUrl& url)
{
    if (!url.isValid() || !url.isLocalFile())
        return SystemSoundServices::parameterError;
    const QString path = url.toLocalFile();
    const QFileInfo info(path);
    if (!info.exists())
        return SystemSoundServices::fileNotFoundError;
    if (!info.isFile() || info.size() > SystemSoundServices::maximumFileSize)
        return SystemSoundServices::unsupportedFileError;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.error() == QFileDevice::PermissionsError ? SystemSoundServices::permissionError
                                                             : SystemSoundServices::fileNotFoundError;
    if (!WaveFile::decode(file.readAll()))
        return SystemSoundServices::unsupportedFileError;
    return SystemSoundServices::noError;
}

} // namespace

int SystemSoundServices::createSystemSoundID(const QUrl& file, SystemSoundID* id)
{
    assertMainThread(__func__);
    if (!id)
        return parameterError;
    if (const int status = checkSoundFile(file); status != noError)
        return status;
    Registry& sounds = registry();
    SystemSoundID newID = sounds.nextID++;
    if (newID == userPreferredAlert)
        newID = sounds.nextID++;
    sounds.sounds[newID] = Sound{file};
    if (SystemSoundBackend* current = backend())
        current->load(newID, file);
    *id = newID;
    return noError;
}

int SystemSoundServices::setCompletePlaybackIfAppDies(SystemSoundID id, bool complete)
{
    assertMainThread(__func__);
    const auto sound = registry().sounds.find(id);
    if (sound == registry().sounds.end())
        return unknownSoundError;
    sound->second.completePlaybackIfAppDies = complete;
    if (SystemSoundBackend* current = backend())
        current->setCompletePlaybackIfAppDies(id, complete);
    return noError;
}

void SystemSoundServices::playSystemSound(SystemSoundID id)
{
    assertMainThread(__func__);
    if (id == userPreferredAlert) {
        if (SystemSoundBackend* current = backend())
            current->beep();
        return;
    }
    if (!registry().sounds.contains(id))
        return;
    if (SystemSoundBackend* current = backend())
        current->play(id);
}

void SystemSoundServices::playAlertSound(SystemSoundID id)
{
    // An alert of a registered sound is that sound; the desktop offers no other kind of alert.
    playSystemSound(id);
}

void SystemSoundServices::disposeSystemSoundID(SystemSoundID id)
{
    assertMainThread(__func__);
    Registry& sounds = registry();
    if (sounds.sounds.erase(id) == 0)
        return;
    if (sounds.backend)
        sounds.backend->unload(id);
}

std::shared_ptr<SystemSoundBackend>
SystemSoundServices::setBackendForTesting(std::shared_ptr<SystemSoundBackend> backend)
{
    assertMainThread(__func__);
    Registry& sounds = registry();
    std::shared_ptr<SystemSoundBackend> previous = std::move(sounds.backend);
    if (previous) {
        for (const auto& [id, sound] : sounds.sounds)
            previous->unload(id);
    }
    sounds.backend = std::move(backend);
    sounds.backendIsDefault = false;
    if (sounds.backend)
        loadAll(*sounds.backend, sounds.sounds);
    return previous;
}
