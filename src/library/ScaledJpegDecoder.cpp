#include "library/ScaledJpegDecoder.h"

#include "library/AreaAveragingScaler.h"
#include "library/TiffDirectoryReader.h"

#include <QImageReader>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <map>
#include <memory>
#include <optional>
#include <turbojpeg.h>

namespace {
// The EXIF orientation in an APP1 segment's payload ("Exif\0\0" and a TIFF structure).
int exifOrientation(QByteArrayView payload)
{
    const auto* tiffData = reinterpret_cast<const unsigned char*>(payload.data()) + 6;
    const TiffDirectoryReader tiff(tiffData, size_t(payload.size() - 6));
    const auto value = tiff.magic() == 42 ? tiff.number(tiff.firstDirectory(), 0x0112) : std::nullopt;
    return value && *value >= 1 && *value <= 8 ? int(*value) : 1;
}
} // namespace

ScaledJpegDecoder::Header ScaledJpegDecoder::headerOf(QByteArrayView jpeg)
{
    Header header;
    const auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
    const qsizetype size = jpeg.size();
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return header;
    bool exifSeen = false;
    // The profile may be split over several APP2 segments, numbered from 1.
    std::map<int, QByteArrayView> iccChunks;
    int iccCount = 0;
    bool iccConsistent = true;
    for (qsizetype at = 2; at + 4 <= size;) {
        if (bytes[at] != 0xFF)
            break;
        const int type = bytes[at + 1];
        if (type == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (type == 0xDA || type == 0xD9)
            break;
        const qsizetype length = (bytes[at + 2] << 8) | bytes[at + 3];
        if (length < 2 || at + 2 + length > size)
            break;
        const QByteArrayView payload = jpeg.sliced(at + 4, length - 2);
        if (type == 0xE1 && !exifSeen && payload.startsWith(QByteArrayView("Exif\0\0", 6))) {
            exifSeen = true;
            header.orientation = exifOrientation(payload);
        } else if (type == 0xE2 && payload.size() > 14 &&
                   payload.startsWith(QByteArrayView("ICC_PROFILE\0", 12))) {
            const int number = uchar(payload[12]);
            const int count = uchar(payload[13]);
            iccConsistent = iccConsistent && number >= 1 && number <= count &&
                            (!iccCount || count == iccCount) && !iccChunks.contains(number);
            iccCount = count;
            iccChunks.emplace(number, payload.sliced(14));
        }
        at += 2 + length;
    }
    if (iccConsistent && iccCount > 0 && int(iccChunks.size()) == iccCount) {
        for (const auto& [number, chunk] : iccChunks)
            header.iccProfile.append(chunk);
    }
    return header;
}

QSize ScaledJpegDecoder::scaledSize(const QSize& stored, unsigned maxPixelSize)
{
    const int longer = std::max(stored.width(), stored.height());
    if (maxPixelSize == 0 || longer <= int(maxPixelSize))
        return stored;
    const double factor = double(maxPixelSize) / double(longer);
    return QSize(std::max(1, int(std::lround(stored.width() * factor))),
                 std::max(1, int(std::lround(stored.height() * factor))));
}

namespace {
tjhandle threadDecompressor()
{
    // One decompressor a thread, kept: making one takes its memory pools every time, which shows
    // on a small preview. The library resets it at the start of every decode, after a failure too.
    thread_local const std::unique_ptr<void, int (*)(tjhandle)> decompressor(tjInitDecompress(), tjDestroy);
    return decompressor.get();
}

// How a JPEG is decoded for a size: at which of the library's DCT scales, to how many pixels, and
// to which size it is then resized.
struct Plan {
    tjscalingfactor scale{1, 1};
    QSize decoded; // as stored, at that scale
    QSize target;  // as stored, the size asked for
};

std::optional<Plan> planFor(tjhandle decompressor, QByteArrayView jpeg, unsigned maxPixelSize)
{
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.constData());
    const auto size = static_cast<unsigned long>(jpeg.size());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(decompressor, data, size, &width, &height, &subsampling, &colourspace) != 0 ||
        width <= 0 || height <= 0)
        return std::nullopt;
    Plan plan;
    plan.target = ScaledJpegDecoder::scaledSize(QSize(width, height), maxPixelSize);
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    const int longer = std::max(width, height);
    const int wanted = std::max(plan.target.width(), plan.target.height());
    int chosenSide = longer;
    for (int i = 0; factors && i < count; ++i) {
        const int side = TJSCALED(longer, factors[i]);
        if (side >= wanted && side < chosenSide) {
            plan.scale = factors[i];
            chosenSide = side;
        }
    }
    plan.decoded = QSize(TJSCALED(width, plan.scale), TJSCALED(height, plan.scale));
    const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (limit > 0 && qint64(plan.decoded.width()) * plan.decoded.height() * 4 > limit)
        return std::nullopt;
    return plan;
}

// Format_RGB32 is 0xffRRGGBB in the machine's byte order; the library fills X with 0xff.
const bool littleEndian = QSysInfo::ByteOrder == QSysInfo::LittleEndian;

QImage decodeStored(tjhandle decompressor, QByteArrayView jpeg, const Plan& plan)
{
    QImage image(plan.decoded, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    if (tjDecompress2(decompressor, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                      static_cast<unsigned long>(jpeg.size()), image.bits(), image.width(),
                      int(image.bytesPerLine()), image.height(), littleEndian ? TJPF_BGRX : TJPF_XRGB,
                      0) != 0 &&
        tjGetErrorCode(decompressor) != TJERR_WARNING)
        return {};
    // At this thread's priority: the loaders run at idle priority, and Qt's smooth scale would hand the work
    // to its shared pool, whose threads compete with the main thread at normal priority.
    return AreaAveragingScaler::scaled(image, plan.target);
}

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

[[noreturn]] void leaveDecode(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings about damaged data: the library goes on as it does in decode() (the part it cannot
// decode grey); callers report failures themselves.
void stayQuiet(j_common_ptr)
{}

// Measured on a 1616-pixel-wide preview: 128 rows (about 0.8 MB a band) turn about 3 % faster than
// 64 and 7 % faster than 32; 256 and more are slower again.
constexpr int bandRows = 128;

// Writes `count` decoded rows of a quarter turn's band, starting at stored row `first` of a
// `width`×`height` image, as columns of `turned`: a band of many rows at a time, so that each row of
// the turned image gets several cache lines at once.
void writeQuarterTurned(JSAMPARRAY band, int first, int count, int width, int height, int orientation,
                        uchar* turned, qsizetype bytesPerLine)
{
    // Stored (x, y) goes to column y (5, 8) or height - 1 - y (6, 7) of row x (5, 6) or width - 1 - x (7, 8).
    const bool rowsReversed = orientation == 7 || orientation == 8;
    const bool columnsReversed = orientation == 6 || orientation == 7;
    const quint32* from[bandRows];
    for (int r = 0; r < count; ++r)
        from[r] = reinterpret_cast<const quint32*>(band[r]);
    for (int x = 0; x < width; ++x) {
        auto* to = reinterpret_cast<quint32*>(turned + (rowsReversed ? width - 1 - x : x) * bytesPerLine);
        if (columnsReversed) {
            quint32* column = to + (height - 1 - first);
            for (int r = 0; r < count; ++r)
                column[-r] = from[r][x];
        } else {
            quint32* column = to + first;
            for (int r = 0; r < count; ++r)
                column[r] = from[r][x];
        }
    }
}

// Decodes at the plan's scale, with no resize after it, straight into `turned` (already of the
// turned size), with libjpeg's own interface, which hands the rows over a band at a time; the
// library and its settings are those of decodeStored(), so the pixels are the same. False when the
// data cannot be decoded. Only plain data lives in this frame: a library error leaves it by a long
// jump.
bool decodeIntoTurned(QByteArrayView jpeg, const Plan& plan, int orientation, QImage& turned)
{
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = leaveDecode;
    errors.base.output_message = stayQuiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = littleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    info.scale_num = unsigned(plan.scale.num);
    info.scale_denom = unsigned(plan.scale.denom);
    jpeg_start_decompress(&info);
    const int width = int(info.output_width);
    const int height = int(info.output_height);
    if (QSize(width, height) != plan.decoded || info.output_components != 4) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    uchar* const bits = turned.bits();
    const qsizetype bytesPerLine = turned.bytesPerLine();
    const bool quarter = orientation >= 5;
    const bool mirror = orientation == 2 || orientation == 3;
    const bool flip = orientation == 3 || orientation == 4;
    // A quarter turn's rows are decoded into a band and written as columns; the others' straight
    // into their rows of the turned image, mirrored there while they are in the cache.
    const JSAMPARRAY band = quarter ? (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info),
                                                                JPOOL_IMAGE, JDIMENSION(width) * 4, bandRows)
                                    : nullptr;
    JSAMPROW rows[bandRows];
    while (int(info.output_scanline) < height) {
        const int first = int(info.output_scanline);
        for (int r = 0; r < bandRows; ++r) {
            const int y = std::min(first + r, height - 1);
            rows[r] = quarter ? band[r] : bits + (flip ? height - 1 - y : y) * bytesPerLine;
        }
        int count = 0;
        while (count < bandRows && int(info.output_scanline) < height) {
            const JDIMENSION read = jpeg_read_scanlines(&info, rows + count, JDIMENSION(bandRows - count));
            if (read == 0)
                break;
            count += int(read);
        }
        if (count == 0) {
            jpeg_destroy_decompress(&info);
            return false;
        }
        if (quarter) {
            writeQuarterTurned(band, first, count, width, height, orientation, bits, bytesPerLine);
        } else if (mirror) {
            for (int r = 0; r < count; ++r) {
                auto* row = reinterpret_cast<quint32*>(rows[r]);
                std::reverse(row, row + width);
            }
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}
} // namespace

QImage ScaledJpegDecoder::decode(QByteArrayView jpeg, unsigned maxPixelSize)
{
    const tjhandle decompressor = threadDecompressor();
    if (!decompressor)
        return {};
    const auto plan = planFor(decompressor, jpeg, maxPixelSize);
    return plan ? decodeStored(decompressor, jpeg, *plan) : QImage();
}

QImage ScaledJpegDecoder::decodeTurned(QByteArrayView jpeg, unsigned maxPixelSize, int orientation)
{
    const tjhandle decompressor = threadDecompressor();
    if (!decompressor)
        return {};
    const auto plan = planFor(decompressor, jpeg, maxPixelSize);
    if (!plan)
        return {};
    // Upright, or resized after the decode: the resize needs the stored rows first.
    if (orientation < 2 || orientation > 8 || plan->decoded != plan->target)
        return turned(decodeStored(decompressor, jpeg, *plan), orientation);
    QImage image(orientation >= 5 ? plan->decoded.transposed() : plan->decoded, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    if (decodeIntoTurned(jpeg, *plan, orientation, image))
        return image;
    // Damaged data the library gives up on: the stored decode keeps what it recovers, if anything.
    image = QImage();
    return turned(decodeStored(decompressor, jpeg, *plan), orientation);
}

QImage ScaledJpegDecoder::turned(QImage image, int orientation)
{
    const bool mirror = orientation == 2 || orientation == 3 || orientation == 7;
    const bool flip = orientation == 3 || orientation == 4 || orientation == 5;
    if (mirror || flip)
        image = std::move(image).mirrored(mirror, flip);
    if (orientation == 8)
        return image.transformed(QTransform().rotate(270));
    if (orientation >= 5 && orientation <= 7)
        return image.transformed(QTransform().rotate(90));
    return image;
}
