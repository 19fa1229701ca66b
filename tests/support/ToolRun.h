#pragma once

#include "tools/library/LibraryImportCommand.h"
#include "tools/library/LibraryListCommand.h"
#include "tools/library/LibraryTool.h"

#include <QStringList>
#include <cstdio>
#include <string>

// One run of the library tool's commands in this process: its status and what it printed.
struct ToolRun {
    int status;
    std::string out;
    std::string err;

    static ToolRun of(const QStringList& arguments)
    {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status =
            LibraryTool::run(arguments, out, err, {LibraryImportCommand::run, LibraryListCommand::run});
        return {status, contents(out), contents(err)};
    }

private:
    // Reads the whole file and closes it.
    static std::string contents(std::FILE* file)
    {
        std::rewind(file);
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;)
            text += char(c);
        std::fclose(file);
        return text;
    }
};
