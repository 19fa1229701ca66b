#include "library/ScaledJpegDecoder.h"

#include <QImageReader>
#include <algorithm>
#include <cmath>
#include <memory>
#include <turbojpeg.h>

QSize ScaledJpegDecoder::scaledSize(const QSize& stored, unsigned maxPixelSize)
{
    const int longer = std::max(stored.width(), stored.height());
    if (maxPixelSize == 0 || longer <= int(maxPixelSize))
        return stored;
    const double factor = double(maxPixelSize) / double(longer);
    return QSize(std::max(1, int(std::lround(stored.width() * factor))),
                 std::max(1, int(std::lround(stored.height() * factor))));
}

QImage ScaledJpegDecoder::decode(const QByteArray& jpeg, unsigned maxPixelSize)
{
    const std::unique_ptr<void, int (*)(tjhandle)> decompressor(tjInitDecompress(), tjDestroy);
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
