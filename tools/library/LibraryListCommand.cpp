#include "tools/library/LibraryListCommand.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/RegularFileReader.h"

namespace {
QString textOf(const PlistPtr& value)
{
    return value && value->isString() ? QString::fromStdString(*value->asString()) : QString();
}

// Counts every album, also those without unrated photos, by asking for one album at a time.
void printAlbums(const PlistPtr& tree, const LibraryTool::ListRequest& options, std::FILE* out)
{
    const AlbumInfo reader;
    const PlistPtr master = tree->objectForKey("Master Image List");
    const PlistPtr albums = tree->objectForKey("List of Albums");
    if (!options.tsv)
        std::fprintf(out, "%7s  %6s  %s\n", "Unrated", "Photos", "Album");
    for (const PlistPtr& album : albums && albums->isArray() ? *albums->asArray() : PlistArray()) {
        const PlistPtr single =
            PlistValue::dictionary({{"Master Image List", master ? master : PlistValue::dictionary({})},
                                    {"List of Albums", PlistValue::array({album})}});
        const PlistArray unrated = reader.findUnratedAlbums(single);
        const PlistPtr items = unrated.empty() ? nullptr : unrated.front()->objectForKey("items");
        const size_t unratedCount = items && items->isArray() ? items->asArray()->size() : 0;
        const PlistPtr keys = album ? album->objectForKey("KeyList") : nullptr;
        const PlistArray keyList = keys && keys->isArray() ? *keys->asArray() : PlistArray();
        const QByteArray name = textOf(album ? album->objectForKey("AlbumName") : nullptr).toUtf8();
        if (options.tsv && !options.photos)
            std::fprintf(out, "%zu\t%zu\t%s\n", unratedCount, keyList.size(), name.constData());
        else if (!options.tsv)
            std::fprintf(out, "%7zu  %6zu  %s\n", unratedCount, keyList.size(), name.constData());
        for (const PlistPtr& key : options.photos ? keyList : PlistArray()) {
            const PlistPtr entry =
                key && key->isString() && master ? master->objectForKey(*key->asString()) : nullptr;
            if (!entry)
                continue;
            const long long stars = UnratedPhotoFilter::ratingValue(entry->objectForKey("Rating").get());
            const QByteArray type = textOf(entry->objectForKey("MediaType")).toUtf8();
            const QByteArray path = textOf(entry->objectForKey("ImagePath")).toUtf8();
            if (options.tsv)
                std::fprintf(out, "%s\t%s\t%lld\t%s\t%s\n", name.constData(), key->asString()->c_str(), stars,
                             type.constData(), path.constData());
            else
                std::fprintf(out, "%17s  %-7s  %-5s  %s\n", key->asString()->c_str(),
                             qPrintable(LibraryTool::counted(stars, "star")), type.constData(),
                             path.constData());
        }
    }
}

} // namespace

int LibraryListCommand::run(const LibraryTool::ListRequest& request, std::FILE* out, std::FILE* err)
{
    const QString& path = request.albumDataPath;
    Error error;
    const auto bytes = RegularFileReader::read(path, &error);
    if (!bytes)
        return LibraryTool::fail(err, LibraryTool::errorText(error));
    const PlistPtr tree = PropertyListSerialization::fromData(*bytes, &error);
    if (!tree)
        return LibraryTool::fail(
            err,
            QStringLiteral("%1 is no valid album data file: %2").arg(path, LibraryTool::errorText(error)));
    if (!tree->isDictionary())
        return LibraryTool::fail(
            err, QStringLiteral("%1 is no album data file: its root is no dictionary").arg(path));
    printAlbums(tree, request, out);
    return 0;
}
