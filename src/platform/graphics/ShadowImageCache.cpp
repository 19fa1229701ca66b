#include "ShadowImageCache.h"

#include "ShadowBlur.h"

#include <QPainter>
#include <cmath>
#include <list>

namespace {

// Enough for the photos of a strip in two orientations and the placeholders between; bounded in
// bytes too, so a 4K screen's shadows cannot pile up.
constexpr std::size_t maximumEntries = 12;
constexpr qint64 maximumBytes = 48ll << 20;

struct Entry {
    QSize size;
    double radius;
    QRgb color;
    QImage image;
};

std::list<Entry>& entries()
{
    static std::list<Entry> cache;
    return cache;
}

int madeCount = 0;

} // namespace

int ShadowImageCache::margin(double radius)
{
    return std::max(0, int(std::ceil(radius)));
}

QImage ShadowImageCache::blurredRect(QSize size, double radius, const QColor& color)
{
    std::list<Entry>& cache = entries();
    const QRgb rgba = color.rgba();
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->size == size && it->radius == radius && it->color == rgba) {
            // Most recently used first.
            cache.splice(cache.begin(), cache, it);
            return cache.front().image;
        }
    }
    const int edge = margin(radius);
    QImage image(size + QSize(2 * edge, 2 * edge), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        ShadowBlur::fillBlurredRect(painter, QRectF(edge, edge, size.width(), size.height()), radius, color);
    }
    ++madeCount;
    cache.push_front({size, radius, rgba, image});
    qint64 bytes = 0;
    for (auto it = cache.begin(); it != cache.end();) {
        bytes += it->image.sizeInBytes();
        const bool keep =
            it == cache.begin() ||
            (std::size_t(std::distance(cache.begin(), it)) < maximumEntries && bytes <= maximumBytes);
        it = keep ? std::next(it) : cache.erase(it);
    }
    return image;
}

int ShadowImageCache::madeCountForTesting()
{
    return madeCount;
}

void ShadowImageCache::clearForTesting()
{
    entries().clear();
}
