#include "tools/library/LibraryImportCommand.h"
#include "tools/library/LibraryListCommand.h"
#include "tools/library/LibraryTool.h"

#include <QCoreApplication>
#include <cstdio>

// The whole library tool, every command in this process; zuzire-library hands on to it the
// commands that need the image libraries.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const auto arguments = LibraryTool::argumentsOf(argc, argv, stderr);
    if (!arguments)
        return 1;
    return LibraryTool::run(*arguments, stdout, stderr, {LibraryImportCommand::run, LibraryListCommand::run});
}
