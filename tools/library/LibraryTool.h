#pragma once

#include "platform/foundation/Error.h"
#include "tools/library/XmpRating.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <optional>

// The library service's command line, zuzire-library (see LibraryToolHelp for the commands). Options may
// stand anywhere on the line. Failures are one line on `err` starting with "zuzire-library: " that
// names the file concerned, and a non-zero status (1 for a failure, 2 for a usage error).
class LibraryTool {
public:
    // An import whose command line has been checked: the photo folders, the library folder (the
    // default one filled in) and where sidecars are looked for first.
    struct ImportRequest {
        QStringList folders;
        QString library;
        bool recursive = false;
        XmpRating::Naming sidecarNaming = XmpRating::Naming::WholeName;
    };
    // A listing whose command line has been checked: the album data file, and how to print it.
    struct ListRequest {
        QString albumDataPath;
        bool photos = false;
        bool tsv = false;
    };
    // The commands that need the image libraries (import for thumbnails, list for the program's
    // album reader), each returning the tool's status: in this process (LibraryImportCommand,
    // LibraryListCommand), or handed on to a program that runs them, so that the tool every rating
    // starts can leave those libraries out.
    using ImportCommand = std::function<int(const ImportRequest& request, std::FILE* out, std::FILE* err)>;
    using ListCommand = std::function<int(const ListRequest& request, std::FILE* out, std::FILE* err)>;
    struct Commands {
        ImportCommand import;
        ListCommand list;
    };

    // `arguments` without the program name. `out` and `err` are not owned.
    static int run(const QStringList& arguments, std::FILE* out, std::FILE* err, const Commands& commands);

    // The arguments of main() without the program name, or nothing (the reason told on `err`) when
    // one is no UTF-8, which the album data file cannot record.
    static std::optional<QStringList> argumentsOf(int argc, const char* const* argv, std::FILE* err);

    // Where import puts a library when none is named: the current library's folder, else
    // ${XDG_DATA_HOME:-~/.local/share}/zuzire/Library.
    static QString defaultLibraryFolder();

    // A failure's line on `err`, and its status; an error as that line tells it; "1 photo",
    // "2 photos".
    static int fail(std::FILE* err, const QString& message);
    static QString errorText(const Error& error);
    static QString counted(long count, const char* noun);

    struct Options;

private:
    static int import(const Options& options, std::FILE* out, std::FILE* err, const ImportCommand& command);
    static int list(const Options& options, std::FILE* out, std::FILE* err, const ListCommand& command);
    static int rate(const Options& options, std::FILE* out, std::FILE* err);
    static int activate(const Options& options, std::FILE* err);
};
