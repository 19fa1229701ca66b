#pragma once

#include "library/RawMetadataReader.h"

#include <QString>
#include <memory>

// The metadata library, used only to find the preview of RAW files whose structure does not say
// where it is, lives in a module of its own (zuzire_raw_metadata), loaded on first use rather than
// with the program, so the program's start does not pay for loading it. Any thread.
class RawMetadataModule {
public:
    // The entry point the module exports: a new reader, owned by the caller.
    using Factory = RawMetadataReader* (*)();
    static constexpr const char* factoryName = "zuzireCreateRawMetadataReader";

    // The module's file: ZUZIRE_RAW_METADATA_MODULE when set, else its installed place relative to
    // the program's own folder (the build tree keeps the same layout).
    static QString path();

    // A reader made by the module at path(), or nullptr with the reason in `why` when the module
    // cannot be loaded or has no entry point. The module stays loaded for the rest of the process.
    static std::unique_ptr<RawMetadataReader> createReader(QString* why = nullptr);

    // The process's reader, made by the first call (nullptr, with the reason logged once, when the
    // module is missing); it lives until the process ends.
    static RawMetadataReader* reader();

    // Forgets the process's reader, so the next reader() loads the module again from path().
    static void resetForTesting();
};
