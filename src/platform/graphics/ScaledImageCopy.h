#pragma once

#include <QImage>
#include <QSize>

// One image kept scaled to the size it was last drawn at, so a frame that draws an unchanged image
// at an unchanged size copies pixels instead of rescaling them. Main thread only (the painter's).
class ScaledImageCopy {
public:
    // `source` scaled smoothly to `pixelSize`; made again only when the source or the size
    // differs from the last call.
    const QImage& scaled(const QImage& source, QSize pixelSize);
    void clear();

private:
    qint64 m_sourceKey = 0;
    QImage m_image;
};
