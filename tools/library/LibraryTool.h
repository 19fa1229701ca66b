#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

// The library service's command line, zuzire-library (see usage() for the commands). Options may
// stand anywhere on the line. Failures are one line on `err` starting with "zuzire-library: " that
// names the file concerned, and a non-zero status (1 for a failure, 2 for a usage error).
class LibraryTool {
public:
    // `arguments` without the program name. `out` and `err` are not owned.
    static int run(const QStringList& arguments, std::FILE* out, std::FILE* err);

    // The help text of --help.
    static const char* usage();

    // Where import puts a library when none is named: the current library's folder, else
    // ${XDG_DATA_HOME:-~/.local/share}/zuzire/Library.
    static QString defaultLibraryFolder();

    struct Options;

private:
    static int import(const Options& options, std::FILE* out, std::FILE* err);
    static int list(const Options& options, std::FILE* out, std::FILE* err);
    static int rate(const Options& options, std::FILE* out, std::FILE* err);
    static int activate(const Options& options, std::FILE* err);
};
