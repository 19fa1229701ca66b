#include "library/RawPreview.h"

#include "platform/foundation/RegularFile.h"

#include <QFileInfo>
#include <cerrno>
#include <exiv2/exiv2.hpp>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct RawFormat {
    const char* suffix;
    int imageType; // what the metadata library identifies the contents as
};

// DNG, NEF and ARW are TIFF files to the metadata library; the others have formats of their own.
const RawFormat rawFormats[] = {
    {"dng", Exiv2::ImageType::tiff}, {"cr2", Exiv2::ImageType::cr2},  {"cr3", Exiv2::ImageType::bmff},
    {"nef", Exiv2::ImageType::tiff}, {"arw", Exiv2::ImageType::tiff}, {"orf", Exiv2::ImageType::orf},
    {"raf", Exiv2::ImageType::raf},  {"rw2", Exiv2::ImageType::rw2},
};

const RawFormat* formatOf(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (const RawFormat& format : rawFormats) {
        if (suffix == QLatin1String(format.suffix))
            return &format;
    }
    return nullptr;
}

// The library's global state, set once before any thread reads a file: its XMP parser must be
// set up before two threads could meet in it, CR3 files are read only when asked for, and its
// warnings about odd files would go to standard error, while our callers report failures
// themselves.
void setUpOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    });
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

bool isJpeg(const Exiv2::byte* data, size_t size)
{
    return size > 2 && data[0] == 0xFF && data[1] == 0xD8;
}

long exifNumber(const Exiv2::ExifData& exif, const char* key, long fallback)
{
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    return found != exif.end() && found->count() == 1 ? found->toLong() : fallback;
}

// DNG files keep their preview JPEG as the single strip of a TIFF image (compression 7, or 6 in
// older files); the metadata library hands such a preview over wrapped in a small TIFF of its own.
// The JPEG inside is the same as any other preview's, so it takes the scaled JPEG decode too.
// Gives the offset and size of that JPEG within `data`, or nothing when the preview is another
// kind of TIFF (uncompressed, in tiles, or with its JPEG tables kept apart).
std::optional<std::pair<size_t, size_t>> jpegInTiff(const Exiv2::byte* data, size_t size)
{
    auto tiff = Exiv2::ImageFactory::open(data, long(size));
    if (!tiff.get())
        return std::nullopt;
    tiff->readMetadata();
    const Exiv2::ExifData& exif = tiff->exifData();
    const long compression = exifNumber(exif, "Exif.Image.Compression", 0);
    if ((compression != 6 && compression != 7) ||
        exif.findKey(Exiv2::ExifKey("Exif.Image.JPEGTables")) != exif.end())
        return std::nullopt;
    const long offset = exifNumber(exif, "Exif.Image.StripOffsets", -1);
    const long length = exifNumber(exif, "Exif.Image.StripByteCounts", -1);
    if (offset < 0 || length <= 0 || size_t(offset) > size || size_t(length) > size - size_t(offset) ||
        !isJpeg(data + offset, size_t(length)))
        return std::nullopt;
    return std::pair(size_t(offset), size_t(length));
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

std::optional<RawPreview> RawPreview::read(const QString& path, Error* error)
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
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    setUpOnce();
    const QString suffix = QString::fromLatin1(format->suffix).toUpper();
    const Error notOfTheFormat =
        previewError(path, QStringLiteral("its contents are not those of a %1 file").arg(suffix),
                     QStringLiteral("not a %1 file").arg(suffix));
    try {
        decltype(Exiv2::ImageFactory::open(name)) image;
        try {
            image = Exiv2::ImageFactory::open(
                ::access(name.c_str(), F_OK) == 0 ? name : QFileInfo(path).absoluteFilePath().toStdString());
        } catch (const Exiv2::AnyError&) {
            // Contents of no format the library knows (an empty file among them).
        }
        if (!image.get() || image->imageType() != format->imageType) {
            qmSetError(error, notOfTheFormat);
            return std::nullopt;
        }
        image->readMetadata();
        const Exiv2::PreviewManager manager(*image);
        const Exiv2::PreviewPropertiesList list = manager.getPreviewProperties();
        // Listed from the smallest to the largest.
        if (list.empty()) {
            qmSetError(error, previewError(path, QStringLiteral("it holds no embedded preview image"),
                                           QStringLiteral("no embedded preview image")));
            return std::nullopt;
        }
        const Exiv2::PreviewProperties& largest = list.back();
        auto owner = std::make_shared<const Exiv2::PreviewImage>(manager.getPreviewImage(largest));
        const Exiv2::byte* bytes = owner->pData();
        size_t size = owner->size();
        if (!bytes || size == 0) {
            qmSetError(error, previewError(path, QStringLiteral("its embedded preview image is empty"),
                                           QStringLiteral("empty embedded preview image")));
            return std::nullopt;
        }
        if (!isJpeg(bytes, size)) {
            if (const auto jpeg = jpegInTiff(bytes, size)) {
                bytes += jpeg->first;
                size = jpeg->second;
            }
        }
        RawPreview preview;
        preview.m_data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), qsizetype(size));
        preview.m_owner = std::move(owner);
        if (largest.width_ > 0 && largest.height_ > 0)
            preview.m_storedSize = QSize(int(largest.width_), int(largest.height_));
        const auto orientation = Exiv2::orientation(image->exifData());
        if (orientation != image->exifData().end() && orientation->count() > 0) {
            const long value = orientation->toLong();
            preview.m_orientation = value >= 1 && value <= 8 ? int(value) : 1;
        }
        return preview;
    } catch (const std::exception& failure) {
        qmSetError(
            error,
            previewError(
                path, QStringLiteral("its metadata cannot be read"),
                QStringLiteral("unreadable metadata (%1)").arg(QString::fromLocal8Bit(failure.what()))));
        return std::nullopt;
    }
}
