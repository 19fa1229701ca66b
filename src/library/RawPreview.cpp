#include "library/RawPreview.h"

#include "library/FileMapping.h"
#include "library/RawMetadataModule.h"
#include "library/TiffDirectoryReader.h"
#include "platform/foundation/MappedReadGuard.h"
#include "platform/foundation/RegularFile.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct RawFormat {
    const char* suffix;
    RawMetadataReader::Container container; // what the metadata library identifies the contents as
    bool tiffBased; // a plain TIFF structure, read without the library where it says enough
};

// DNG, NEF and ARW are TIFF files to the metadata library; the others have formats of their own.
const RawFormat rawFormats[] = {
    {"dng", RawMetadataReader::Container::Tiff, true},  {"cr2", RawMetadataReader::Container::Cr2, true},
    {"cr3", RawMetadataReader::Container::Bmff, false}, {"nef", RawMetadataReader::Container::Tiff, true},
    {"arw", RawMetadataReader::Container::Tiff, true},  {"orf", RawMetadataReader::Container::Orf, false},
    {"raf", RawMetadataReader::Container::Raf, false},  {"rw2", RawMetadataReader::Container::Rw2, false},
};

// Read from the name as it stands, with no file information object or lower-cased copy: this runs
// for every photo shown, just before its decode, whose caches the next photo's preview finds cold.
const RawFormat* formatOf(const QString& fileName)
{
    // A dot in a folder's name leaves a '/' in what follows it, which matches no suffix.
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0)
        return nullptr;
    const QStringView suffix = QStringView(fileName).sliced(dot + 1);
    for (const RawFormat& format : rawFormats) {
        if (suffix.compare(QLatin1String(format.suffix), Qt::CaseInsensitive) == 0)
            return &format;
    }
    return nullptr;
}

Error previewError(const QString& path, const QString& because, const QString& reason)
{
    const QFileInfo info(path);
    Error error(Error::cocoaDomain, Error::fileReadCorruptFileError,
                QStringLiteral("The file \u201c%1\u201d couldn\u2019t be opened because %2.")
                    .arg(info.fileName(), because)
                    .toStdString(),
                reason.toStdString(), QUrl::fromLocalFile(info.absoluteFilePath()));
    error.setUserInfo({{"NSFilePath", PlistValue::string(info.absoluteFilePath().toStdString())}});
    return error;
}

// Where a JPEG lies in the file, and its width and height in pixels as its header says.
struct Extent {
    qint64 offset = 0;
    qint64 length = 0;
    QSize size;
};

// The pixel size a JPEG at `extent` of the mapped file declares in its frame header, reading only
// its markers; an invalid size when the bytes there are no JPEG, or one of the kinds cameras use
// for their sensor data (lossless or hierarchical), which no preview is and no decoder here takes.
QSize jpegSize(const FileMapping& file, const Extent& extent)
{
    const unsigned char* bytes = file.data() + extent.offset;
    if (bytes[0] != 0xFF || bytes[1] != 0xD8)
        return {};
    for (qint64 at = 2; at + 9 <= extent.length;) {
        const unsigned char* marker = bytes + at;
        if (marker[0] != 0xFF)
            return {};
        const int type = marker[1];
        const int length = (marker[2] << 8) | marker[3];
        // Baseline, extended and progressive frames, with Huffman or arithmetic coding.
        if (type == 0xC0 || type == 0xC1 || type == 0xC2 || type == 0xC9 || type == 0xCA)
            return QSize((marker[7] << 8) | marker[8], (marker[5] << 8) | marker[6]);
        if ((type >= 0xC3 && type <= 0xCF && type != 0xC4 && type != 0xCC) || type == 0xDA || type == 0xD9 ||
            length < 2)
            return {};
        at += 2 + length;
    }
    return {};
}

// Of the candidates, the largest JPEG in pixels (of two alike, the longer), checked to lie within
// the file and to be a JPEG a preview can be.
std::optional<Extent> largestOf(std::vector<Extent>& found, const FileMapping& file)
{
    const auto fileSize = qint64(file.size());
    std::optional<Extent> largest;
    for (Extent& extent : found) {
        if (extent.offset <= 0 || extent.length < 4 || extent.length > fileSize ||
            extent.offset > fileSize - extent.length)
            continue;
        extent.size = jpegSize(file, extent);
        if (extent.size.isEmpty())
            continue;
        const auto pixels = [](const Extent& e) { return qint64(e.size.width()) * e.size.height(); };
        if (!largest || pixels(extent) > pixels(*largest) ||
            (pixels(extent) == pixels(*largest) && extent.length > largest->length))
            largest = extent;
    }
    return largest;
}

// The largest JPEG preview stored whole in the file at one of the places cameras use: a native
// preview of the format (CR3), or a TIFF image's JPEGInterchangeFormat or single JPEG strip (DNG,
// NEF, ARW, CR2, RAF, some ORF). Located from the metadata already read, it is read in place, as
// a JPEG file of its own would be: the metadata library's preview listing copies every preview it
// lists, and re-wraps a DNG's in a TIFF, which costs more than decoding it at screen size. Nothing
// when no JPEG is found there; the library's listing then has the last word.
std::optional<Extent> largestStoredJpeg(const RawMetadataReader::File& metadata, const FileMapping& file)
{
    std::vector<Extent> found;
    for (const RawMetadataReader::Place& place : metadata.storedJpegs())
        found.push_back({place.offset, place.length, {}});
    return largestOf(found, file);
}

// What the TIFF-based formats (DNG, NEF, ARW, CR2) say without the metadata library: the largest
// JPEG in the same places (the first four images of the chain and the first image's sub-images)
// and the orientation of the first image. Nothing when the structure is not the one the format
// names (the metadata library then says what it is) or says less than that: the library reads it
// then, maker notes and all.
struct FromTiff {
    Extent extent;
    int orientation = 1;
};

std::optional<FromTiff> readTiff(const FileMapping& file, bool cr2)
{
    const TiffDirectoryReader tiff(file.data(), file.size());
    const bool cr2Signature = file.size() >= 12 && std::memcmp(file.data() + 8, "CR\2\0", 4) == 0;
    if (tiff.magic() != 42 || cr2Signature != cr2)
        return std::nullopt;
    const uint32_t first = tiff.firstDirectory();
    const auto orientation = tiff.number(first, 0x0112);
    if (!orientation)
        return std::nullopt;
    // A damaged structure may hide a larger preview than those found: the library judges it.
    std::vector<uint32_t> images;
    for (uint32_t image = first; image && images.size() < 4; image = tiff.nextDirectory(image)) {
        if (!tiff.nextPointerIsSound(image))
            return std::nullopt;
        images.push_back(image);
    }
    for (const uint32_t subImage : tiff.numbers(first, 0x014A, 9)) {
        if (!tiff.isDirectory(subImage))
            return std::nullopt;
        images.push_back(subImage);
    }
    std::vector<Extent> found;
    for (const uint32_t image : images) {
        const auto start = tiff.number(image, 0x0201);
        const auto length = tiff.number(image, 0x0202);
        if (start && length)
            found.push_back({*start, *length, {}});
        const auto compression = tiff.number(image, 0x0103);
        const auto strip = tiff.number(image, 0x0111);
        const auto stripLength = tiff.number(image, 0x0117);
        // Tables kept apart from the strip would make it no JPEG of its own.
        if (compression && (*compression == 6 || *compression == 7) && strip && stripLength &&
            !tiff.has(image, 0x015B))
            found.push_back({*strip, *stripLength, {}});
    }
    const auto largest = largestOf(found, file);
    if (!largest)
        return std::nullopt;
    return FromTiff{*largest, *orientation >= 1 && *orientation <= 8 ? int(*orientation) : 1};
}

} // namespace

const QStringList& RawPreview::suffixes()
{
    static const QStringList list = [] {
        QStringList names;
        for (const RawFormat& format : rawFormats)
            names << QString::fromLatin1(format.suffix);
        return names;
    }();
    return list;
}

bool RawPreview::hasRawSuffix(const QString& fileName)
{
    return formatOf(fileName) != nullptr;
}

std::optional<RawPreview> RawPreview::read(const QString& path, Error* error, bool sizeOnly)
{
    const RawFormat* format = formatOf(path);
    if (!format) {
        qmSetError(error,
                   previewError(path, QStringLiteral("it is no RAW file"), QStringLiteral("no RAW file")));
        return std::nullopt;
    }
    const int fd = RegularFile::open(path, error);
    if (fd < 0)
        return std::nullopt;
    // The library opens files by name: it is given this descriptor's own name, so it reads the
    // regular file just checked even if another program puts something else in its place.
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size > RegularFile::maximumSize) {
        qmSetError(error, RegularFile::error(path, EFBIG));
        return std::nullopt;
    }
    const auto file = FileMapping::map(fd, size_t(info.st_size));
    // The bytes of the preview found: read in place, mapped, as a JPEG file of its own would be
    // read by its decoder, with no copy.
    const auto take = [&](RawPreview& preview, const Extent& extent) {
        preview.m_storedSize = extent.size;
        if (sizeOnly)
            return;
        file->prefetch(size_t(extent.offset), size_t(extent.length));
        preview.m_data = QByteArray::fromRawData(reinterpret_cast<const char*>(file->data() + extent.offset),
                                                 qsizetype(extent.length));
        preview.m_owner = file;
    };
    // The file is read mapped: one cut short meanwhile must not end the process.
    MappedReadGuard guard;
    // Made only when needed: an error's texts and URL cost more than finding the preview.
    const auto changed = [&path] {
        return previewError(path, QStringLiteral("another program changed it while it was read"),
                            QStringLiteral("changed while read"));
    };
    if (file && format->tiffBased) {
        if (const auto found = readTiff(*file, format->container == RawMetadataReader::Container::Cr2)) {
            RawPreview preview;
            take(preview, found->extent);
            preview.m_orientation = found->orientation;
            if (guard.fileShrank()) {
                qmSetError(error, changed());
                return std::nullopt;
            }
            return preview;
        }
    }
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    const QString suffix = QString::fromLatin1(format->suffix).toUpper();
    const Error notOfTheFormat =
        previewError(path, QStringLiteral("its contents are not those of a %1 file").arg(suffix),
                     QStringLiteral("not a %1 file").arg(suffix));
    // Loaded the first time a file needs it.
    RawMetadataReader* library = RawMetadataModule::reader();
    if (!library) {
        qmSetError(error, previewError(path, QStringLiteral("its metadata cannot be read"),
                                       QStringLiteral("unreadable metadata (metadata module not loaded)")));
        return std::nullopt;
    }
    try {
        const auto image = library->open(
            ::access(name.c_str(), F_OK) == 0 ? name : QFileInfo(path).absoluteFilePath().toStdString(),
            format->container);
        if (!image) {
            qmSetError(error, notOfTheFormat);
            return std::nullopt;
        }
        RawPreview preview;
        if (const auto stored = file ? largestStoredJpeg(*image, *file) : std::nullopt) {
            take(preview, *stored);
        } else if (auto listed = image->largestListedPreview()) {
            preview.m_owner = std::move(listed->owner);
            preview.m_data = listed->data;
            preview.m_storedSize = listed->size;
        } else {
            qmSetError(error, previewError(path, QStringLiteral("it holds no embedded preview image"),
                                           QStringLiteral("no embedded preview image")));
            return std::nullopt;
        }
        if (const auto value = image->orientation())
            preview.m_orientation = *value >= 1 && *value <= 8 ? int(*value) : 1;
        if (guard.fileShrank()) {
            qmSetError(error, changed());
            return std::nullopt;
        }
        return preview;
    } catch (const std::exception& failure) {
        if (guard.fileShrank()) {
            qmSetError(error, changed());
            return std::nullopt;
        }
        qmSetError(
            error,
            previewError(
                path, QStringLiteral("its metadata cannot be read"),
                QStringLiteral("unreadable metadata (%1)").arg(QString::fromLocal8Bit(failure.what()))));
        return std::nullopt;
    }
}
