#include "ShadowImageCache.h"

#include "ShadowBlur.h"
#include "platform/foundation/MainThread.h"

#include <QPainter>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <list>
#include <mutex>
#include <vector>

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

// Guards entries().
std::mutex& entriesMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::list<Entry>& entries()
{
    static std::list<Entry> cache;
    return cache;
}

std::atomic<int> madeCount = 0;
std::atomic<int> madeOnMainThreadCount = 0;

// The kept image for the key, moved to the front (most recently used); null when none. Called
// with the lock held.
QImage findLocked(QSize size, double radius, QRgb color)
{
    std::list<Entry>& cache = entries();
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->size == size && it->radius == radius && it->color == color) {
            cache.splice(cache.begin(), cache, it);
            return cache.front().image;
        }
    }
    return {};
}

// The size of the patch blurredCore() makes, margins included.
QSize coreSize(QSize size, double radius)
{
    const int core = 2 * int(std::ceil(radius)) + 3;
    const int edge = ShadowImageCache::margin(radius);
    return QSize(std::min(size.width(), core), std::min(size.height(), core)) + QSize(2 * edge, 2 * edge);
}

// The shadow of a rectangle no larger than a few radii, with its margin: along a long edge the
// blur is the same at every point between the corners, so one such patch holds every pixel a
// shadow of any larger size has.
QImage blurredCore(QSize size, double radius, const QColor& color)
{
    const int edge = ShadowImageCache::margin(radius);
    const QSize small = coreSize(size, radius) - QSize(2 * edge, 2 * edge);
    QImage patch(small + QSize(2 * edge, 2 * edge), QImage::Format_ARGB32_Premultiplied);
    patch.fill(Qt::transparent);
    QPainter painter(&patch);
    painter.setRenderHint(QPainter::Antialiasing);
    ShadowBlur::fillBlurredRect(painter, QRectF(edge, edge, small.width(), small.height()), radius, color);
    return patch;
}

// `patch` grown to `size` by repeating its middle row and column: the corners stay as they are,
// the edges and the middle run on. Rows are copied, so a large shadow costs no more than writing
// its pixels once.
QImage stretched(const QImage& patch, QSize size)
{
    if (patch.size() == size)
        return patch;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    const int width = size.width();
    const int height = size.height();
    const int middleColumn = patch.width() / 2;
    const int middleRow = patch.height() / 2;
    const int rightColumns = patch.width() - middleColumn - 1;
    const int bottomRows = patch.height() - middleRow - 1;
    for (int y = 0; y < height; ++y) {
        const int from = y < middleRow              ? y
                         : y >= height - bottomRows ? y - (height - patch.height())
                                                    : middleRow;
        const auto* source = reinterpret_cast<const QRgb*>(patch.constScanLine(from));
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::copy(source, source + middleColumn, line);
        std::fill(line + middleColumn, line + width - rightColumns, source[middleColumn]);
        std::copy(source + middleColumn + 1, source + patch.width(), line + width - rightColumns);
    }
    return image;
}

// The sizes the painter may ask for a plain rectangle covering `deviceSize` device pixels: both
// roundings where the size sits on a half pixel, since the painter's mapping of the rectangle may
// land a hair either side. None for an empty size.
std::vector<QSize> roundingsOf(QSizeF deviceSize)
{
    std::vector<QSize> sizes;
    if (deviceSize.isEmpty())
        return sizes;
    // A millionth of a pixel is far more than a mapping's rounding error and far less than what
    // tells two layouts apart.
    constexpr double slack = 1e-6;
    for (const double dw : {-slack, slack}) {
        for (const double dh : {-slack, slack}) {
            const QSize size =
                ShadowImageCache::pixelSizeOf(QSizeF(deviceSize.width() + dw, deviceSize.height() + dh));
            if (std::find(sizes.begin(), sizes.end(), size) == sizes.end())
                sizes.push_back(size);
        }
    }
    return sizes;
}

} // namespace

int ShadowImageCache::margin(double radius)
{
    return std::max(0, int(std::ceil(radius)));
}

QRect ShadowImageCache::uniformMiddle(QSize size, double radius)
{
    // stretched() repeats the patch's middle row and column from there to the patch's far side.
    const QSize patch = coreSize(size, radius);
    const QSize image = size + QSize(2 * margin(radius), 2 * margin(radius));
    const int left = patch.width() / 2;
    const int top = patch.height() / 2;
    const int right = image.width() - (patch.width() - left - 1);
    const int bottom = image.height() - (patch.height() - top - 1);
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

QImage ShadowImageCache::blurredRect(QSize size, double radius, const QColor& color)
{
    const QRgb rgba = color.rgba();
    {
        const std::lock_guard lock(entriesMutex());
        if (QImage kept = findLocked(size, radius, rgba); !kept.isNull())
            return kept;
    }
    QImage image =
        stretched(blurredCore(size, radius, color), size + QSize(2 * margin(radius), 2 * margin(radius)));
    ++madeCount;
    if (isMainThread())
        ++madeOnMainThreadCount;
    // Dropped entries are freed once the lock is released.
    std::list<Entry> dropped;
    const std::lock_guard lock(entriesMutex());
    // Another thread made the same meanwhile: the kept one is used, so every caller draws one image.
    if (QImage kept = findLocked(size, radius, rgba); !kept.isNull())
        return kept;
    std::list<Entry>& cache = entries();
    cache.push_front({size, radius, rgba, image});
    qint64 bytes = 0;
    for (auto it = cache.begin(); it != cache.end();) {
        bytes += it->image.sizeInBytes();
        const bool keep =
            it == cache.begin() ||
            (std::size_t(std::distance(cache.begin(), it)) < maximumEntries && bytes <= maximumBytes);
        const auto next = std::next(it);
        if (!keep)
            dropped.splice(dropped.end(), cache, it);
        it = next;
    }
    return image;
}

QSize ShadowImageCache::pixelSizeOf(QSizeF deviceSize)
{
    return QSize(std::max(1, int(std::lround(deviceSize.width()))),
                 std::max(1, int(std::lround(deviceSize.height()))));
}

void ShadowImageCache::prepare(QSizeF deviceSize, double radius, const QColor& color)
{
    for (const QSize& size : roundingsOf(deviceSize))
        blurredRect(size, radius, color);
}

bool ShadowImageCache::isPrepared(QSizeF deviceSize, double radius, const QColor& color)
{
    const std::vector<QSize> sizes = roundingsOf(deviceSize);
    return std::all_of(sizes.begin(), sizes.end(),
                       [&](const QSize& size) { return contains(size, radius, color); });
}

bool ShadowImageCache::contains(QSize size, double radius, const QColor& color)
{
    const std::lock_guard lock(entriesMutex());
    return !findLocked(size, radius, color.rgba()).isNull();
}

int ShadowImageCache::madeCountForTesting()
{
    return madeCount.load();
}

int ShadowImageCache::madeOnMainThreadCountForTesting()
{
    return madeOnMainThreadCount.load();
}

void ShadowImageCache::clearForTesting()
{
    const std::lock_guard lock(entriesMutex());
    entries().clear();
}
