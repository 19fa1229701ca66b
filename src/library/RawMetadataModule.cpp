#include "library/RawMetadataModule.h"

#include "platform/foundation/Resources.h"

#include <QLibrary>
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
    const QString overridden = qEnvironmentVariable("ZUZIRE_RAW_METADATA_MODULE");
    if (!overridden.isEmpty())
        return overridden;
    return Resources::executableDirectory() +
           QStringLiteral("/" ZUZIRE_MODULE_DIR_FROM_BIN "/libzuzire-raw-metadata.so");
}

std::unique_ptr<RawMetadataReader> RawMetadataModule::createReader(QString* why)
{
    // The hint keeps the library loaded even when another QLibrary of the same file is unloaded:
    // the reader's code must outlive it.
    QLibrary library(path());
    library.setLoadHints(QLibrary::PreventUnloadHint);
    if (!library.load()) {
        if (why)
            *why = library.errorString();
        return nullptr;
    }
    const auto factory = reinterpret_cast<Factory>(library.resolve(factoryName));
    if (!factory) {
        if (why)
            *why = QStringLiteral("%1 has no %2").arg(library.fileName(), QLatin1String(factoryName));
        return nullptr;
    }
    return std::unique_ptr<RawMetadataReader>(factory());
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
