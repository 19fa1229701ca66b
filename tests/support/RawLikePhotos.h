#pragma once

#include "tools/library/RawLikeFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTransform>

// RAW-like files for tests, made from images drawn by the test (see RawLikeFile). Header-only:
// the tests that use it link the library tool's code.
namespace RawLikePhotos {
inline QByteArray jpeg(const QImage& image, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}

// The pixels a camera held as the EXIF orientation says stores for `upright`: the inverse of
// the turn that orientation asks for, written out here rather than taken from the decoder.
inline QImage stored(const QImage& upright, int orientation)
{
    switch (orientation) {
    case 2:
        return upright.mirrored(true, false);
    case 3:
        return upright.transformed(QTransform().rotate(180));
    case 4:
        return upright.mirrored(false, true);
    case 5: // transposed
        return upright.transformed(QTransform(0, 1, 1, 0, 0, 0));
    case 6:
        return upright.transformed(QTransform().rotate(-90));
    case 7: // transposed across the other diagonal
        return upright.transformed(QTransform(0, -1, -1, 0, 0, 0));
    case 8:
        return upright.transformed(QTransform().rotate(90));
    default:
        return upright;
    }
}

// Writes a RAW-like file whose preview shows `upright` once turned by `orientation`.
inline bool write(const QString& path, RawLikeFile::Format format, const QImage& upright, int orientation = 1)
{
    const QImage pixels = stored(upright, orientation);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(RawLikeFile::make(format, jpeg(pixels), pixels.size(), orientation)) > 0 &&
           file.flush();
}

// An image of four coloured quarters (red, green / blue, white from the top left), so any turn
// or mirror shows.
inline QImage quarters(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            if (!bottom)
                image.setPixel(x, y, right ? qRgb(0, 200, 0) : qRgb(220, 0, 0));
            else if (!right)
                image.setPixel(x, y, qRgb(0, 0, 220));
        }
    }
    return image;
}
} // namespace RawLikePhotos
