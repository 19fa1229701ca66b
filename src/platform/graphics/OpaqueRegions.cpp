#include "OpaqueRegions.h"

#include <array>
#include <utility>
#include <vector>

namespace {

// The longest run of true values, as (start, length).
std::pair<int, int> longestRun(const std::vector<bool>& values)
{
    std::pair<int, int> best{0, 0};
    int start = 0;
    for (int i = 0; i <= int(values.size()); ++i) {
        if (i < int(values.size()) && values[size_t(i)])
            continue;
        if (i - start > best.second)
            best = {start, i - start};
        start = i + 1;
    }
    return best;
}

QRect measure(const QImage& source)
{
    const QImage image = source.format() == QImage::Format_ARGB32_Premultiplied
                             ? source
                             : source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = image.width();
    const int height = image.height();
    std::vector<bool> opaqueColumns(size_t(width), true);
    std::vector<bool> opaqueRows(size_t(height), true);
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (qAlpha(line[x]) != 255) {
                opaqueColumns[size_t(x)] = false;
                opaqueRows[size_t(y)] = false;
            }
        }
    }
    const auto [column, columns] = longestRun(opaqueColumns);
    const auto [row, rows] = longestRun(opaqueRows);
    if (qint64(columns) * height >= qint64(rows) * width)
        return columns > 0 ? QRect(column, 0, columns, height) : QRect();
    return QRect(0, row, width, rows);
}

} // namespace

QRect OpaqueRegions::of(const QImage& image)
{
    // A mask is redrawn rarely and drawn every frame; a handful of entries covers the masks on
    // screen.
    struct Entry {
        qint64 key = 0;
        QRect opaque;
    };
    static std::array<Entry, 8> entries;
    static size_t next = 0;
    if (image.isNull())
        return {};
    for (const Entry& entry : entries) {
        if (entry.key == image.cacheKey())
            return entry.opaque;
    }
    entries[next] = {image.cacheKey(), measure(image)};
    const QRect opaque = entries[next].opaque;
    next = (next + 1) % entries.size();
    return opaque;
}
