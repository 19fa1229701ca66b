#include "library/PhotoDecoder.h"

#include "library/AreaAveragingScaler.h"
#include "library/FileMapping.h"
#include "library/RawPreview.h"
#include "library/ScaledJpegDecoder.h"
#include "platform/foundation/MappedReadGuard.h"
#include "platform/foundation/RegularFile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageIOHandler>
#include <QImageReader>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>
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

// The EXIF orientation (1-8) that does what the image reader's transformation does.
int exifOrientation(QImageIOHandler::Transformations transformation)
{
    // Indexed by the flags: mirror 1, flip 2, a quarter turn clockwise 4, applied in that order.
    static constexpr int orientations[8] = {1, 2, 4, 3, 6, 7, 5, 8};
    return orientations[transformation.toInt() & 7];
}

// Reads the image at the stored size scaled to `maxPixelSize`, turned upright when the reader's
// auto-transform is on, the transformation after the scaling. A handler that scales itself (the
// JPEG one, with its DCT scaling) is given the size; any other image is read at its stored size and
// resized here at the calling thread's priority: the reader would resize it with Qt's smooth scale, whose
// pieces go to the shared thread pool at normal priority, out of reach of the loaders' idle one.
QImage readScaled(QImageReader& reader, unsigned maxPixelSize)
{
    reader.setDecideFormatFromContent(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty())
        return {};
    // The longer side is the same in the stored and the displayed orientation, so one factor
    // serves both: QImageReader applies the scaled size before the rotation.
    const QSize scaled = ScaledJpegDecoder::scaledSize(stored, maxPixelSize);
    if (scaled == stored || reader.supportsOption(QImageIOHandler::ScaledSize)) {
        if (scaled != stored)
            reader.setScaledSize(scaled);
        return reader.read();
    }
    const int orientation = reader.autoTransform() ? exifOrientation(reader.transformation()) : 1;
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    // Sized from the pixels read, which a handler may give fewer of than its header said.
    image = AreaAveragingScaler::scaled(image, ScaledJpegDecoder::scaledSize(image.size(), maxPixelSize));
    return image.isNull() ? image : ScaledJpegDecoder::turned(std::move(image), orientation);
}

bool exifRotatesByQuarterTurn(int exifOrientation)
{
    return exifOrientation >= 5 && exifOrientation <= 8;
}

// A JPEG file, decoded straight from its mapped bytes, turned and tagged with its colour profile
// as the image reader would: nothing when it is no JPEG or one the direct decode cannot take (CMYK,
// 12 bits a sample), which the image reader then gets; a null image with `error` set when another
// program cut the file short meanwhile.
std::optional<QImage> decodeJpeg(QFile& file, const QString& path, unsigned maxPixelSize, Error* error)
{
    unsigned char magic[2] = {};
    if (file.size() < 4 || ::pread(file.handle(), magic, 2, 0) != 2 || magic[0] != 0xFF || magic[1] != 0xD8)
        return std::nullopt;
    const auto mapping = FileMapping::map(file.handle(), size_t(file.size()));
    if (!mapping)
        return std::nullopt;
    mapping->prefetch(0, mapping->size());
    const MappedReadGuard guard;
    const QByteArrayView bytes = mapping->view(0, mapping->size());
    const ScaledJpegDecoder::Header header = ScaledJpegDecoder::headerOf(bytes);
    QImage image = ScaledJpegDecoder::decodeTurned(bytes, maxPixelSize, header.orientation);
    if (guard.fileShrank()) {
        qmSetError(error, RegularFile::error(path, EIO));
        return QImage();
    }
    if (image.isNull())
        return std::nullopt;
    if (!header.iccProfile.isEmpty()) {
        if (const QColorSpace profile = QColorSpace::fromIccProfile(header.iccProfile); profile.isValid())
            image.setColorSpace(profile);
    }
    return image;
}

// A RAW file is shown through its embedded preview. The preview's own EXIF orientation, if it has
// one, is not applied: the RAW file's orientation holds for it.
QImage decodeRaw(const QString& path, unsigned maxPixelSize, Error* error)
{
    const auto preview = RawPreview::read(path, error);
    if (!preview)
        return {};
    // The preview's bytes may lie in the mapped RAW file.
    const MappedReadGuard guard;
    const auto shrank = [&] {
        if (!guard.fileShrank())
            return false;
        qmSetError(error, RegularFile::error(path, EIO));
        return true;
    };
    if (preview->data().startsWith("\xFF\xD8")) {
        QImage image = ScaledJpegDecoder::decodeTurned(preview->data(), maxPixelSize, preview->orientation());
        if (shrank())
            return {};
        if (!image.isNull())
            return image;
    }
    QBuffer buffer;
    buffer.setData(preview->data());
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    QImage image = readScaled(reader, maxPixelSize);
    if (shrank() || image.isNull())
        return {};
    return ScaledJpegDecoder::turned(std::move(image), preview->orientation());
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
    if (auto jpeg = decodeJpeg(file, path, maxPixelSize, error))
        return *std::move(jpeg);
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
