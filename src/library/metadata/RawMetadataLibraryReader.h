#pragma once

#include "library/RawMetadataReader.h"

// The metadata library behind RawMetadataReader, in the module zuzire_raw_metadata. Its global
// set-up is done once, before any thread reads a file. Any thread.
class RawMetadataLibraryReader : public RawMetadataReader {
public:
    RawMetadataLibraryReader();

    std::unique_ptr<File> open(const std::string& name, Container container) override;
};
