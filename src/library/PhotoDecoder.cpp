#include "library/PhotoDecoder.h"

#include "platform/foundation/RegularFile.h"

#include <QFile>
#include <QImageIOHandler>
#include <QImageReader>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace {
bool rotatesByQuarterTurn(QImageIOHandler::Transformations transformation)
{
    return transformation.testFlag(QImageIOHandler::TransformationRotate90);
}

// The stored size scaled so its longer side is `maxPixelSize`. The longer side is the same in the
// stored and the displayed orientation, so one factor serves both: QImageReader applies the
// scaled size before the rotation, and this size is in stored coordinates.
QSize scaledStoredSize(const QSize& stored, unsigned maxPixelSize)
{
    const int longer = std::max(stored.width(), stored.height());
    if (maxPixelSize == 0 || longer <= int(maxPixelSize))
        return stored;
    const double factor = double(maxPixelSize) / double(longer);
    return QSize(std::max(1, int(std::lround(stored.width() * factor))),
                 std::max(1, int(std::lround(stored.height() * factor))));
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
} // namespace

QImage PhotoDecoder::decode(const QString& path, unsigned maxPixelSize, Error* error)
{
    QFile file(path);
    if (!openRegular(file, path, error))
        return {};
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty())
        return {};
    const QSize scaled = scaledStoredSize(stored, maxPixelSize);
    if (scaled != stored)
        reader.setScaledSize(scaled);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    return image;
}

QSize PhotoDecoder::displayedSize(const QString& path, Error* error)
{
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
