#include "library/PhotoDecoder.h"

#include "library/RawPreview.h"
#include "library/ScaledJpegDecoder.h"
#include "platform/foundation/RegularFile.h"

#include <QBuffer>
#include <QFile>
#include <QImageIOHandler>
#include <QImageReader>
#include <QTransform>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace {
bool rotatesByQuarterTurn(QImageIOHandler::Transformations transformation)
{
    return transformation.testFlag(QImageIOHandler::TransformationRotate90);
}

// Opens `file` on the regular file at `path`: a FIFO would block the decoder for ever and
// /dev/zero would never end.
bool openRegular(QFile& file, const QString& path, Error* error)
{
    const int fd = RegularFile::open(path, error);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        qmSetError(error, RegularFile::error(path, EIO));
        return false;
    }
    if (file.size() > RegularFile::maximumSize) {
        qmSetError(error, RegularFile::error(path, EFBIG));
        return false;
    }
    return true;
}

// Reads the image at the stored size scaled to `maxPixelSize`: for a JPEG the decoder scales
// while it decodes. The reader's transformation, when it applies one, comes after the scaling.
QImage readScaled(QImageReader& reader, unsigned maxPixelSize)
{
    reader.setDecideFormatFromContent(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty())
        return {};
    // The longer side is the same in the stored and the displayed orientation, so one factor
    // serves both: QImageReader applies the scaled size before the rotation.
    const QSize scaled = ScaledJpegDecoder::scaledSize(stored, maxPixelSize);
    if (scaled != stored)
        reader.setScaledSize(scaled);
    return reader.read();
}

bool exifRotatesByQuarterTurn(int exifOrientation)
{
    return exifOrientation >= 5 && exifOrientation <= 8;
}

// The stored pixels turned upright as the EXIF orientation says, the way the image reader turns
// a JPEG: mirrored or flipped first, then a quarter turn clockwise.
QImage oriented(QImage image, int exifOrientation)
{
    const bool mirror = exifOrientation == 2 || exifOrientation == 3 || exifOrientation == 7;
    const bool flip = exifOrientation == 3 || exifOrientation == 4 || exifOrientation == 5;
    if (mirror || flip)
        image = std::move(image).mirrored(mirror, flip);
    if (exifOrientation == 8)
        return image.transformed(QTransform().rotate(270));
    if (exifRotatesByQuarterTurn(exifOrientation))
        return image.transformed(QTransform().rotate(90));
    return image;
}

// A RAW file is shown through its embedded preview. The preview's own EXIF orientation, if it has
// one, is not applied: the RAW file's orientation holds for it.
QImage decodeRaw(const QString& path, unsigned maxPixelSize, Error* error)
{
    const auto preview = RawPreview::read(path, error);
    if (!preview)
        return {};
    if (preview->data().startsWith("\xFF\xD8")) {
        if (QImage image = ScaledJpegDecoder::decode(preview->data(), maxPixelSize); !image.isNull())
            return oriented(std::move(image), preview->orientation());
    }
    QBuffer buffer;
    buffer.setData(preview->data());
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    QImage image = readScaled(reader, maxPixelSize);
    if (image.isNull())
        return {};
    return oriented(std::move(image), preview->orientation());
}

QSize rawDisplayedSize(const QString& path, Error* error)
{
    const auto preview = RawPreview::read(path, error, true);
    if (!preview)
        return {};
    QSize stored = preview->storedSize();
    if (!stored.isValid() || stored.isEmpty()) {
        QBuffer buffer;
        buffer.setData(preview->data());
        if (!buffer.open(QIODevice::ReadOnly))
            return {};
        stored = QImageReader(&buffer).size();
        if (!stored.isValid() || stored.isEmpty())
            return {};
    }
    return exifRotatesByQuarterTurn(preview->orientation()) ? stored.transposed() : stored;
}
} // namespace

QImage PhotoDecoder::decode(const QString& path, unsigned maxPixelSize, Error* error)
{
    if (RawPreview::hasRawSuffix(path))
        return decodeRaw(path, maxPixelSize, error);
    QFile file(path);
    if (!openRegular(file, path, error))
        return {};
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    return readScaled(reader, maxPixelSize);
}

QSize PhotoDecoder::displayedSize(const QString& path, Error* error)
{
    if (RawPreview::hasRawSuffix(path))
        return rawDisplayedSize(path, error);
    QFile file(path);
    if (!openRegular(file, path, error))
        return {};
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty())
        return {};
    return rotatesByQuarterTurn(reader.transformation()) ? stored.transposed() : stored;
}
