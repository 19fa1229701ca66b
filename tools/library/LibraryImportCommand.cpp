#include "tools/library/LibraryImportCommand.h"

#include "tools/library/LibraryImporter.h"
#include "tools/library/ProgressBar.h"

int LibraryImportCommand::run(const LibraryTool::ImportRequest& request, std::FILE* out, std::FILE* err)
{
    LibraryImporter importer(request.library);
    importer.setRecursive(request.recursive);
    importer.setSidecarNaming(request.sidecarNaming);
    Error error;
    bool imported = false;
    {
        ProgressBar progress(err);
        importer.setProgressHandler([&](long done, long total) { progress.update(done, total); });
        importer.setWarningHandler([&](const QString& message) {
            progress.endLine();
            std::fprintf(err, "zuzire-library: warning: %s\n", message.toLocal8Bit().constData());
        });
        imported = importer.import(request.folders, &error);
    }
    if (!imported)
        return LibraryTool::fail(err, LibraryTool::errorText(error));
    if (!LibraryImporter::registerLibrary(importer.albumDataPath(), &error))
        return LibraryTool::fail(err, QStringLiteral("the library %1 was built but not registered: %2")
                                          .arg(importer.albumDataPath(), LibraryTool::errorText(error)));
    const LibraryImporter::Summary& summary = importer.summary();
    std::fprintf(out, "Imported %s into %s: %s added, %ld kept, %ld skipped.\n",
                 qPrintable(LibraryTool::counted(summary.albums, "album")),
                 importer.albumDataPath().toLocal8Bit().constData(),
                 qPrintable(LibraryTool::counted(summary.added, "photo")), summary.kept, summary.skipped);
    return 0;
}
