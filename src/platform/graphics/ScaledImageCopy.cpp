#include "ScaledImageCopy.h"

const QImage& ScaledImageCopy::scaled(const QImage& source, QSize pixelSize)
{
    if (m_image.isNull() || m_sourceKey != source.cacheKey() || m_image.size() != pixelSize) {
        m_image = source.scaled(pixelSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_sourceKey = source.cacheKey();
    }
    return m_image;
}

void ScaledImageCopy::clear()
{
    m_image = QImage();
    m_sourceKey = 0;
}
