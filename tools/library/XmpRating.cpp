#include "tools/library/XmpRating.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/MappedReadGuard.h"
#include "tools/library/RegularFileReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
const char* const ratingKey = "Xmp.xmp.Rating";
const char* const exifRatingKey = "Exif.Image.Rating";
const char* const rdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
const char* const xmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// A sidecar is a few kilobytes; an edit history of thousands of steps stays far below this.
constexpr qint64 sidecarSizeLimit = qint64(64) << 20;

// Sets up the metadata library once: its XMP toolkit must be initialised before first use, and
// its own messages are muted because every failure is reported here, once, naming the file.
void prepareMetadataLibrary()
{
    static const bool prepared = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        return Exiv2::XmpParser::initialize();
    }();
    (void)prepared;
}

Error failure(const QString& path, int code, const QString& text)
{
    return Error(Error::cocoaDomain, code, text.toStdString(), {}, QUrl::fromLocalFile(path));
}

// A rating as other programs store it: a number from -1 to 5 (some write "3.0"); anything else
// is no rating.
int ratingOfText(const std::string& text)
{
    bool ok = false;
    const double value = QString::fromStdString(text).trimmed().toDouble(&ok);
    if (!ok || std::isnan(value) || value < -1.0 || value > 5.0)
        return XmpRating::none;
    return int(std::lround(value));
}

int ratingOf(const Exiv2::XmpData& xmp)
{
    const auto found = xmp.findKey(Exiv2::XmpKey(ratingKey));
    return found == xmp.end() ? XmpRating::none : ratingOfText(found->toString());
}

// Every property as (key, text), in order, to compare two packets by meaning.
std::vector<std::pair<std::string, std::string>> propertiesOf(const Exiv2::XmpData& xmp)
{
    std::vector<std::pair<std::string, std::string>> properties;
    for (const Exiv2::Xmpdatum& datum : xmp)
        properties.emplace_back(datum.key(), datum.toString());
    std::sort(properties.begin(), properties.end());
    return properties;
}

enum class Decoded { Sound, Empty, Malformed };

// Whether `packet` is XMP. Empty contents count as no sidecar at all: there is nothing to keep.
Decoded decode(const QByteArray& packet, Exiv2::XmpData& xmp)
{
    if (packet.trimmed().isEmpty())
        return Decoded::Empty;
    if (!packet.contains(rdfNamespace))
        return Decoded::Malformed;
    try {
        return Exiv2::XmpParser::decode(xmp, packet.toStdString()) == 0 ? Decoded::Sound : Decoded::Malformed;
    } catch (const std::exception&) {
        return Decoded::Malformed;
    }
}

// The packet with only the rating's own text changed, when it holds that text exactly once under
// the usual prefix and the result means what `expected` means; else nothing.
std::optional<QByteArray> editedInPlace(const QByteArray& packet, int rating, const Exiv2::XmpData& expected)
{
    static const QRegularExpression binding(
        QStringLiteral("xmlns:xmp\\s*=\\s*([\"'])http://ns\\.adobe\\.com/xap/1\\.0/\\1"));
    static const QRegularExpression value(
        QStringLiteral("(\\sxmp:Rating\\s*=\\s*([\"']))([^\"'<]*)\\2|(<xmp:Rating>)([^<]*)</xmp:Rating>"));
    const QString text = QString::fromUtf8(packet);
    if (text.toUtf8() != packet || !binding.match(text).hasMatch())
        return std::nullopt;
    auto matches = value.globalMatch(text);
    if (!matches.hasNext())
        return std::nullopt;
    const QRegularExpressionMatch match = matches.next();
    if (matches.hasNext())
        return std::nullopt;
    const int group = match.capturedStart(3) >= 0 ? 3 : 5;
    QString edited = text;
    edited.replace(match.capturedStart(group), match.capturedLength(group), QString::number(rating));
    const QByteArray bytes = edited.toUtf8();
    Exiv2::XmpData check;
    if (decode(bytes, check) != Decoded::Sound || propertiesOf(check) != propertiesOf(expected))
        return std::nullopt;
    return bytes;
}

// A sidecar that nobody may write: no write permission bit at all (which also stops the root
// user, whom the system lets write anything), or none for this user.
bool isReadOnly(const QString& path)
{
    struct stat status {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &status) != 0)
        return false;
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(name.constData(), W_OK) != 0;
}

// Where a chain of symbolic links starting at `path` ends, existing or not; empty for a loop.
QString endOfLinks(const QString& path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int hop = 0; hop < 40; ++hop) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        current = QFileInfo(info.symLinkTarget()).absoluteFilePath();
    }
    return {};
}

// A file of the photo's that is a symbolic link is written only where the link stays within the
// photo's own folder: the new contents, and the temporary file made on the way, land where the
// link ends, and a link to elsewhere would have a rating overwrite a file that is not the photo's.
// `what` names the file for the message ("the sidecar", "the photo").
std::optional<Error> linkLeavingFolder(const QString& path, const QString& what)
{
    if (!QFileInfo(path).isSymLink())
        return std::nullopt;
    const QString end = endOfLinks(path);
    const QString folder = QFileInfo(path).dir().canonicalPath();
    const QString endFolder = end.isEmpty() ? QString() : QFileInfo(end).dir().canonicalPath();
    if (!folder.isEmpty() && endFolder == folder)
        return std::nullopt;
    return failure(
        path, AtomicFile::writeNoPermissionError,
        QStringLiteral("%1 %2 is a symbolic link to %3, outside the photo\u2019s folder; it is left as it "
                       "is")
            .arg(what, path, end.isEmpty() ? QStringLiteral("a loop of links") : end));
}

std::optional<int> sidecarRating(const QString& path, QString* problem)
{
    if (!QFileInfo::exists(path))
        return std::nullopt;
    Error readError;
    const auto bytes = RegularFileReader::read(path, &readError, sidecarSizeLimit);
    if (!bytes) {
        if (problem)
            *problem = QString::fromStdString(readError.localizedDescription());
        return std::nullopt;
    }
    Exiv2::XmpData xmp;
    switch (decode(*bytes, xmp)) {
    case Decoded::Empty:
        return std::nullopt;
    case Decoded::Malformed:
        if (problem)
            *problem = QStringLiteral("the sidecar %1 is no valid XMP; its rating is not read").arg(path);
        return std::nullopt;
    case Decoded::Sound:
        break;
    }
    if (xmp.findKey(Exiv2::XmpKey(ratingKey)) == xmp.end())
        return std::nullopt;
    return ratingOf(xmp);
}
} // namespace

QString XmpRating::sidecarPath(const QString& photoPath, Naming naming)
{
    if (naming == Naming::WholeName)
        return photoPath + QStringLiteral(".xmp");
    const QFileInfo info(photoPath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A name without an extension (or a hidden file's leading dot) keeps its whole name.
    const QString base = dot > 0 ? name.left(dot) : name;
    return info.dir().filePath(base + QStringLiteral(".xmp"));
}

bool XmpRating::writeSidecar(const QString& photoPath, Naming naming, int rating, Error* error)
{
    prepareMetadataLibrary();
    const QString path = sidecarPath(photoPath, naming);
    if (auto refused = linkLeavingFolder(path, QStringLiteral("the sidecar"))) {
        qmSetError(error, std::move(*refused));
        return false;
    }
    QByteArray old;
    Exiv2::XmpData xmp;
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        Error readError;
        const auto bytes = RegularFileReader::read(path, &readError, sidecarSizeLimit);
        if (!bytes) {
            qmSetError(error, failure(path, readError.code(),
                                      QString::fromStdString(readError.localizedDescription()) +
                                          QStringLiteral("; the sidecar is left as it is")));
            return false;
        }
        if (isReadOnly(path)) {
            qmSetError(error,
                       failure(path, AtomicFile::writeNoPermissionError,
                               QStringLiteral("the sidecar %1 is read-only; it is left as it is").arg(path)));
            return false;
        }
        if (decode(*bytes, xmp) == Decoded::Malformed) {
            qmSetError(
                error,
                failure(path, Error::fileReadCorruptFileError,
                        QStringLiteral("the sidecar %1 is no valid XMP; it is left as it is").arg(path)));
            return false;
        }
        old = *bytes;
    }
    try {
        xmp[ratingKey] = std::to_string(rating);
        QByteArray bytes;
        if (const auto edited = editedInPlace(old, rating, xmp)) {
            bytes = *edited;
        } else {
            std::string packet;
            if (Exiv2::XmpParser::encode(packet, xmp,
                                         Exiv2::XmpParser::omitPacketWrapper |
                                             Exiv2::XmpParser::useCompactFormat) != 0)
                throw std::runtime_error("the XMP cannot be encoded");
            bytes = QByteArray(xmlDeclaration) + QByteArray::fromStdString(packet);
        }
        return AtomicFile::write(path, bytes, error);
    } catch (const std::exception& exception) {
        qmSetError(error, failure(path, AtomicFile::writeUnknownError,
                                  QStringLiteral("cannot write the rating into the sidecar %1: %2")
                                      .arg(path, QString::fromLocal8Bit(exception.what()))));
        return false;
    }
}

bool XmpRating::writeIntoPhoto(const QString& photoPath, int rating, Error* error)
{
    prepareMetadataLibrary();
    if (auto refused = linkLeavingFolder(photoPath, QStringLiteral("the photo"))) {
        qmSetError(error, std::move(*refused));
        return false;
    }
    if (isReadOnly(photoPath)) {
        qmSetError(error,
                   failure(photoPath, AtomicFile::writeNoPermissionError,
                           QStringLiteral("the photo %1 is read-only; it is left as it is").arg(photoPath)));
        return false;
    }
    const auto bytes = RegularFileReader::read(photoPath, error);
    if (!bytes)
        return false;
    try {
        // In memory, so the result is written through AtomicFile rather than by the library.
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(bytes->constData()), long(bytes->size()));
        if (!image.get() ||
            (Exiv2::ImageFactory::checkMode(image->imageType(), Exiv2::mdXmp) & Exiv2::amWrite) == 0) {
            qmSetError(error, failure(photoPath, AtomicFile::writeUnknownError,
                                      QStringLiteral("cannot write a rating into %1: its format holds no XMP "
                                                     "that can be written")
                                          .arg(photoPath)));
            return false;
        }
        image->readMetadata();
        image->xmpData()[ratingKey] = std::to_string(rating);
        Exiv2::ExifData& exif = image->exifData();
        if (rating > 0 && exif.findKey(Exiv2::ExifKey(exifRatingKey)) != exif.end())
            exif[exifRatingKey] = uint16_t(rating);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0)
            throw std::runtime_error("the new contents cannot be read back");
        const Exiv2::DataBuf written = io.read(long(io.size()));
        io.close();
        if (written.size_ <= 0)
            throw std::runtime_error("the new contents are empty");
        return AtomicFile::write(
            photoPath, QByteArray(reinterpret_cast<const char*>(written.pData_), written.size_), error);
    } catch (const std::exception& exception) {
        qmSetError(error, failure(photoPath, AtomicFile::writeUnknownError,
                                  QStringLiteral("cannot write a rating into %1: %2")
                                      .arg(photoPath, QString::fromLocal8Bit(exception.what()))));
        return false;
    }
}

int XmpRating::read(const QString& photoPath, Naming naming, QString* problem)
{
    prepareMetadataLibrary();
    const Naming other = naming == Naming::WholeName ? Naming::BaseName : Naming::WholeName;
    for (const Naming each : {naming, other}) {
        if (const auto rating = sidecarRating(sidecarPath(photoPath, each), problem))
            return *rating;
    }
    // The metadata library maps the photo: one cut short meanwhile must not end the process, and
    // what was read of it then tells nothing.
    MappedReadGuard guard;
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(photoPath).toStdString());
        if (!image.get())
            return none;
        image->readMetadata();
        if (guard.fileShrank())
            return none;
        if (image->xmpData().findKey(Exiv2::XmpKey(ratingKey)) != image->xmpData().end())
            return ratingOf(image->xmpData());
        const Exiv2::ExifData& exif = image->exifData();
        const auto found = exif.findKey(Exiv2::ExifKey(exifRatingKey));
        if (found != exif.end() && found->count() > 0) {
            const long stars = found->toLong();
            return stars >= 1 && stars <= 5 ? int(stars) : none;
        }
    } catch (const std::exception&) {
        // A file the metadata library does not know has no rating it could tell.
    }
    return none;
}

int64_t XmpRating::reconciled(int64_t ours, int seenAtLastImport, int outside)
{
    if (outside != none && outside != seenAtLastImport)
        return outside;
    return ours;
}
