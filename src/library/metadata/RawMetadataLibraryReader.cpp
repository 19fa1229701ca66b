#include "library/metadata/RawMetadataLibraryReader.h"

#include <exiv2/exiv2.hpp>
#include <mutex>

namespace {

int imageTypeOf(RawMetadataReader::Container container)
{
    switch (container) {
    case RawMetadataReader::Container::Tiff:
        return Exiv2::ImageType::tiff;
    case RawMetadataReader::Container::Cr2:
        return Exiv2::ImageType::cr2;
    case RawMetadataReader::Container::Bmff:
        return Exiv2::ImageType::bmff;
    case RawMetadataReader::Container::Orf:
        return Exiv2::ImageType::orf;
    case RawMetadataReader::Container::Raf:
        return Exiv2::ImageType::raf;
    case RawMetadataReader::Container::Rw2:
        return Exiv2::ImageType::rw2;
    }
    return Exiv2::ImageType::none;
}

bool isJpeg(const Exiv2::byte* data, size_t size)
{
    return size > 2 && data[0] == 0xFF && data[1] == 0xD8;
}

long exifNumber(const Exiv2::ExifData& exif, const std::string& key, long fallback)
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
    const std::unique_ptr<Exiv2::Image> tiff(Exiv2::ImageFactory::open(data, long(size)).release());
    if (!tiff)
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

class LibraryFile : public RawMetadataReader::File {
public:
    explicit LibraryFile(std::unique_ptr<Exiv2::Image> image)
        : m_image(std::move(image))
    {}

    std::vector<RawMetadataReader::Place> storedJpegs() const override
    {
        std::vector<RawMetadataReader::Place> found;
        for (const Exiv2::NativePreview& native : m_image->nativePreviews()) {
            if (native.mimeType_ == "image/jpeg")
                found.push_back({native.position_, qint64(native.size_)});
        }
        static const char* const groups[] = {"Image",     "SubImage1", "SubImage2", "SubImage3",
                                             "SubImage4", "SubImage5", "SubImage6", "SubImage7",
                                             "SubImage8", "SubImage9", "Image2",    "Image3"};
        const Exiv2::ExifData& exif = m_image->exifData();
        for (const char* group : groups) {
            const std::string prefix = std::string("Exif.") + group + '.';
            found.push_back({exifNumber(exif, prefix + "JPEGInterchangeFormat", 0),
                             exifNumber(exif, prefix + "JPEGInterchangeFormatLength", 0)});
            const long compression = exifNumber(exif, prefix + "Compression", 0);
            // Tables kept apart from the strip would make it no JPEG of its own.
            if ((compression == 6 || compression == 7) &&
                exif.findKey(Exiv2::ExifKey(prefix + "JPEGTables")) == exif.end())
                found.push_back({exifNumber(exif, prefix + "StripOffsets", 0),
                                 exifNumber(exif, prefix + "StripByteCounts", 0)});
        }
        return found;
    }

    std::optional<RawMetadataReader::ListedPreview> largestListedPreview() const override
    {
        const Exiv2::PreviewManager manager(*m_image);
        // Listed from the smallest to the largest.
        const Exiv2::PreviewPropertiesList list = manager.getPreviewProperties();
        if (list.empty())
            return std::nullopt;
        const Exiv2::PreviewProperties& largest = list.back();
        // Made in place: the library's preview has no move, only a copy of its bytes.
        struct Holder {
            Exiv2::PreviewImage image;
        };
        std::shared_ptr<const Holder> owner(new Holder{manager.getPreviewImage(largest)});
        const Exiv2::byte* bytes = owner->image.pData();
        size_t size = owner->image.size();
        if (!bytes || size == 0)
            return std::nullopt;
        if (!isJpeg(bytes, size)) {
            if (const auto inner = jpegInTiff(bytes, size)) {
                bytes += inner->first;
                size = inner->second;
            }
        }
        RawMetadataReader::ListedPreview listed;
        listed.data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), qsizetype(size));
        listed.owner = std::move(owner);
        if (largest.width_ > 0 && largest.height_ > 0)
            listed.size = QSize(int(largest.width_), int(largest.height_));
        return listed;
    }

    std::optional<long> orientation() const override
    {
        const auto found = Exiv2::orientation(m_image->exifData());
        if (found == m_image->exifData().end() || found->count() == 0)
            return std::nullopt;
        return found->toLong();
    }

private:
    std::unique_ptr<Exiv2::Image> m_image;
};

} // namespace

RawMetadataLibraryReader::RawMetadataLibraryReader()
{
    // The library's global state, set once before any thread reads a file: its XMP parser must be
    // set up before two threads could meet in it, CR3 files are read only when asked for, and its
    // warnings about odd files would go to standard error, while our callers report failures
    // themselves.
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    });
}

std::unique_ptr<RawMetadataReader::File> RawMetadataLibraryReader::open(const std::string& name,
                                                                        Container container)
{
    std::unique_ptr<Exiv2::Image> image;
    try {
        image.reset(Exiv2::ImageFactory::open(name).release());
    } catch (const Exiv2::AnyError&) {
        // Contents of no format the library knows (an empty file among them).
    }
    if (!image || image->imageType() != imageTypeOf(container))
        return nullptr;
    image->readMetadata();
    return std::make_unique<LibraryFile>(std::move(image));
}
