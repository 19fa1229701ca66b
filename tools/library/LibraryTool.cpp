#include "tools/library/LibraryTool.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/LibraryImporter.h"
#include "tools/library/LibraryLock.h"
#include "tools/library/ProgressBar.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {
constexpr int failureStatus = 1;
constexpr int usageStatus = 2;

const char* const usage = "usage: zuzire-library import [--library FOLDER] PHOTO-FOLDER...\n"
                          "       zuzire-library list [--photos]\n"
                          "       zuzire-library rate ID STARS\n"
                          "       zuzire-library activate\n";

int fail(std::FILE* err, const QString& message)
{
    std::fprintf(err, "zuzire-library: %s\n", message.toLocal8Bit().constData());
    return failureStatus;
}

int usageError(std::FILE* err, const QString& message)
{
    std::fprintf(err, "zuzire-library: %s\n%s", message.toLocal8Bit().constData(), usage);
    return usageStatus;
}

QString errorText(const Error& error)
{
    QString text = QString::fromStdString(error.localizedDescription());
    if (!error.failureReason().empty())
        text += QStringLiteral(" (") + QString::fromStdString(error.failureReason()) + QLatin1Char(')');
    return text;
}

// The current album data file, from the library preference.
std::optional<QString> currentAlbumDataPath()
{
    const auto url = AlbumInfo::defaultAlbumInfoURL();
    if (!url || !url->isLocalFile() || !(url->host().isEmpty() || url->host() == QLatin1String("localhost")))
        return std::nullopt;
    return url->path();
}

QString noLibraryMessage()
{
    return QStringLiteral("no library is registered; build one with: zuzire-library import PHOTO-FOLDER...");
}

// Counts every album, also those without unrated photos, by asking for one album at a time.
void printAlbums(const PlistPtr& tree, bool photos, std::FILE* out)
{
    const AlbumInfo reader;
    const PlistPtr master = tree->objectForKey("Master Image List");
    const PlistPtr albums = tree->objectForKey("List of Albums");
    for (const PlistPtr& album : albums && albums->isArray() ? *albums->asArray() : PlistArray()) {
        const PlistPtr single =
            PlistValue::dictionary({{"Master Image List", master ? master : PlistValue::dictionary({})},
                                    {"List of Albums", PlistValue::array({album})}});
        const PlistArray unrated = reader.findUnratedAlbums(single);
        const PlistPtr items = unrated.empty() ? nullptr : unrated.front()->objectForKey("items");
        const PlistPtr name = album ? album->objectForKey("AlbumName") : nullptr;
        std::fprintf(out, "%6zu  %s\n", items && items->isArray() ? items->asArray()->size() : size_t(0),
                     name && name->isString() ? name->asString()->c_str() : "");
        const PlistPtr keys = album ? album->objectForKey("KeyList") : nullptr;
        for (const PlistPtr& key : photos&& keys && keys->isArray() ? *keys->asArray() : PlistArray()) {
            const PlistPtr entry =
                key && key->isString() && master ? master->objectForKey(*key->asString()) : nullptr;
            if (!entry)
                continue;
            const PlistPtr rating = entry->objectForKey("Rating");
            const PlistPtr type = entry->objectForKey("MediaType");
            const PlistPtr path = entry->objectForKey("ImagePath");
            std::fprintf(out, "        %s\t%lld\t%s\t%s\n", key->asString()->c_str(),
                         static_cast<long long>(UnratedPhotoFilter::ratingValue(rating.get())),
                         type && type->isString() ? type->asString()->c_str() : "",
                         path && path->isString() ? path->asString()->c_str() : "");
        }
    }
}

PlistPtr withRating(const PlistPtr& tree, const std::string& key, int64_t stars)
{
    PlistDictionary top = *tree->asDictionary();
    PlistDictionary master = *top.at("Master Image List")->asDictionary();
    PlistDictionary entry = *master.at(key)->asDictionary();
    entry.insert_or_assign("Rating", PlistValue::integer(stars));
    master.insert_or_assign(key, PlistValue::dictionary(std::move(entry)));
    top.insert_or_assign("Master Image List", PlistValue::dictionary(std::move(master)));
    return PlistValue::dictionary(std::move(top));
}
} // namespace

int LibraryTool::run(const QStringList& arguments, std::FILE* out, std::FILE* err)
{
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("import"))
        return import(rest, out, err);
    if (command == QLatin1String("list"))
        return list(rest, out, err);
    if (command == QLatin1String("rate"))
        return rate(rest, err);
    if (command == QLatin1String("activate"))
        return activate(err);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(usage, out);
        return 0;
    }
    return usageError(err, command.isEmpty() ? QStringLiteral("no command given")
                                             : QStringLiteral("unknown command: %1").arg(command));
}

QString LibraryTool::defaultLibraryFolder()
{
    if (const auto current = currentAlbumDataPath())
        return QFileInfo(*current).absolutePath();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("zuzire/Library"));
}

int LibraryTool::import(QStringList arguments, std::FILE* out, std::FILE* err)
{
    QString library;
    if (arguments.value(0) == QLatin1String("--library")) {
        if (arguments.size() < 2)
            return usageError(err, QStringLiteral("--library needs a folder"));
        library = arguments.at(1);
        arguments = arguments.mid(2);
    }
    if (arguments.isEmpty())
        return usageError(err, QStringLiteral("import needs at least one photo folder"));
    if (library.isEmpty())
        library = defaultLibraryFolder();

    LibraryImporter importer(library);
    ProgressBar progress(err);
    importer.setProgressHandler([&](long done, long total) { progress.update(done, total); });
    importer.setWarningHandler([err](const QString& message) {
        std::fprintf(err, "\nzuzire-library: warning: %s\n", message.toLocal8Bit().constData());
    });
    Error error;
    if (!importer.import(arguments, &error))
        return fail(err, errorText(error));
    if (!LibraryImporter::registerLibrary(importer.albumDataPath(), &error))
        return fail(err,
                    QStringLiteral("the library was built but could not be registered: ") + errorText(error));
    std::fprintf(out, "Library: %s\n", importer.albumDataPath().toLocal8Bit().constData());
    return 0;
}

int LibraryTool::list(const QStringList& arguments, std::FILE* out, std::FILE* err)
{
    const bool photos = arguments.value(0) == QLatin1String("--photos");
    if (arguments.size() > (photos ? 1 : 0))
        return usageError(err, QStringLiteral("list takes no arguments besides --photos"));
    const auto url = AlbumInfo::defaultAlbumInfoURL();
    if (!url)
        return fail(err, noLibraryMessage());
    Error error;
    const PlistPtr tree = AlbumInfo::readAlbumInfo(*url, &error);
    if (!tree)
        return fail(err, errorText(error));
    if (!tree->isDictionary())
        return fail(err, QStringLiteral("%1 is no album data file").arg(url->toString()));
    printAlbums(tree, photos, out);
    return 0;
}

int LibraryTool::rate(const QStringList& arguments, std::FILE* err)
{
    bool idOk = false, starsOk = false;
    const qulonglong id = arguments.value(0).toULongLong(&idOk);
    const int stars = arguments.value(1).toInt(&starsOk);
    if (arguments.size() != 2 || !idOk || id == 0 || !starsOk || stars < 0 || stars > 5)
        return usageError(err, QStringLiteral("rate needs a photo identifier and 0 to 5 stars"));
    const auto path = currentAlbumDataPath();
    if (!path)
        return fail(err, noLibraryMessage());
    Error error;
    const auto lock = LibraryLock::acquire(QFileInfo(*path).absolutePath(), &error);
    if (!lock)
        return fail(err, QStringLiteral("cannot lock the library: ") + errorText(error));
    const PlistPtr tree = PropertyListSerialization::readFile(*path, &error);
    if (!tree)
        return fail(err, errorText(error));
    const std::string key = std::to_string(id);
    const PlistPtr master = tree->objectForKey("Master Image List");
    const PlistPtr entry = master ? master->objectForKey(key) : nullptr;
    if (!entry || !entry->isDictionary())
        return fail(err, QStringLiteral("no photo %1 in %2").arg(id).arg(*path));
    if (!PropertyListSerialization::writeFile(*path, withRating(tree, key, stars),
                                              PropertyListSerialization::Format::Xml, &error))
        return fail(err, errorText(error));
    return 0;
}

int LibraryTool::activate(std::FILE* err)
{
    const auto path = currentAlbumDataPath();
    if (!path)
        return fail(err, noLibraryMessage());
    // Only where a desktop session can show it; elsewhere there is nothing to bring forward.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return 0;
    QProcess::startDetached(QStringLiteral("xdg-open"), {QFileInfo(*path).absolutePath()});
    return 0;
}
