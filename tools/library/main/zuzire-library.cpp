#include "platform/foundation/ProgramModule.h"
#include "tools/library/LibraryTool.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

// The tool the program starts for every rating, so it loads only what rating needs: the commands
// that need the image libraries (import, list) are handed on, the command line as it came, to
// the whole tool, zuzire-library-full, which then stands in this process's place.
namespace {
char** commandLine = nullptr;

int handOn(std::FILE* out, std::FILE* err)
{
    const QString whole = ProgramModule::directory() + QStringLiteral("/zuzire-library-full");
    const QByteArray file = QFile::encodeName(whole);
    std::fflush(out);
    std::fflush(err);
    commandLine[0] = const_cast<char*>(file.constData());
    ::execv(file.constData(), commandLine);
    return LibraryTool::fail(
        err, QStringLiteral("cannot start %1: %2").arg(whole, QString::fromLocal8Bit(std::strerror(errno))));
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    commandLine = argv;
    const auto arguments = LibraryTool::argumentsOf(argc, argv, stderr);
    if (!arguments)
        return 1;
    return LibraryTool::run(
        *arguments, stdout, stderr,
        {[](const LibraryTool::ImportRequest&, std::FILE* out, std::FILE* err) { return handOn(out, err); },
         [](const LibraryTool::ListRequest&, std::FILE* out, std::FILE* err) { return handOn(out, err); }});
}
