#include "tools/library/XmpRating.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/MappedReadGuard.h"
#include "platform/foundation/RegularFile.h"
#include "tools/library/RegularFileReader.h"
#include "tools/library/XmpPacket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const ratingKey = "Xmp.xmp.Rating";
const char* const exifRatingKey = "Exif.Image.Rating";
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

// Whether `packet` is XMP as the metadata library reads it, for the forms XmpPacket leaves to it.
bool decodes(const QByteArray& packet, Exiv2::XmpData& xmp)
{
    prepareMetadataLibrary();
    try {
        return Exiv2::XmpParser::decode(xmp, packet.toStdString()) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

QString notXmp(const QString& path, const char* consequence)
{
    return QStringLiteral("the sidecar %1 is no valid XMP; %2").arg(path, QLatin1String(consequence));
}

XmpRating::FileIdentity identityOf(const QString& path)
{
    XmpRating::FileIdentity identity;
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(name.constData(), &status) == 0)
        identity.linkInode = int64_t(status.st_ino);
    if (::stat(name.constData(), &status) != 0)
        return identity;
    identity.device = int64_t(status.st_dev);
    identity.inode = int64_t(status.st_ino);
    identity.size = int64_t(status.st_size);
    identity.modified = int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    identity.changed = int64_t(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return identity;
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

// The refusal to write a file of the photo's that nobody may write; `what` names it for the
// message ("the sidecar", "the photo").
std::optional<Error> readOnly(const QString& path, const QString& what)
{
    if (!isReadOnly(path))
        return std::nullopt;
    return failure(path, AtomicFile::writeNoPermissionError,
                   QStringLiteral("%1 %2 is read-only; it is left as it is").arg(what, path));
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

// Writes the prepared contents, the unchanged parts of a large sidecar straight from what was read.
bool writeOut(const QString& path, const XmpRating::PreparedSidecar& prepared, Error* error,
              const std::function<bool(Error*)>& mayReplace = {})
{
    if (prepared.edit) {
        const QByteArrayView old = prepared.old ? QByteArrayView(*prepared.old) : QByteArrayView();
        const XmpPacket::Edit& edit = *prepared.edit;
        return AtomicFile::write(path, {old.first(edit.from), edit.text, old.sliced(edit.to)}, error,
                                 mayReplace);
    }
    if (prepared.bytes)
        return AtomicFile::write(path, {QByteArrayView(*prepared.bytes)}, error, mayReplace);
    qmSetError(error, prepared.error);
    return false;
}

int64_t nanosecondsNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Whether the sidecar is the one the prepared contents were made from.
bool asSeen(const QString& path, const XmpRating::PreparedSidecar& prepared)
{
    if (identityOf(path) != prepared.seen)
        return false;
    if (!prepared.old)
        return true; // missing then and now
    // Times as coarse as a file system keeps them (FAT's two seconds; the system's own take them
    // from a clock that ticks every few milliseconds) before the sidecar was seen: a change since
    // would have moved them.
    constexpr int64_t timesCoarserThan = int64_t(2) * 1000 * 1000 * 1000;
    const int64_t lastChange = std::max(prepared.seen.modified, prepared.seen.changed);
    return lastChange < prepared.seenAt - timesCoarserThan || RegularFile::holds(path, *prepared.old);
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
    const XmpPacket packet(*bytes);
    if (packet.kind() == XmpPacket::Kind::NotXmp) {
        if (problem)
            *problem = notXmp(path, "its rating is not read");
        return std::nullopt;
    }
    if (packet.kind() == XmpPacket::Kind::Empty || packet.rating() == XmpPacket::Rating::Absent)
        return std::nullopt;
    if (packet.rating() == XmpPacket::Rating::Plain)
        return ratingOfText(packet.ratingText());
    Exiv2::XmpData xmp;
    if (!decodes(*bytes, xmp)) {
        if (problem)
            *problem = notXmp(path, "its rating is not read");
        return std::nullopt;
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
    return writeOut(sidecarPath(photoPath, naming), prepareSidecar(photoPath, naming, rating), error);
}

XmpRating::PreparedSidecar XmpRating::prepareSidecar(const QString& photoPath, Naming naming, int rating)
{
    PreparedSidecar prepared{photoPath,    naming,       rating,       {}, nanosecondsNow(),
                             std::nullopt, std::nullopt, std::nullopt, {}};
    const QString path = sidecarPath(photoPath, naming);
    prepared.seen = identityOf(path);
    Error* const error = &prepared.error;
    if (auto refused = linkLeavingFolder(path, QStringLiteral("the sidecar"))) {
        qmSetError(error, std::move(*refused));
        return prepared;
    }
    QByteArray old;
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        Error readError;
        const auto bytes = RegularFileReader::read(path, &readError, sidecarSizeLimit);
        if (!bytes) {
            qmSetError(error, failure(path, readError.code(),
                                      QString::fromStdString(readError.localizedDescription()) +
                                          QStringLiteral("; the sidecar is left as it is")));
            return prepared;
        }
        if (auto refused = readOnly(path, QStringLiteral("the sidecar"))) {
            qmSetError(error, std::move(*refused));
            return prepared;
        }
        old = *bytes;
        prepared.old = old;
    }
    // Byte for byte but for the rating where the packet's form allows, else written anew.
    const XmpPacket packet(old);
    if ((prepared.edit = packet.ratingEdit(rating)))
        return prepared;
    Exiv2::XmpData xmp;
    if (packet.kind() == XmpPacket::Kind::NotXmp ||
        (packet.kind() == XmpPacket::Kind::Xmp && !decodes(old, xmp))) {
        qmSetError(error,
                   failure(path, Error::fileReadCorruptFileError, notXmp(path, "it is left as it is")));
        return prepared;
    }
    try {
        xmp[ratingKey] = std::to_string(rating);
        std::string packetText;
        if (Exiv2::XmpParser::encode(packetText, xmp,
                                     Exiv2::XmpParser::omitPacketWrapper |
                                         Exiv2::XmpParser::useCompactFormat) != 0)
            throw std::runtime_error("the XMP cannot be encoded");
        prepared.bytes = QByteArray(xmlDeclaration) + QByteArray::fromStdString(packetText);
    } catch (const std::exception& exception) {
        qmSetError(error, failure(path, AtomicFile::writeUnknownError,
                                  QStringLiteral("cannot write the rating into the sidecar %1: %2")
                                      .arg(path, QString::fromLocal8Bit(exception.what()))));
    }
    return prepared;
}

bool XmpRating::writePrepared(const PreparedSidecar& prepared, Error* error)
{
    const QString path = sidecarPath(prepared.photoPath, prepared.naming);
    bool changed = false;
    if (prepared.edit || prepared.bytes) {
        const bool written = writeOut(path, prepared, error, [&](Error*) {
            changed = !asSeen(path, prepared);
            return !changed;
        });
        if (!changed)
            return written;
    } else if (asSeen(path, prepared)) {
        qmSetError(error, prepared.error);
        return false;
    }
    // Changed since (by another program, or replaced through a rename): made again from what is
    // there now.
    return writeOut(path, prepareSidecar(prepared.photoPath, prepared.naming, prepared.rating), error);
}

bool XmpRating::writeIntoPhoto(const QString& photoPath, int rating, Error* error)
{
    prepareMetadataLibrary();
    if (auto refused = linkLeavingFolder(photoPath, QStringLiteral("the photo"))) {
        qmSetError(error, std::move(*refused));
        return false;
    }
    if (auto refused = readOnly(photoPath, QStringLiteral("the photo"))) {
        qmSetError(error, std::move(*refused));
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
