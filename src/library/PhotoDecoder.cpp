#include "library/PhotoDecoder.h"

#include <QImageIOHandler>
#include <QImageReader>
#include <algorithm>
#include <cmath>

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
} // namespace

QImage PhotoDecoder::decode(const QString& path, unsigned maxPixelSize)
{
    QImageReader reader(path);
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

QSize PhotoDecoder::displayedSize(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty())
        return {};
    return rotatesByQuarterTurn(reader.transformation()) ? stored.transposed() : stored;
}
