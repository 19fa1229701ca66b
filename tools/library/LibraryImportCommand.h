#pragma once

#include "tools/library/LibraryTool.h"

#include <cstdio>

// `zuzire-library import` in this process, once LibraryTool has checked its command line: builds
// or updates the library (LibraryImporter) with a progress bar and warnings on `err`, registers
// it, and prints the summary line on `out`. It needs the image libraries (thumbnails), which is
// why the tool's other commands are built without it (see LibraryTool::ImportCommand).
class LibraryImportCommand {
public:
    static int run(const LibraryTool::ImportRequest& request, std::FILE* out, std::FILE* err);
};
