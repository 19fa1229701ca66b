#include "tools/library/LibraryTool.h"

#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/LibraryImporter.h"
#include "tools/library/LibraryToolHelp.h"
#include "tools/library/PhotoRating.h"
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

int usageError(std::FILE* err, const QString& message)
{
    std::fprintf(err, "zuzire-library: %s\n%s", message.toLocal8Bit().constData(),
                 LibraryToolHelp::synopsis().toLocal8Bit().constData());
    return usageStatus;
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
        problem = QStringLiteral("cannot read the library preference: ") + LibraryTool::errorText(error);
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
        problem =
            QStringLiteral("the library preference file %1 is no valid property list%2")
                .arg(preference, root ? QString() : QStringLiteral(": ") + LibraryTool::errorText(error));
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

int LibraryTool::fail(std::FILE* err, const QString& message)
{
    std::fprintf(err, "zuzire-library: %s\n", message.toLocal8Bit().constData());
    return failureStatus;
}

QString LibraryTool::errorText(const Error& error)
{
    QString text = QString::fromStdString(error.localizedDescription());
    if (!error.failureReason().empty())
        text += QStringLiteral(" (") + QString::fromStdString(error.failureReason()) + QLatin1Char(')');
    return text;
}

QString LibraryTool::counted(long count, const char* noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QString::fromLatin1(noun)).arg(count == 1 ? "" : "s");
}

// From the raw bytes: QCoreApplication::arguments() would turn a name that is no UTF-8 into
// another name, and the tool would then work on a different folder.
std::optional<QStringList> LibraryTool::argumentsOf(int argc, const char* const* argv, std::FILE* err)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        const QString text = QString::fromUtf8(raw);
        if (text.toUtf8() != raw) {
            std::fputs("zuzire-library: the argument ", err);
            for (const char c : raw) {
                if (uchar(c) >= 0x20 && uchar(c) < 0x7F)
                    std::fputc(c, err);
                else
                    std::fprintf(err, "\\x%02x", uint(uchar(c)));
            }
            std::fputs(" is not UTF-8, which the album data file cannot record; rename it\n", err);
            return std::nullopt;
        }
        arguments << text;
    }
    return arguments;
}

int LibraryTool::run(const QStringList& arguments, std::FILE* out, std::FILE* err, const Commands& commands)
{
    QString problem;
    const auto options = parse(arguments, problem);
    if (!options)
        return usageError(err, problem);
    if (options->help) {
        const auto commandHelp = LibraryToolHelp::ofCommand(options->positional.value(0));
        std::fputs((commandHelp ? *commandHelp : LibraryToolHelp::whole()).toLocal8Bit().constData(), out);
        return 0;
    }
    if (options->version) {
        std::fputs("zuzire-library " ZUZIRE_VERSION "\n", out);
        return 0;
    }
    const QString command = options->positional.value(0);
    if (command == QLatin1String("import"))
        return import(*options, out, err, commands.import);
    if (command == QLatin1String("list"))
        return list(*options, out, err, commands.list);
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

int LibraryTool::import(const Options& options, std::FILE* out, std::FILE* err, const ImportCommand& command)
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
    return command({folders, options.library.isEmpty() ? defaultLibraryFolder() : options.library,
                    options.recursive, settings->naming},
                   out, err);
}

int LibraryTool::list(const Options& options, std::FILE* out, std::FILE* err, const ListCommand& command)
{
    if (options.positional.size() > 1 || options.recursive)
        return usageError(err, QStringLiteral("list takes no arguments besides --photos and --tsv"));
    QString problem;
    const auto path = albumDataPath(options, problem);
    if (!path)
        return fail(err, problem);
    return command({*path, options.photos, options.tsv}, out, err);
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
    const auto prepared =
        settings ? RatingElsewhere::prepare(*path, *key, stars, *settings) : std::nullopt;
    // Where other programs see the rating: written before the library, from the same reading of it.
    Error elsewhereError;
    bool elsewhere = settings.has_value();
    // What the sidecar now holds is what the next import compares with: a rating set back to the
    // one seen before ours, elsewhere, is then a change made there.
    const auto writeElsewhere = [&](const QString& photo) {
        bool inSidecar = false;
        elsewhere = RatingElsewhere::write(photo, stars, *settings, &elsewhereError, &inSidecar, prepared);
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
