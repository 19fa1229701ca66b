#include "library/RawMetadataModule.h"

#include "platform/foundation/ProgramModule.h"

#include <mutex>

namespace {
struct Shared {
    std::mutex mutex;
    bool tried = false;
    std::unique_ptr<RawMetadataReader> reader;
};

Shared& shared()
{
    // Never destroyed: a reading thread may still use the reader while the process ends.
    static Shared* instance = new Shared;
    return *instance;
}
} // namespace

QString RawMetadataModule::path()
{
    return ProgramModule::path("ZUZIRE_RAW_METADATA_MODULE", "libzuzire-raw-metadata.so");
}

std::unique_ptr<RawMetadataReader> RawMetadataModule::createReader(QString* why)
{
    // The module stays loaded: the reader's code must outlive it.
    const auto factory = reinterpret_cast<Factory>(ProgramModule::entryPoint(path(), factoryName, why));
    return factory ? std::unique_ptr<RawMetadataReader>(factory()) : nullptr;
}

RawMetadataReader* RawMetadataModule::reader()
{
    Shared& state = shared();
    std::lock_guard lock(state.mutex);
    if (!state.tried) {
        state.tried = true;
        QString why;
        state.reader = createReader(&why);
        if (!state.reader)
            qWarning("Metadata module not loaded, so RAW previews it would find are not shown: %s",
                     qPrintable(why));
    }
    return state.reader.get();
}

void RawMetadataModule::resetForTesting()
{
    Shared& state = shared();
    std::lock_guard lock(state.mutex);
    state.tried = false;
    state.reader.reset();
}
