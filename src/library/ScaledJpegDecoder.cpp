#include "library/ScaledJpegDecoder.h"

#include "library/TiffDirectoryReader.h"

#include <QImageReader>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
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

QImage ScaledJpegDecoder::decode(QByteArrayView jpeg, unsigned maxPixelSize)
{
    // One decompressor a thread, kept: making one takes its memory pools every time, which shows
    // on a small preview. The library resets it at the start of every decode, after a failure too.
    thread_local const std::unique_ptr<void, int (*)(tjhandle)> decompressor(tjInitDecompress(), tjDestroy);
    if (!decompressor)
        return {};
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.constData());
    const auto size = static_cast<unsigned long>(jpeg.size());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(decompressor.get(), data, size, &width, &height, &subsampling, &colourspace) !=
            0 ||
        width <= 0 || height <= 0)
        return {};
    const QSize target = scaledSize(QSize(width, height), maxPixelSize);
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    const int longer = std::max(width, height);
    const int wanted = std::max(target.width(), target.height());
    tjscalingfactor chosen{1, 1};
    int chosenSide = longer;
    for (int i = 0; factors && i < count; ++i) {
        const int side = TJSCALED(longer, factors[i]);
        if (side >= wanted && side < chosenSide) {
            chosen = factors[i];
            chosenSide = side;
        }
    }
    const QSize decoded(TJSCALED(width, chosen), TJSCALED(height, chosen));
    const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (limit > 0 && qint64(decoded.width()) * decoded.height() * 4 > limit)
        return {};
    QImage image(decoded, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    // Format_RGB32 is 0xffRRGGBB in the machine's byte order; the library fills X with 0xff.
    const int pixelFormat = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB;
    if (tjDecompress2(decompressor.get(), data, size, image.bits(), image.width(), int(image.bytesPerLine()),
                      image.height(), pixelFormat, 0) != 0 &&
        tjGetErrorCode(decompressor.get()) != TJERR_WARNING)
        return {};
    if (image.size() == target)
        return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
