#include "library/BandedImageConversion.h"

#include <QColorTransform>
#include <QStringList>
#include <algorithm>
#include <cstring>

namespace {
// Qt converts an image on the calling thread when it has fewer than 2 × 65536 pixels; a band keeps
// under 65536, so it is never split.
int bandRows(int width)
{
    return std::max(1, 65535 / std::max(1, width));
}
} // namespace

void BandedImageConversion::convertTo(QImage& image, QImage::Format format)
{
    if (image.isNull() || image.format() == format)
        return;
    QImage converted(image.size(), format);
    if (converted.isNull()) {
        image = QImage();
        return;
    }
    copyMetadata(image, converted);
    const QList<QRgb> colours = image.colorTable();
    const int rows = bandRows(image.width());
    for (int y = 0; y < image.height(); y += rows) {
        const int count = std::min(rows, image.height() - y);
        QImage band(image.constScanLine(y), image.width(), count, image.bytesPerLine(), image.format());
        band.setColorTable(colours);
        const QImage done = band.convertToFormat(format);
        const size_t bytes = size_t(std::min(done.bytesPerLine(), converted.bytesPerLine()));
        for (int r = 0; r < count; ++r)
            std::memcpy(converted.scanLine(y + r), done.constScanLine(r), bytes);
    }
    image = std::move(converted);
}

void BandedImageConversion::convertToColorSpace(QImage& image, const QColorSpace& colorSpace)
{
    if (image.isNull() || !image.colorSpace().isValid() || !colorSpace.isValid() ||
        image.colorSpace() == colorSpace)
        return;
    const QColorTransform transform = image.colorSpace().transformationToColorSpace(colorSpace);
    const int rows = bandRows(image.width());
    // The bands write straight into the image's own pixels (detached first by bits()).
    uchar* const bits = image.bits();
    for (int y = 0; y < image.height(); y += rows) {
        QImage band(bits + y * image.bytesPerLine(), image.width(), std::min(rows, image.height() - y),
                    image.bytesPerLine(), image.format());
        band.applyColorTransform(transform);
    }
    image.setColorSpace(colorSpace);
}

void BandedImageConversion::copyMetadata(const QImage& from, QImage& to)
{
    to.setColorSpace(from.colorSpace());
    to.setDotsPerMeterX(from.dotsPerMeterX());
    to.setDotsPerMeterY(from.dotsPerMeterY());
    to.setDevicePixelRatio(from.devicePixelRatio());
    for (const QString& key : from.textKeys())
        to.setText(key, from.text(key));
}
