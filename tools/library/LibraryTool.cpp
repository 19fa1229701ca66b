#include "tools/library/LibraryTool.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/LibraryImporter.h"
#include "tools/library/PhotoRating.h"
#include "tools/library/ProgressBar.h"
#include "tools/library/RatingElsewhere.h"
#include "tools/library/RegularFileReader.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <cerrno>
#include <sys/stat.h>

#ifndef ZUZIRE_VERSION
#define ZUZIRE_VERSION "0"
#endif

struct LibraryTool::Options {
    QStringList positional;
    QString library;
    bool photos = false;
    bool tsv = false;
    bool recursive = false;
    bool help = false;
    bool version = false;
    QString sidecarNaming;
    bool ratingInPhoto = false;
};

namespace {
constexpr int failureStatus = 1;
constexpr int usageStatus = 2;

const char* const synopsis = "usage: zuzire-library import [--recursive] [--library FOLDER] PHOTO-FOLDER...\n"
                             "       zuzire-library list [--photos] [--tsv] [--library FOLDER]\n"
                             "       zuzire-library rate [--library FOLDER] [--sidecar-naming whole|base] "
                             "[--rating-in-photo] ID STARS\n"
                             "       zuzire-library activate\n"
                             "Try 'zuzire-library --help' for more.\n";

const char* const helpText =
    "usage: zuzire-library COMMAND [OPTIONS] [ARGUMENTS]\n"
    "\n"
    "Builds the photo libraries Zuzire shows, and writes the ratings given in it.\n"
    "\n"
    "Commands:\n"
    "  import [--recursive] [--library FOLDER] PHOTO-FOLDER...\n"
    "      Build or update a library from folders of photos, one album per folder, and make it the\n"
    "      library Zuzire shows. Importing a folder again keeps its photos' identifiers and\n"
    "      ratings, adds new photos and drops those whose files are gone. With --recursive, every\n"
    "      folder below that holds photos becomes an album of its own.\n"
    "  list [--photos] [--tsv]\n"
    "      The current library's albums, each with how many of its photos still need rating.\n"
    "      --photos also lists every photo: identifier, stars, type and file. --tsv prints\n"
    "      tab-separated columns without padding or header, for scripts.\n"
    "  rate ID STARS\n"
    "      Give the photo with identifier ID (see list --photos) STARS stars, 1 to 5, in the\n"
    "      current library. Zuzire runs this for every rating it writes. The rating also goes to\n"
    "      the photo's XMP sidecar (xmp:Rating), which is created when it is missing and keeps every\n"
    "      other property, so other photo programs see it; the sidecar is written first.\n"
    "  activate\n"
    "      Show the current library's folder on the desktop; does nothing without a desktop.\n"
    "\n"
    "Options (anywhere on the line):\n"
    "  --library FOLDER  the library folder to use instead of the current one; import makes it\n"
    "                    the current one (default: the current library's folder, else\n"
    "                    ~/.local/share/zuzire/Library)\n"
    "  --sidecar-naming whole|base\n"
    "                    the sidecar of IMG_0001.JPG is IMG_0001.JPG.xmp (whole, the default) or\n"
    "                    IMG_0001.xmp (base); import reads either, this one first\n"
    "  --rating-in-photo rate also writes the rating into the photo file itself (its image data\n"
    "                    stays as it is)\n"
    "  -h, --help        show this help\n"
    "  --version         show the version\n"
    "\n"
    "The current library is the first one registered in ~/.config/zuzire/com.apple.iApps.plist.\n"
    "Import takes a rating other programs gave a photo (its sidecar's, else the photo's own XMP or\n"
    "EXIF rating; -1, rejected, counts as rated); on a re-import, a rating changed elsewhere since\n"
    "the last import or rating wins. The settings SidecarNaming (whole or base) and RatingInPhoto (YES or "
    "NO)\n"
    "in ~/.config/zuzire/com.quillmoss.lumendeck.plist apply when the options are not given.\n";

int fail(std::FILE* err, const QString& message)
{
    std::fprintf(err, "zuzire-library: %s\n", message.toLocal8Bit().constData());
    return failureStatus;
}

int usageError(std::FILE* err, const QString& message)
{
    std::fprintf(err, "zuzire-library: %s\n%s", message.toLocal8Bit().constData(), synopsis);
    return usageStatus;
}

QString errorText(const Error& error)
{
    QString text = QString::fromStdString(error.localizedDescription());
    if (!error.failureReason().empty())
        text += QStringLiteral(" (") + QString::fromStdString(error.failureReason()) + QLatin1Char(')');
    return text;
}

// "1 photo", "2 photos".
QString counted(long count, const char* noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QString::fromLatin1(noun)).arg(count == 1 ? "" : "s");
}

std::optional<LibraryTool::Options> parse(const QStringList& arguments, QString& problem)
{
    LibraryTool::Options options;
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool negativeNumber =
            argument.size() > 1 && argument.at(0) == QLatin1Char('-') && argument.at(1).isDigit();
        if (optionsEnd || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-") ||
            negativeNumber) {
            options.positional << argument;
        } else if (argument == QLatin1String("--")) {
            optionsEnd = true;
        } else if (argument == QLatin1String("--library")) {
            if (i + 1 >= arguments.size()) {
                problem = QStringLiteral("--library needs a folder");
                return std::nullopt;
            }
            options.library = arguments.at(++i);
        } else if (argument.startsWith(QLatin1String("--library="))) {
            options.library = argument.mid(10);
        } else if (argument == QLatin1String("--photos")) {
            options.photos = true;
        } else if (argument == QLatin1String("--tsv")) {
            options.tsv = true;
        } else if (argument == QLatin1String("--recursive") || argument == QLatin1String("-r")) {
            options.recursive = true;
        } else if (argument == QLatin1String("--sidecar-naming") ||
                   argument.startsWith(QLatin1String("--sidecar-naming="))) {
            const bool separate = argument == QLatin1String("--sidecar-naming");
            if (separate && i + 1 >= arguments.size()) {
                problem = QStringLiteral("--sidecar-naming needs whole or base");
                return std::nullopt;
            }
            options.sidecarNaming = separate ? arguments.at(++i) : argument.mid(17);
            if (!RatingElsewhere::namingOf(options.sidecarNaming)) {
                problem =
                    QStringLiteral("--sidecar-naming is whole (IMG_0001.JPG.xmp) or base (IMG_0001.xmp), "
                                   "not %1")
                        .arg(options.sidecarNaming);
                return std::nullopt;
            }
        } else if (argument == QLatin1String("--rating-in-photo")) {
            options.ratingInPhoto = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (argument == QLatin1String("--version")) {
            options.version = true;
        } else {
            problem = QStringLiteral("unknown option: %1").arg(argument);
            return std::nullopt;
        }
    }
    return options;
}

QString noLibraryMessage(const QString& preferencePath)
{
    return QStringLiteral(
               "no library is registered in %1; build one with: zuzire-library import PHOTO-FOLDER")
        .arg(preferencePath);
}

// The current album data file, from the library preference, with a message that says what is
// wrong when there is none.
std::optional<QString> currentAlbumDataPath(QString& problem)
{
    const QString preference = Preferences::domainFilePath(Preferences::libraryDomain);
    struct stat status {};
    if (::lstat(QFile::encodeName(preference).constData(), &status) != 0 && errno == ENOENT) {
        problem = noLibraryMessage(preference);
        return std::nullopt;
    }
    Error error;
    const auto bytes = RegularFileReader::read(preference, &error);
    if (!bytes) {
        problem = QStringLiteral("cannot read the library preference: ") + errorText(error);
        return std::nullopt;
    }
    if (bytes->isEmpty()) {
        problem = QStringLiteral("the library preference file %1 is empty; register a library with: "
                                 "zuzire-library import PHOTO-FOLDER")
                      .arg(preference);
        return std::nullopt;
    }
    const PlistPtr root = PropertyListSerialization::fromData(*bytes, &error);
    if (!root || !root->isDictionary()) {
        problem = QStringLiteral("the library preference file %1 is no valid property list%2")
                      .arg(preference, root ? QString() : QStringLiteral(": ") + errorText(error));
        return std::nullopt;
    }
    const PlistPtr databases = root->objectForKey("iPhotoRecentDatabases");
    const PlistPtr first = databases && databases->isArray() && !databases->asArray()->empty()
                               ? databases->asArray()->front()
                               : nullptr;
    if (!first || !first->isString()) {
        problem = noLibraryMessage(preference);
        return std::nullopt;
    }
    const QUrl url(QString::fromStdString(*first->asString()));
    if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost"))) {
        problem = QStringLiteral("the current library %1 (from %2) is no local file")
                      .arg(QString::fromStdString(*first->asString()), preference);
        return std::nullopt;
    }
    return url.path();
}

// Where ratings go besides the library: the settings, overridden by the options.
std::optional<RatingElsewhere::Settings> elsewhereSettings(const LibraryTool::Options& options,
                                                           QString& problem)
{
    RatingElsewhere::Settings settings;
    if (!RatingElsewhere::readSettings(settings, &problem))
        return std::nullopt;
    if (const auto naming = RatingElsewhere::namingOf(options.sidecarNaming))
        settings.naming = *naming;
    settings.intoPhoto = settings.intoPhoto || options.ratingInPhoto;
    return settings;
}

std::optional<QString> albumDataPath(const LibraryTool::Options& options, QString& problem)
{
    if (!options.library.isEmpty())
        return LibraryImporter::albumDataPath(options.library);
    return currentAlbumDataPath(problem);
}

QString textOf(const PlistPtr& value)
{
    return value && value->isString() ? QString::fromStdString(*value->asString()) : QString();
}

// Counts every album, also those without unrated photos, by asking for one album at a time.
void printAlbums(const PlistPtr& tree, const LibraryTool::Options& options, std::FILE* out)
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
                             qPrintable(counted(stars, "star")), type.constData(), path.constData());
        }
    }
}

// The decimal identifier without leading zeros, or nothing when `text` is no identifier.
std::optional<std::string> photoKey(const QString& text)
{
    if (text.isEmpty() || text.size() > 20)
        return std::nullopt;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    bool ok = false;
    const qulonglong id = text.toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return std::to_string(id);
}
} // namespace

const char* LibraryTool::usage()
{
    return helpText;
}

int LibraryTool::run(const QStringList& arguments, std::FILE* out, std::FILE* err)
{
    QString problem;
    const auto options = parse(arguments, problem);
    if (!options)
        return usageError(err, problem);
    if (options->help) {
        std::fputs(helpText, out);
        return 0;
    }
    if (options->version) {
        std::fputs("zuzire-library " ZUZIRE_VERSION "\n", out);
        return 0;
    }
    const QString command = options->positional.value(0);
    if (command == QLatin1String("import"))
        return import(*options, out, err);
    if (command == QLatin1String("list"))
        return list(*options, out, err);
    if (command == QLatin1String("rate"))
        return rate(*options, out, err);
    if (command == QLatin1String("activate"))
        return activate(*options, err);
    return usageError(err, command.isEmpty() ? QStringLiteral("no command given")
                                             : QStringLiteral("unknown command: %1").arg(command));
}

QString LibraryTool::defaultLibraryFolder()
{
    QString ignored;
    if (const auto current = currentAlbumDataPath(ignored))
        return QFileInfo(*current).absolutePath();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("zuzire/Library"));
}

int LibraryTool::import(const Options& options, std::FILE* out, std::FILE* err)
{
    if (options.photos || options.tsv)
        return usageError(err, QStringLiteral("import takes no --photos or --tsv"));
    const QStringList folders = options.positional.mid(1);
    if (folders.isEmpty())
        return usageError(err, QStringLiteral("import needs at least one photo folder"));
    if (options.ratingInPhoto)
        return usageError(err, QStringLiteral("import takes no --rating-in-photo"));
    QString problem;
    const auto settings = elsewhereSettings(options, problem);
    if (!settings)
        return fail(err, problem);
    const QString library = options.library.isEmpty() ? defaultLibraryFolder() : options.library;

    LibraryImporter importer(library);
    importer.setRecursive(options.recursive);
    importer.setSidecarNaming(settings->naming);
    Error error;
    bool imported = false;
    {
        ProgressBar progress(err);
        importer.setProgressHandler([&](long done, long total) { progress.update(done, total); });
        importer.setWarningHandler([&](const QString& message) {
            progress.endLine();
            std::fprintf(err, "zuzire-library: warning: %s\n", message.toLocal8Bit().constData());
        });
        imported = importer.import(folders, &error);
    }
    if (!imported)
        return fail(err, errorText(error));
    if (!LibraryImporter::registerLibrary(importer.albumDataPath(), &error))
        return fail(err, QStringLiteral("the library %1 was built but not registered: %2")
                             .arg(importer.albumDataPath(), errorText(error)));
    const LibraryImporter::Summary& summary = importer.summary();
    std::fprintf(out, "Imported %s into %s: %s added, %ld kept, %ld skipped.\n",
                 qPrintable(counted(summary.albums, "album")),
                 importer.albumDataPath().toLocal8Bit().constData(),
                 qPrintable(counted(summary.added, "photo")), summary.kept, summary.skipped);
    return 0;
}

int LibraryTool::list(const Options& options, std::FILE* out, std::FILE* err)
{
    if (options.positional.size() > 1 || options.recursive)
        return usageError(err, QStringLiteral("list takes no arguments besides --photos and --tsv"));
    QString problem;
    const auto path = albumDataPath(options, problem);
    if (!path)
        return fail(err, problem);
    Error error;
    const auto bytes = RegularFileReader::read(*path, &error);
    if (!bytes)
        return fail(err, errorText(error));
    const PlistPtr tree = PropertyListSerialization::fromData(*bytes, &error);
    if (!tree)
        return fail(err, QStringLiteral("%1 is no valid album data file: %2").arg(*path, errorText(error)));
    if (!tree->isDictionary())
        return fail(err, QStringLiteral("%1 is no album data file: its root is no dictionary").arg(*path));
    printAlbums(tree, options, out);
    return 0;
}

int LibraryTool::rate(const Options& options, std::FILE* out, std::FILE* err)
{
    if (options.positional.size() != 3 || options.photos || options.tsv || options.recursive)
        return usageError(err, QStringLiteral("rate needs a photo identifier and a number of stars"));
    const auto key = photoKey(options.positional.at(1));
    if (!key)
        return usageError(err,
                          QStringLiteral("%1 is no photo identifier (a decimal number, see list --photos)")
                              .arg(options.positional.at(1)));
    bool starsOk = false;
    const int stars = options.positional.at(2).toInt(&starsOk);
    if (!starsOk || stars < PhotoRating::minimumStars || stars > PhotoRating::maximumStars)
        return usageError(err, QStringLiteral("%1 stars: a rating is %2 to %3 stars")
                                   .arg(options.positional.at(2))
                                   .arg(PhotoRating::minimumStars)
                                   .arg(PhotoRating::maximumStars));
    QString problem;
    const auto path = albumDataPath(options, problem);
    if (!path)
        return fail(err, problem);
    const auto settings = elsewhereSettings(options, problem);
    // Where other programs see the rating: written before the library, from the same reading of it.
    Error elsewhereError;
    bool elsewhere = settings.has_value();
    // What the sidecar now holds is what the next import compares with: a rating set back to the
    // one seen before ours, elsewhere, is then a change made there.
    const auto writeElsewhere = [&](const QString& photo) {
        bool inSidecar = false;
        elsewhere = RatingElsewhere::write(photo, stars, *settings, &elsewhereError, &inSidecar);
        return inSidecar;
    };
    Error error;
    if (!PhotoRating::apply(*path, *key, stars, &error,
                            settings ? PhotoRating::BeforeWriting(writeElsewhere) : nullptr))
        return fail(err, errorText(error));
    // The library is rated even when the sidecar is not; the failure still fails the command.
    if (!elsewhere)
        return fail(err, settings ? errorText(elsewhereError) : problem);
    std::fprintf(out, "Photo %s now has %s.\n", key->c_str(), qPrintable(counted(stars, "star")));
    return 0;
}

int LibraryTool::activate(const Options& options, std::FILE* err)
{
    if (options.positional.size() > 1 || options.photos || options.tsv || options.recursive)
        return usageError(err, QStringLiteral("activate takes no arguments"));
    QString problem;
    const auto path = albumDataPath(options, problem);
    if (!path)
        return fail(err, problem);
    // Only where a desktop session can show it; elsewhere there is nothing to bring forward.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return 0;
    QProcess::startDetached(QStringLiteral("xdg-open"), {QFileInfo(*path).absolutePath()});
    return 0;
}
