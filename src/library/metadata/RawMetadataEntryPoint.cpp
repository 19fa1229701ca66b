#include "library/RawMetadataModule.h"
#include "library/metadata/RawMetadataLibraryReader.h"

// The module's one entry point, looked up by name when the program loads the module.
extern "C" __attribute__((visibility("default"))) RawMetadataReader* zuzireCreateRawMetadataReader()
{
    return new RawMetadataLibraryReader();
}
