#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

// The library service's command line, zuzire-library:
//   import [--library FOLDER] PHOTO-FOLDER...   build or update a library, register it first
//   list [--photos]                             the current library's albums, unrated counts
//   rate ID STARS                               set one photo's rating in the current library
//   activate                                    show the current library's folder on the desktop
// Failures are one line on `err` starting with "zuzire-library: " and a non-zero status
// (1 for a failure, 2 for a usage error).
class LibraryTool {
public:
    // `arguments` without the program name. `out` and `err` are not owned.
    static int run(const QStringList& arguments, std::FILE* out, std::FILE* err);

    // Where import puts a library when none is named: the current library's folder, else
    // ${XDG_DATA_HOME:-~/.local/share}/zuzire/Library.
    static QString defaultLibraryFolder();

private:
    static int import(QStringList arguments, std::FILE* out, std::FILE* err);
    static int list(const QStringList& arguments, std::FILE* out, std::FILE* err);
    static int rate(const QStringList& arguments, std::FILE* err);
    static int activate(std::FILE* err);
};
