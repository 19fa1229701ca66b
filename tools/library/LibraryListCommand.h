#pragma once

#include "tools/library/LibraryTool.h"

#include <cstdio>

// `zuzire-library list` in this process, once LibraryTool has checked its command line and found
// the album data file: every album with how many of its photos the program would offer for
// rating (its own album reader decides), and with --photos each photo's identifier, stars, type
// and file. It needs the program's album reader and with it the image libraries, which is why the
// tool's other commands are built without it (see LibraryTool::Commands).
class LibraryListCommand {
public:
    static int run(const LibraryTool::ListRequest& request, std::FILE* out, std::FILE* err);
};
