#include "LayerPainter.h"

#include "FontSubstitutes.h"
#include "Layer.h"
#include "OpaqueRegions.h"
#include "ShadowBlur.h"
#include "ShadowImageCache.h"
#include "TextLayer.h"

#include <QFontMetricsF>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <optional>
#include <tuple>
#include <utility>

namespace {

QRectF toQRect(const Rect& rect)
{
    const Rect r = rect.standardized();
    return QRectF(r.minX(), r.minY(), r.width(), r.height());
}

// Maps a y-up rectangle of the current coordinate space to a y-down one whose origin is the
// rectangle's upper left, so images and text come out upright.
QTransform flippedInto(const Rect& rect, const QTransform& current)
{
    const Rect r = rect.standardized();
    return QTransform(1, 0, 0, -1, r.minX(), r.maxY()) * current;
}

// While it lives, images drawn one image pixel to one device pixel take the painter's plain
// copying path: with smooth transformation on, even an unscaled image is drawn by the general
// resampling path, several times slower and slower still per row (a shadow's side band).
class PixelCopies {
public:
    explicit PixelCopies(QPainter& painter)
        : m_painter(painter)
        , m_smooth(painter.testRenderHint(QPainter::SmoothPixmapTransform))
    {
        if (m_smooth)
            m_painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
    ~PixelCopies()
    {
        if (m_smooth)
            m_painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    }
    PixelCopies(const PixelCopies&) = delete;
    PixelCopies& operator=(const PixelCopies&) = delete;

private:
    QPainter& m_painter;
    bool m_smooth;
};

Rect gravityRect(ContentsGravity gravity, const Rect& bounds, QSizeF imageSize)
{
    const Rect b = bounds.standardized();
    const double w = imageSize.width();
    const double h = imageSize.height();
    if (w <= 0 || h <= 0)
        return b;
    switch (gravity) {
    case ContentsGravity::Resize:
        return b;
    case ContentsGravity::ResizeAspect:
    case ContentsGravity::ResizeAspectFill: {
        const double fit = std::min(b.width() / w, b.height() / h);
        const double fill = std::max(b.width() / w, b.height() / h);
        const double scale = gravity == ContentsGravity::ResizeAspect ? fit : fill;
        return Rect(b.midX() - w * scale / 2, b.midY() - h * scale / 2, w * scale, h * scale);
    }
    case ContentsGravity::Center:
        return Rect(b.midX() - w / 2, b.midY() - h / 2, w, h);
    case ContentsGravity::Top:
        return Rect(b.midX() - w / 2, b.maxY() - h, w, h);
    case ContentsGravity::Bottom:
        return Rect(b.midX() - w / 2, b.minY(), w, h);
    case ContentsGravity::Left:
        return Rect(b.minX(), b.midY() - h / 2, w, h);
    case ContentsGravity::Right:
        return Rect(b.maxX() - w, b.midY() - h / 2, w, h);
    case ContentsGravity::TopLeft:
        return Rect(b.minX(), b.maxY() - h, w, h);
    case ContentsGravity::TopRight:
        return Rect(b.maxX() - w, b.maxY() - h, w, h);
    case ContentsGravity::BottomLeft:
        return Rect(b.minX(), b.minY(), w, h);
    case ContentsGravity::BottomRight:
        return Rect(b.maxX() - w, b.minY(), w, h);
    }
    return b;
}

// The device in pixels. A widget measures itself in device-independent pixels, an image in its
// own pixels.
QRect devicePixelRect(const QPaintDevice& device)
{
    if (device.devType() != QInternal::Widget)
        return QRect(0, 0, device.width(), device.height());
    const double ratio = device.devicePixelRatio();
    return QRect(0, 0, int(std::ceil(device.width() * ratio)), int(std::ceil(device.height() * ratio)));
}

bool isWhole(double value)
{
    return std::abs(value - std::round(value)) < 1e-6;
}

// Whether `toDevice` maps rectangles to rectangles (no rotation or shear).
bool isUpright(const QTransform& toDevice)
{
    return toDevice.type() <= QTransform::TxScale;
}

// The device pixels wholly inside `rect` (coordinates mapped by `toDevice`, which is upright), less
// `inset` pixels on every side.
QRect innerPixels(const Rect& rect, const QTransform& toDevice, int inset)
{
    const Rect r = rect.standardized();
    const QRectF device = toDevice.mapRect(QRectF(r.minX(), r.minY(), r.width(), r.height()));
    const QPoint topLeft(int(std::ceil(device.left() - 1e-6)) + inset,
                         int(std::ceil(device.top() - 1e-6)) + inset);
    const QPoint bottomRight(int(std::floor(device.right() + 1e-6)) - 1 - inset,
                             int(std::floor(device.bottom() + 1e-6)) - 1 - inset);
    return QRect(topLeft, bottomRight);
}

// Fills smaller than this many device pixels are not worth finding what covers them.
constexpr qint64 coverageWorthFinding = 256 * 256;

// Where `image`, drawn into `rect` (y up) through `toDevice`, has its top left pixel on the device,
// when it lands on the device's pixels one to one (a delegate's drawing made at the screen's
// density); nothing when it is scaled, turned or off the pixel grid.
std::optional<QPoint> pixelOrigin(const QImage& image, const Rect& rect, const QTransform& toDevice)
{
    const Rect r = rect.standardized();
    const QTransform imageToDevice =
        QTransform::fromScale(r.width() / image.width(), r.height() / image.height()) *
        flippedInto(rect, toDevice);
    if (imageToDevice.type() > QTransform::TxTranslate || !isWhole(imageToDevice.dx()) ||
        !isWhole(imageToDevice.dy()))
        return std::nullopt;
    return QPoint(int(std::lround(imageToDevice.dx())), int(std::lround(imageToDevice.dy())));
}

// Fills `rect` (whole pixels of the painter's coordinates) with `color`. A small fill many rows
// high (a shadow's side band, the edge of a photo's underlay) is written a few dozen rows at a
// time: the painter hands the rows of a taller fill to its worker threads, and starting them
// costs more than such a fill. The pixels are the same either way.
void fillPixels(QPainter& painter, const QRect& rect, const QColor& color)
{
    constexpr int rowsAtOnce = 64;
    constexpr qint64 smallFill = 64 * 1024;
    if (rect.height() <= rowsAtOnce || qint64(rect.width()) * rect.height() > smallFill) {
        painter.fillRect(rect, color);
        return;
    }
    for (int y = rect.top(); y <= rect.bottom(); y += rowsAtOnce)
        painter.fillRect(QRect(rect.left(), y, rect.width(), std::min(rowsAtOnce, rect.bottom() + 1 - y)),
                         color);
}

// Each channel of the premultiplied `pixel` times a mask's `alpha` / 255, rounded to the nearest.
QRgb timesMaskAlpha(QRgb pixel, uint alpha)
{
    const auto times = [alpha](uint channel) { return int((channel * alpha + 127) / 255); };
    return qRgba(times(qRed(pixel)), times(qGreen(pixel)), times(qBlue(pixel)), times(qAlpha(pixel)));
}

// Multiplies `content` (premultiplied ARGB) by the alpha of `mask` placed with its top left at
// `origin` in the content's pixels; outside the mask nothing is left.
void multiplyByMaskAlpha(QImage& content, const QImage& mask, QPoint origin)
{
    const QRect covered = QRect(origin, mask.size()).intersected(content.rect());
    const int width = content.width();
    const int height = content.height();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(content.scanLine(y));
        const bool inRows = y >= covered.top() && y <= covered.bottom();
        const auto* maskLine =
            inRows ? reinterpret_cast<const QRgb*>(mask.constScanLine(y - origin.y())) - origin.x() : nullptr;
        for (int x = 0; x < width; ++x) {
            const bool inside = inRows && x >= covered.left() && x <= covered.right();
            const uint alpha = inside ? qAlpha(maskLine[x]) : 0;
            if (alpha == 255)
                continue;
            line[x] = timesMaskAlpha(line[x], alpha);
        }
    }
}

// A thin band of a large image touches one row per page: each row is a cache miss, and the
// processor's own prefetching does not cross pages. Asking for the rows a few dozen ahead lets
// the misses overlap.
constexpr int rowsAhead = 64;

// Calls `row(y, pixels)` for each row y of `band` of `image` (32 bits a pixel), top to bottom,
// with the row's first pixel there, asking for the rows ahead. Written through the painter's own
// pointer when the image is its target: a detach would leave the painter's pixels behind.
template <typename Row> void forEachRowAhead(const QImage& image, QRect band, Row row)
{
    auto* bits = const_cast<uchar*>(image.constBits());
    const qsizetype stride = image.bytesPerLine();
    const auto rowOf = [&](int y) {
        return reinterpret_cast<QRgb*>(bits + (band.top() + y) * stride) + band.left();
    };
    for (int y = 0; y < band.height(); ++y) {
        if (y + rowsAhead < band.height()) {
            __builtin_prefetch(rowOf(y + rowsAhead));
            __builtin_prefetch(rowOf(y + rowsAhead) + band.width() - 1);
        }
        row(y, rowOf(y));
    }
}

// The pixels of `band` of `image` (32 bits each), as an image of the band's size.
QImage copyBand(const QImage& image, QRect band)
{
    QImage copy(band.size(), image.format());
    forEachRowAhead(image, band, [&](int y, const QRgb* line) {
        std::memcpy(copy.scanLine(y), line, std::size_t(band.width()) * sizeof(QRgb));
    });
    return copy;
}

// One channel byte of each of the four in `pixel` times `alpha` / 255, rounded as the raster
// engine's blend rounds it.
uint byteMul(uint pixel, uint alpha)
{
    quint64 t = ((quint64(pixel) | (quint64(pixel) << 24)) & 0x00ff00ff00ff00ffULL) * alpha;
    t = (t + ((t >> 8) & 0x00ff00ff00ff00ffULL) + 0x0080008000800080ULL) >> 8;
    t &= 0x00ff00ff00ff00ffULL;
    return uint(t) | uint(t >> 24);
}

// Fades `width` pixels of a row of the target (premultiplied ARGB or RGB; opaque there) by the
// alpha of `alphas` (the same pixels of a mask) over what was there before the layer was drawn:
// `below`, or, without it, the opaque `belowColor` everywhere. The pixels are those of multiplying
// the layer by the mask and blending the result over what was below.
void fadeRow(QRgb* line, const QRgb* alphas, const QRgb* below, QRgb belowColor, int width)
{
    for (int x = 0; x < width; ++x) {
        const uint alpha = qAlpha(alphas[x]);
        if (alpha == 255)
            continue;
        const QRgb masked = timesMaskAlpha(line[x], alpha);
        line[x] = masked + byteMul(below ? below[x] : belowColor, 255 - qAlpha(masked));
    }
}

// What blending `width` pixels of `source` (premultiplied ARGB) as the raster engine does leaves
// over pixels that are all `below` (opaque), written without reading them.
void blendRowOverColor(QRgb* line, const QRgb* source, QRgb below, int width)
{
    for (int x = 0; x < width; ++x) {
        const QRgb pixel = source[x];
        line[x] = pixel >= 0xff000000u ? pixel : pixel == 0 ? below : pixel + byteMul(below, qAlpha(~pixel));
    }
}

// Writes `color` over `width` pixels: the C library's wide-character fill is a vectorised fill of
// 32-bit words, which a plain loop is not without flags this build does not use.
void fillRow(QRgb* line, QRgb color, int width)
{
    static_assert(sizeof(wchar_t) == sizeof(QRgb));
    std::wmemset(reinterpret_cast<wchar_t*>(line), static_cast<wchar_t>(color), std::size_t(width));
}

// Pixels the painter has worked out but not written yet: opaque fills, opaque images copied one
// to one (the photos), and pieces of images over an opaque colour (a shadow's band over a strip's
// grey). They are written row by row, top to bottom, all of a row at once: thin columns of them
// (the shadows and gaps between two photos) then land on rows being written anyway instead of
// costing a visit to each row of their own, and a feathered band is faded in the same pass.
struct HeldPiece {
    QRect area;
    // Opaque (a piece already blended over the colour it was held over), copied as it is.
    QImage piece;
    QPoint at;
};

struct BandFade {
    QRect rect;
    QImage maskPiece;
    // Empty when everything below was `belowColor`.
    QImage below;
    QRgb belowColor;
};

// Writes `fills`, then `pieces`, then fades `fades`, visiting each row of `target` once.
void writeRows(QImage& target, const std::vector<std::pair<QRect, QRgb>>& fills,
               const std::vector<HeldPiece>& pieces, const std::vector<BandFade>& fades)
{
    struct Item {
        QRect rect;
        QRgb color;
        const HeldPiece* piece;
        const BandFade* fade;
    };
    std::vector<Item> items;
    items.reserve(fills.size() + pieces.size() + fades.size());
    for (const auto& [rect, color] : fills)
        items.push_back({rect, color, nullptr, nullptr});
    for (const HeldPiece& piece : pieces)
        items.push_back({piece.area, 0, &piece, nullptr});
    // Last, so a row's band is faded after the row's own pixels are written.
    for (const BandFade& fade : fades)
        items.push_back({fade.rect, 0, nullptr, &fade});
    std::erase_if(items, [](const Item& item) { return item.rect.isEmpty(); });
    if (items.empty())
        return;
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.rect.top() < b.rect.top(); });
    int bottom = items.front().rect.bottom();
    for (const Item& item : items)
        bottom = std::max(bottom, item.rect.bottom());
    auto* bits = const_cast<uchar*>(target.constBits());
    const qsizetype stride = target.bytesPerLine();
    const auto pixelsAt = [&](int x, int y) { return reinterpret_cast<QRgb*>(bits + y * stride) + x; };
    const auto writeRowOf = [&](const Item& item, int y) {
        const QRect& rect = item.rect;
        if (y + rowsAhead <= rect.bottom())
            __builtin_prefetch(pixelsAt(rect.left(), y + rowsAhead));
        QRgb* line = pixelsAt(rect.left(), y);
        if (item.fade) {
            const BandFade& fade = *item.fade;
            const int row = y - rect.top();
            fadeRow(line, reinterpret_cast<const QRgb*>(fade.maskPiece.constScanLine(row)),
                    fade.below.isNull() ? nullptr
                                        : reinterpret_cast<const QRgb*>(fade.below.constScanLine(row)),
                    fade.belowColor, rect.width());
        } else if (item.piece) {
            const HeldPiece& held = *item.piece;
            const auto* source = reinterpret_cast<const QRgb*>(held.piece.constScanLine(y - held.at.y())) +
                                 (rect.left() - held.at.x());
            std::memcpy(line, source, std::size_t(rect.width()) * sizeof(QRgb));
        } else {
            fillRow(line, item.color, rect.width());
        }
    };
    // The items the row crosses: what is written, then the fades, so a row's band is faded after
    // its own pixels are written.
    std::array<std::vector<const Item*>, 2> active;
    std::size_t next = 0;
    for (int y = items.front().rect.top(); y <= bottom; ++y) {
        while (next < items.size() && items[next].rect.top() <= y) {
            active[items[next].fade ? 1 : 0].push_back(&items[next]);
            ++next;
        }
        for (std::vector<const Item*>& crossed : active)
            std::erase_if(crossed, [y](const Item* item) { return item->rect.bottom() < y; });
        for (const Item* item : active[0])
            writeRowOf(*item, y);
        for (const Item* item : active[1])
            writeRowOf(*item, y);
    }
}

// Blends `piece` (premultiplied ARGB) over the pixels `area` of `target` (premultiplied ARGB or RGB),
// the piece's top left at `at`, as the raster engine blends an image at full opacity: an opaque
// pixel is copied, a clear one leaves the target, any other adds the target faded by what it
// lets through. For a thin piece many rows high (a shadow's side band) the engine's own path costs
// a call and a cache miss per row and hands tall pieces to its worker threads; this asks for the
// rows ahead instead.
void blendPieceOnto(QImage& target, QRect area, const QImage& piece, QPoint at)
{
    forEachRowAhead(target, area, [&](int y, QRgb* line) {
        const auto* source = reinterpret_cast<const QRgb*>(piece.constScanLine(area.top() + y - at.y())) +
                             (area.left() - at.x());
        for (int x = 0; x < area.width(); ++x) {
            const QRgb pixel = source[x];
            if (pixel >= 0xff000000u)
                line[x] = pixel;
            else if (pixel != 0)
                line[x] = pixel + byteMul(line[x], qAlpha(~pixel));
        }
    });
}

// The images made for the last `Size` keys asked for, the oldest made again first: the painter's
// copies of parts of images, kept across frames while what they are made from stays the same.
template <typename Key, std::size_t Size> class RecentImages {
public:
    template <typename Make> const QImage& get(const Key& key, Make make)
    {
        for (const Entry& entry : m_entries) {
            if (entry.key == key && !entry.image.isNull())
                return entry.image;
        }
        Entry& entry = m_entries[m_next];
        m_next = (m_next + 1) % Size;
        entry = {key, make()};
        return entry.image;
    }

private:
    struct Entry {
        Key key{};
        QImage image;
    };
    std::array<Entry, Size> m_entries;
    std::size_t m_next = 0;
};

// The part of `drawing` that lands on `piece` (in the drawing's pixels; transparent where the
// piece runs past the drawing), kept for the last few pieces asked for: a mask's feathered band is
// applied every frame, and reading it from the whole drawing, one cold row at a time, costs more
// than the rest of the band.
const QImage& pieceOf(const QImage& drawing, QRect piece)
{
    static RecentImages<std::pair<qint64, QRect>, 4> pieces;
    return pieces.get({drawing.cacheKey(), piece}, [&] { return drawing.copy(piece); });
}

void drawImage(QPainter& painter, const QImage& image, const Rect& rect, double opacity)
{
    if (image.isNull() || rect.isEmpty() || opacity <= 0)
        return;
    const QTransform saved = painter.transform();
    const double savedOpacity = painter.opacity();
    painter.setOpacity(opacity);
    if (const std::optional<QPoint> origin = pixelOrigin(image, rect, painter.deviceTransform())) {
        // One to one: a copy.
        painter.setTransform(QTransform());
        painter.setTransform(painter.deviceTransform().inverted());
        // Only the part on the device: a composition other than plain blending would otherwise
        // walk the whole image.
        const QRect placed(*origin, image.size());
        const QRect visible = placed.intersected(devicePixelRect(*painter.device()));
        const PixelCopies copies(painter);
        if (!visible.isEmpty())
            painter.drawImage(visible.topLeft(), image, visible.translated(-placed.topLeft()));
    } else {
        painter.setTransform(flippedInto(rect, saved));
        painter.drawImage(QRectF(0, 0, rect.width(), rect.height()), image);
    }
    painter.setTransform(saved);
    painter.setOpacity(savedOpacity);
}

Qt::Alignment horizontalAlignment(TextLayer::AlignmentMode mode)
{
    switch (mode) {
    case TextLayer::AlignmentMode::Right:
        return Qt::AlignRight;
    case TextLayer::AlignmentMode::Center:
        return Qt::AlignHCenter;
    case TextLayer::AlignmentMode::Justified:
        return Qt::AlignJustify;
    case TextLayer::AlignmentMode::Natural:
    case TextLayer::AlignmentMode::Left:
        break;
    }
    return Qt::AlignLeft;
}

QString truncated(const TextLayer& layer, const QFontMetricsF& metrics, double width)
{
    Qt::TextElideMode mode = Qt::ElideNone;
    switch (layer.truncationMode()) {
    case TextLayer::TruncationMode::None:
        return layer.string();
    case TextLayer::TruncationMode::Start:
        mode = Qt::ElideLeft;
        break;
    case TextLayer::TruncationMode::Middle:
        mode = Qt::ElideMiddle;
        break;
    case TextLayer::TruncationMode::End:
        mode = Qt::ElideRight;
        break;
    }
    QStringList lines = layer.string().split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = metrics.elidedText(line, mode, width);
    return lines.join(QLatin1Char('\n'));
}

// Text sits at the top of the bounds; it is not clipped, so a long untruncated line runs on.
void drawText(QPainter& painter, const TextLayer& layer, const Rect& bounds, double opacity)
{
    if (layer.string().isEmpty() || opacity <= 0)
        return;
    FontSubstitutes::install();
    QFont font = layer.font().isEmpty() ? QFont() : QFont(layer.font());
    font.setPixelSize(std::max(1, int(std::lround(layer.fontSize()))));
    const Rect b = bounds.standardized();
    const QTransform saved = painter.transform();
    const double savedOpacity = painter.opacity();
    painter.setTransform(flippedInto(b, saved));
    painter.setOpacity(opacity);
    painter.setFont(font);
    painter.setPen(layer.foregroundColor().toQColor());
    int flags = int(horizontalAlignment(layer.alignmentMode())) | Qt::AlignTop | Qt::TextDontClip;
    QString text = layer.string();
    if (layer.isWrapped())
        flags |= Qt::TextWordWrap;
    else
        text = truncated(layer, QFontMetricsF(font), b.width());
    painter.drawText(QRectF(0, 0, b.width(), b.height()), flags, text);
    painter.setTransform(saved);
    painter.setOpacity(savedOpacity);
}

// Fills the ring between `outer` and `inner` (the painter's coordinates) as antialiased paths a
// few device rows high, cut between whole rows so that every pixel's coverage is reckoned
// as for the whole ring: the painter hands each row of a taller path to its worker threads and
// waits for them, which costs more than the ring.
void fillRingInBands(QPainter& painter, const QRectF& outer, const QRectF& inner, const QColor& color)
{
    // The painter's threshold counts runs of pixels, and a row of the ring holds up to six.
    constexpr int rowsAtOnce = 15;
    const QTransform toDevice = painter.deviceTransform();
    const QRectF device = toDevice.mapRect(outer);
    const int top = int(std::floor(device.top()));
    const int bottom = int(std::ceil(device.bottom()));
    if (!isUpright(toDevice) || bottom - top <= rowsAtOnce) {
        QPainterPath ring;
        ring.addRect(outer);
        ring.addRect(inner);
        ring.setFillRule(Qt::OddEvenFill);
        painter.fillPath(ring, color);
        return;
    }
    const QTransform fromDevice = toDevice.inverted();
    for (int y = top; y < bottom; y += rowsAtOnce) {
        const QRectF rows =
            fromDevice.mapRect(QRectF(device.left(), y, device.width(), std::min(rowsAtOnce, bottom - y)));
        QPainterPath ring;
        ring.addRect(outer.intersected(rows));
        const QRectF innerRows = inner.intersected(rows);
        if (!innerRows.isEmpty())
            ring.addRect(innerRows);
        ring.setFillRule(Qt::OddEvenFill);
        painter.fillPath(ring, color);
    }
}

void drawBorder(QPainter& painter, const LayerState& state, double opacity)
{
    const Rect b = state.bounds.standardized();
    const double w = std::min({state.borderWidth, b.width() / 2, b.height() / 2});
    if (w <= 0 || opacity <= 0)
        return;
    const double savedOpacity = painter.opacity();
    painter.setOpacity(opacity);
    fillRingInBands(painter, toQRect(b), toQRect(b.insetBy(w, w)), state.borderColor.toQColor());
    painter.setOpacity(savedOpacity);
}

// Silhouettes blurred since the process started.
int s_blurredSilhouettes = 0;
// Device pixels filled by backgrounds and the clear colour since the process started.
qint64 s_backgroundPixels = 0;
// Device pixels where a flat fill was stacked on one not written yet, since the process started.
qint64 s_stackedPixels = 0;
// Pieces of images copied to be kept (and faded) since the process started.
int s_keptPieces = 0;
// Pixels of pieces held back to be written with the rest of a frame, since the process started.
qint64 s_heldPiecePixels = 0;
// Pieces larger than this many pixels are drawn from their image as they are.
constexpr qint64 keptPieceLimit = 256 * 256;

qint64 areaOf(const QRegion& region)
{
    qint64 area = 0;
    for (const QRect& rect : region)
        area += qint64(rect.width()) * rect.height();
    return area;
}

// A comparison of two ways of drawing the same pixels, whose answer depends only on what it
// compares and on the painter's target format and settings.
struct PixelCheck {
    enum Kind { FadedImage, SolidFill } kind;
    QRgb pixel = 0;
    double opacity = 1;
    QImage::Format format = QImage::Format_Invalid;
    QPainter::RenderHints hints = {};
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    bool operator==(const PixelCheck&) const = default;
};

class TreePainter {
public:
    explicit TreePainter(QPainter& painter)
        : m_painter(painter)
        , m_clipKnown(!painter.hasClipping())
    {}
    ~TreePainter() { flushAllFills(); }
    TreePainter(const TreePainter&) = delete;
    TreePainter& operator=(const TreePainter&) = delete;

    void paintRoot(Layer& root, const std::optional<QColor>& clearColor)
    {
        const LayerState presented = root.presentation();
        if (clearColor) {
            // Only what no opaque layer draws over: on a full-screen screen that is little or
            // nothing, and the view's fill would otherwise cost as much as the whole strip.

            const QRegion cleared = QRegion(devicePixelBounds()) -
                                    opaqueRegion(root, presented, m_painter.deviceTransform(), 1.0);
            fillDeviceRegion(cleared, *clearColor);
        }
        paintLayer(root, nullptr, &presented, 1.0);
        flushAllFills();
    }

private:
    // The sublayers of one layer still to be painted after the one being painted now: whatever
    // they draw opaquely covers what is drawn now.
    struct Later {
        const Layer* parent;
        std::size_t next;
        // The parent's coordinates to the device's pixels.
        QTransform toDevice;
        // The product of the parent's and its ancestors' opacities.
        double opacity;
        // Where the ancestors let their sublayers show, in device pixels.
        std::optional<QRect> clip;
    };

    // The layer's state on screen now: its model values at rest (without a copy), else its
    // presentation, made in `storage`.
    static const LayerState& shownState(const Layer& layer, LayerState& storage)
    {
        if (!layer.hasOwnAnimations())
            return layer.modelState();
        storage = layer.presentation();
        return storage;
    }

    // The device pixels that `layer` (in coordinates mapped by `toDevice`) and its sublayers draw
    // fully opaque over whatever lies below, as far as that is known cheaply: opaque backgrounds,
    // images without alpha, through the opaque middle of a delegate-drawn mask. A layer drawn
    // with any transparency covers nothing.
    QRegion opaqueRegion(const Layer& layer, const LayerState& state, const QTransform& toDevice,
                         double parentOpacity)
    {
        const double opacity = parentOpacity * state.opacity;
        if (layer.isHidden() || opacity < 1 || !isUpright(toDevice))
            return {};
        QRegion covered;
        if (state.backgroundColor && state.backgroundColor->toQColor().alpha() == 255)
            covered += innerPixels(state.bounds, toDevice, 0);
        covered += opaqueContents(layer, state, toDevice);
        for (const LayerPtr& sublayer : layer.sublayers()) {
            LayerState presented;
            const LayerState& subState = shownState(*sublayer, presented);
            covered += opaqueRegion(*sublayer, subState, subState.toSuperlayer() * toDevice, opacity);
        }
        if (layer.masksToBounds())
            covered &= innerPixels(state.bounds, toDevice, 0);
        if (layer.mask() && !covered.isEmpty()) {
            Layer& mask = *layer.mask();
            const LayerState maskState = mask.presentation();
            covered &= opaqueInterior(mask, maskState, toDevice);
        }
        return covered;
    }

    // The device pixels the layer's own image covers opaquely: an image without alpha fully faded
    // in, or one fading in over an opaque image of its own. Two pixels in from the image's edges,
    // so the rounding of its placement never matters.
    static QRect opaqueContents(const Layer& layer, const LayerState& state, const QTransform& toDevice)
    {
        const QImage& contents = layer.contents();
        const QImage& previous = layer.previousContents();
        const QImage* shown = nullptr;
        if (!contents.isNull() && !contents.hasAlphaChannel() && state.contentsTransition >= 1)
            shown = &contents;
        else if (state.contentsTransition < 1 && !previous.isNull() && !previous.hasAlphaChannel())
            shown = &previous;
        if (!shown)
            return {};
        return innerPixels(gravityRect(layer.contentsGravity(), state.bounds, QSizeF(shown->size())),
                           toDevice, 2);
    }

    // What is drawn opaquely over `layer`'s background after it: its own image, its sublayers and
    // everything painted later, in device pixels.
    QRegion coveredAfterBackground(const Layer& layer, const LayerState& state)
    {
        const QTransform toDevice = m_painter.deviceTransform();
        QRegion covered = opaqueContents(layer, state, toDevice);
        QRegion sublayers;
        for (const LayerPtr& sublayer : layer.sublayers()) {
            LayerState presented;
            const LayerState& subState = shownState(*sublayer, presented);
            sublayers += opaqueRegion(*sublayer, subState, subState.toSuperlayer() * toDevice, 1.0);
        }
        if (layer.masksToBounds())
            sublayers &= innerPixels(state.bounds, toDevice, 0);
        covered += sublayers;
        for (const Later& later : m_later) {
            QRegion siblings;
            const auto& all = later.parent->sublayers();
            for (std::size_t i = later.next; i < all.size(); ++i) {
                const Layer& sibling = *all[i];
                LayerState presented;
                const LayerState& siblingState = shownState(sibling, presented);
                siblings += opaqueRegion(sibling, siblingState, siblingState.toSuperlayer() * later.toDevice,
                                         later.opacity);
            }
            if (later.clip)
                siblings &= *later.clip;
            covered += siblings;
        }
        return covered;
    }

    // Fills `region` (device pixels, whole) with `color` at the painter's opacity.
    void fillDeviceRegion(const QRegion& region, const QColor& color)
    {
        if (region.isEmpty())
            return;
        s_backgroundPixels += areaOf(region);
        for (const QRect& rect : region)
            fillFlat(rect, color);
    }

    // The device pixels the layer's own drawing may touch, but for its background, its shadow and
    // its contents image, each of which writes what is held where it draws; empty when it draws
    // nothing else of its own (a photo, or a strip's layer, which only holds the photos).
    QRect reachOf(const Layer& layer, const LayerState& state) const
    {
        Rect reach;
        bool any = false;
        const auto add = [&](const Rect& rect) {
            reach = any ? reach.unionWith(rect) : rect;
            any = true;
        };
        if (!layer.backingImage().isNull() || dynamic_cast<const TextLayer*>(&layer) ||
            (state.borderWidth > 0 && state.borderColor.alpha() > 0))
            add(state.bounds);
        return any ? deviceRectOf(reach, 2) : QRect();
    }

    // Takes the clip to the layer's `bounds` into account: known while it lands on whole device
    // pixels.
    void intersectKnownClip(const Rect& bounds)
    {
        const QTransform toDevice = m_painter.deviceTransform();
        const QRectF device = toDevice.mapRect(toQRect(bounds.standardized()));
        if (!m_clipKnown || !isUpright(toDevice) || !isWhole(device.left()) || !isWhole(device.top()) ||
            !isWhole(device.right()) || !isWhole(device.bottom())) {
            m_clipKnown = false;
            return;
        }
        const QRect pixels = device.toRect();
        m_clip = m_clip ? m_clip->intersected(pixels) : pixels;
    }

    // Fills `rect` (whole device pixels) with `color` at the painter's opacity. Flat colours
    // stacked over an opaque one (a strip's grey, the even middle of a shadow, a placeholder's
    // white fading out under a photo fading in) leave one colour, worked out on a few pixels and
    // written once, when something else is drawn there; the pixels are the same as with each
    // fill in turn.
    void fillFlat(QRect rect, const QColor& color)
    {
        const QImage::Format format = targetFormat();
        const bool deferrable = writesPixelsByHand();
        QRegion rest(rect);
        if (deferrable) {
            if (m_clip)
                rest &= *m_clip;
            const double opacity = m_painter.opacity();
            std::vector<std::pair<QRegion, QRgb>> added;
            for (auto& [region, below] : m_fills) {
                const QRegion over = region & rest;
                if (over.isEmpty())
                    continue;
                const std::optional<QRgb> stacked =
                    flatBlend(below, color, opacity, format, m_painter.renderHints());
                if (!stacked)
                    continue;
                s_stackedPixels += areaOf(over);
                region -= over;
                rest -= over;
                added.emplace_back(over, *stacked);
            }
            if (color.alpha() == 255 && opacity >= 1 && !rest.isEmpty()) {
                if (const std::optional<QRgb> stored =
                        flatBlend(qRgb(0, 0, 0), color, 1.0, format, m_painter.renderHints())) {
                    // A held piece under it is written first: held pixels never overlap.
                    flushPieces(rest.boundingRect());
                    added.emplace_back(rest, *stored);
                    rest = QRegion();
                }
            }
            std::erase_if(m_fills, [](const auto& fill) { return fill.first.isEmpty(); });
            for (auto& fill : added)
                m_fills.push_back(std::move(fill));
        }
        if (rest.isEmpty())
            return;
        // Rectangle by rectangle: a placeholder's edges around a fill held in its middle leave
        // the middle held.
        for (const QRect& part : rest)
            flushFills(part);
        const QTransform saved = m_painter.transform();
        setPixelTransform();
        for (const QRect& part : rest)
            fillPixels(m_painter, part, color);
        m_painter.setTransform(saved);
    }

    // The opaque pixel that a fill with `color` at `opacity` leaves over the opaque pixel `below`
    // in a target of `format`, when every pixel of a row comes out the same; nothing otherwise.
    static std::optional<QRgb> flatBlend(QRgb below, const QColor& color, double opacity,
                                         QImage::Format format, QPainter::RenderHints hints)
    {
        struct Blend {
            QRgb below;
            QRgb color;
            double opacity;
            QImage::Format format;
            QPainter::RenderHints hints;
            std::optional<QRgb> result;
        };
        static std::array<Blend, 16> blends;
        static std::size_t next = 0;
        const QRgb rgba = color.rgba();
        for (const Blend& blend : blends) {
            if (blend.below == below && blend.color == rgba && blend.opacity == opacity &&
                blend.format == format && blend.hints == hints && blend.format != QImage::Format_Invalid)
                return blend.result;
        }
        // Wide enough for the blend's vector paths as well as its single pixels.
        QImage sample(67, 2, format);
        sample.fill(below);
        {
            QPainter painter(&sample);
            painter.setRenderHints(hints);
            painter.setOpacity(opacity);
            painter.fillRect(sample.rect(), color);
        }
        std::optional<QRgb> result = sample.pixel(0, 0);
        for (int y = 0; y < sample.height() && result; ++y) {
            for (int x = 0; x < sample.width(); ++x) {
                if (sample.pixel(x, y) != *result || qAlpha(*result) != 255) {
                    result.reset();
                    break;
                }
            }
        }
        blends[next] = {below, rgba, opacity, format, hints, result};
        next = (next + 1) % blends.size();
        return result;
    }

    // Writes the fills not written yet within `area` (device pixels), and the held pieces that
    // reach into it.
    void flushFills(QRect area)
    {
        if ((m_fills.empty() && m_pieces.empty()) || area.isEmpty())
            return;
        std::vector<std::pair<QRect, QRgb>> fills;
        for (auto& [region, color] : m_fills) {
            const QRegion part = region & area;
            for (const QRect& rect : part)
                fills.emplace_back(rect, color);
            if (!part.isEmpty())
                region -= part;
        }
        std::erase_if(m_fills, [](const auto& fill) { return fill.first.isEmpty(); });
        writeHeld(fills, takePieces(area), {});
    }

    // Writes everything not written yet, and then fades `fades` in the same pass.
    void flushAllFills(const std::vector<BandFade>& fades = {})
    {
        std::vector<std::pair<QRect, QRgb>> fills;
        for (const auto& [region, color] : m_fills) {
            for (const QRect& rect : region)
                fills.emplace_back(rect, color);
        }
        m_fills.clear();
        writeHeld(fills, std::exchange(m_pieces, {}), fades);
    }

    void writeHeld(const std::vector<std::pair<QRect, QRgb>>& fills, const std::vector<HeldPiece>& pieces,
                   const std::vector<BandFade>& fades)
    {
        // Held only where our own code may write the target's pixels.
        if (QImage* target = targetImage())
            writeRows(*target, fills, pieces, fades);
    }

    void flushPieces(QRect area) { writeHeld({}, takePieces(area), {}); }

    // Leaves out of what is held the pixels of `covered` (device pixels), which are about to be
    // drawn over opaquely.
    void dropHeldUnder(QRect covered)
    {
        if (covered.isEmpty())
            return;
        for (auto& fill : m_fills)
            fill.first -= covered;
        std::erase_if(m_fills, [](const auto& fill) { return fill.first.isEmpty(); });
        std::vector<HeldPiece> pieces;
        for (HeldPiece& piece : m_pieces) {
            for (const QRect& left : QRegion(piece.area) - covered)
                pieces.push_back({left, piece.piece, piece.at});
        }
        m_pieces = std::move(pieces);
    }

    // The held pieces that reach into `area`, no longer held.
    std::vector<HeldPiece> takePieces(QRect area)
    {
        std::vector<HeldPiece> taken;
        const auto reaches = [area](const HeldPiece& piece) { return piece.area.intersects(area); };
        std::copy_if(m_pieces.begin(), m_pieces.end(), std::back_inserter(taken), reaches);
        std::erase_if(m_pieces, reaches);
        return taken;
    }

    // The colour of the fills not written yet that cover all of `area` (device pixels), when they
    // are of one colour; those pixels are then left to the caller, who writes every one of them.
    // Nothing, and nothing taken, otherwise.
    std::optional<QRgb> takeHeldFill(QRect area)
    {
        std::optional<QRgb> color;
        QRegion uncovered(area);
        for (const auto& [region, held] : m_fills) {
            const QRegion over = region & area;
            if (over.isEmpty())
                continue;
            if (color && *color != held)
                return std::nullopt;
            color = held;
            uncovered -= over;
        }
        if (!color || !uncovered.isEmpty())
            return std::nullopt;
        for (auto& fill : m_fills)
            fill.first -= area;
        std::erase_if(m_fills, [](const auto& fill) { return fill.first.isEmpty(); });
        return color;
    }

    // Fills the layer's background, leaving out what is drawn opaquely over it later when that is
    // worth finding: a full-screen strip's grey under its photos.
    void fillBackground(const Layer& layer, const LayerState& state, const QColor& color)
    {
        const QTransform toDevice = m_painter.deviceTransform();
        const Rect b = state.bounds.standardized();
        const QRectF device = toDevice.mapRect(toQRect(b));
        const bool onPixels = isUpright(toDevice) && isWhole(device.left()) && isWhole(device.top()) &&
                              isWhole(device.right()) && isWhole(device.bottom());
        if (!isUpright(toDevice)) {
            const QRect pixels = device.toAlignedRect().intersected(devicePixelBounds());
            s_backgroundPixels += qint64(pixels.width()) * pixels.height();
            flushFills(pixels.adjusted(-1, -1, 1, 1));
            m_painter.fillRect(toQRect(b), color);
            return;
        }
        // Off the pixel grid (a photo's placeholder between two pixels) only the pixels the edges
        // cross are partly covered; the whole pixels inside take the fill as a flat colour, which
        // the antialiased fill gives them too.
        const QRect inner =
            (onPixels ? device.toRect() : innerPixels(b, toDevice, 0)).intersected(devicePixelBounds());
        if (!onPixels)
            fillEdgePixels(b, QRegion(device.toAlignedRect().intersected(devicePixelBounds())) - inner,
                           color);
        if (inner.isEmpty())
            return;
        if (qint64(inner.width()) * inner.height() < coverageWorthFinding) {
            s_backgroundPixels += qint64(inner.width()) * inner.height();
            fillFlat(inner, color);
            return;
        }
        fillDeviceRegion(QRegion(inner) - coveredAfterBackground(layer, state), color);
    }

    // Fills the rectangle `bounds` (current coordinates) as an antialiased fill does, within the
    // device pixels `edge` alone.
    void fillEdgePixels(const Rect& bounds, const QRegion& edge, const QColor& color)
    {
        if (edge.isEmpty())
            return;
        s_backgroundPixels += areaOf(edge);
        for (const QRect& rect : edge)
            flushFills(rect);
        // Each piece of an edge gets only the part of the fill within a pixel of it, a few rows
        // at a time. Qt hands a fill of more than a few dozen runs of pixels to its shared thread
        // pool and waits, and the pool may be busy with other work: a fill of the whole layer,
        // however little of it the clip lets through, would make the frame wait behind it. Each
        // part keeps the layer's own edges wherever they cross its pixels, so every pixel is
        // covered as before. A row of a piece holds at most three runs (two partly covered ends
        // and the middle).
        constexpr int rowsAtOnce = 30;
        const QRectF whole = toQRect(bounds);
        const QTransform fromDevice = m_painter.deviceTransform().inverted();
        const QTransform saved = m_painter.transform();
        for (const QRect& rect : edge) {
            for (int y = rect.top(); y <= rect.bottom(); y += rowsAtOnce) {
                const QRect piece(rect.left(), y, rect.width(), std::min(rowsAtOnce, rect.bottom() + 1 - y));
                const QRectF part =
                    whole.intersected(fromDevice.mapRect(QRectF(piece.adjusted(-1, -1, 1, 1))));
                m_painter.save();
                setPixelTransform();
                m_painter.setClipRect(piece, Qt::IntersectClip);
                m_painter.setTransform(saved);
                m_painter.fillRect(part, color);
                m_painter.restore();
            }
        }
    }

    static void markSubtreePresented(Layer& layer)
    {
        layer.markPresented();
        for (const LayerPtr& sublayer : layer.sublayers())
            markSubtreePresented(*sublayer);
    }

    // `state` is the layer's presentation; null to compute it here. `parentOpacity` is the
    // product of the ancestors' opacities.
    void paintLayer(Layer& layer, const QTransform* toParent, const LayerState* state, double parentOpacity)
    {
        layer.markPresented();
        layer.pruneFinishedAnimations();
        if (layer.isHidden())
            return;
        LayerState computed;
        if (!state) {
            // Layers at rest are drawn from their model values without a copy.
            const bool animating = layer.hasOwnAnimations();
            if (animating)
                computed = layer.presentation();
            state = animating ? &computed : &layer.modelState();
        }
        const double opacity = parentOpacity * state->opacity;
        if (opacity <= 0) {
            // Invisible for now (a layer fading in shows nothing in its first frame), but on
            // screen: what changes in it before its next frame must animate all the same.
            markSubtreePresented(layer);
            return;
        }
        const QTransform saved = m_painter.transform();
        if (toParent)
            m_painter.setTransform(*toParent * saved);
        if (isOutsideDevice(layer, *state)) {
            m_painter.setTransform(saved);
            return;
        }
        // What a layer draws writes what is held where it draws first; text, drawn by the font
        // engine wherever its glyphs reach, gets the target as it is.
        if (dynamic_cast<const TextLayer*>(&layer))
            flushAllFills();
        if (state->shadowOpacity > 0 && state->shadowColor.alpha() > 0)
            paintShadow(layer, *state, opacity);
        if (layer.mask())
            paintMasked(layer, *state, opacity);
        else
            paintContentAndSublayers(layer, *state, opacity);
        m_painter.setTransform(saved);
    }

    // What the layer's subtree leaves held is written at its end unless `stillHeld`.
    void paintContentAndSublayers(Layer& layer, const LayerState& state, double opacity,
                                  bool stillHeld = false)
    {
        paintOwnContent(layer, state, opacity);
        if (layer.sublayers().empty())
            return;
        const bool clips = layer.masksToBounds();
        const std::optional<QRect> savedClip = m_clip;
        const bool savedClipKnown = m_clipKnown;
        if (clips) {
            m_painter.save();
            m_painter.setClipRect(toQRect(state.bounds), Qt::IntersectClip);
            intersectKnownClip(state.bounds);
        }
        std::optional<QRect> clip = m_later.empty() ? std::nullopt : m_later.back().clip;
        if (clips) {
            const QRect own = innerPixels(state.bounds, m_painter.deviceTransform(), 0);
            clip = clip ? clip->intersected(own) : own;
        }
        m_later.push_back({&layer, 0, m_painter.deviceTransform(), opacity, clip});
        // By index: painting never changes the tree, but a delegate could.
        for (size_t i = 0; i < layer.sublayers().size(); ++i) {
            m_later.back().next = i + 1;
            const LayerPtr sublayer = layer.sublayers()[i];
            if (sublayer->hasOwnAnimations()) {
                const LayerState presented = sublayer->presentation();
                const QTransform toParent = presented.toSuperlayer();
                paintLayer(*sublayer, &toParent, &presented, opacity);
            } else {
                const QTransform toParent = sublayer->modelState().toSuperlayer();
                paintLayer(*sublayer, &toParent, &sublayer->modelState(), opacity);
            }
        }
        m_later.pop_back();
        if (!stillHeld)
            flushAllFills();
        if (clips)
            m_painter.restore();
        m_clip = savedClip;
        m_clipKnown = savedClipKnown;
    }

    void paintOwnContent(Layer& layer, const LayerState& state, double opacity)
    {
        if (state.backgroundColor && state.backgroundColor->alpha() > 0) {
            const double savedOpacity = m_painter.opacity();
            m_painter.setOpacity(opacity);
            fillBackground(layer, state, state.backgroundColor->toQColor());
            m_painter.setOpacity(savedOpacity);
        }
        layer.displayIfNeeded(backingScale());
        flushFills(reachOf(layer, state));
        drawImage(m_painter, layer.backingImage(), state.bounds, opacity);
        const bool resting = !layer.hasOwnAnimations();
        const bool still = resting || isPlacedAsModel(layer, state);
        if (state.contentsTransition < 1 && !layer.previousContents().isNull()) {
            const QImage& previous = layer.previousContents();
            drawContents(previous, layer.scaledPreviousContents(), resting, still,
                         gravityRect(layer.contentsGravity(), state.bounds, QSizeF(previous.size())),
                         opacity);
        }
        const QImage& contents = layer.contents();
        if (!contents.isNull()) {
            drawContents(contents, layer.scaledContents(), resting, still,
                         gravityRect(layer.contentsGravity(), state.bounds, QSizeF(contents.size())),
                         opacity * state.contentsTransition);
        }
        if (const auto* text = dynamic_cast<const TextLayer*>(&layer))
            drawText(m_painter, *text, state.bounds, opacity);
        drawBorder(m_painter, state, opacity);
    }

    // A layer with nothing below it (a photo of a strip that runs past the screen's edges) whose
    // bounds and shadow fall wholly off the device costs nothing to draw.
    bool isOutsideDevice(const Layer& layer, const LayerState& state) const
    {
        if (!layer.sublayers().empty() || layer.mask() || dynamic_cast<const TextLayer*>(&layer))
            return false;
        const double shadow = state.shadowOpacity > 0 ? std::max(0.0, state.shadowRadius) * 2 +
                                                            std::max(std::abs(state.shadowOffset.width),
                                                                     std::abs(state.shadowOffset.height))
                                                      : 0.0;
        const QRectF mapped =
            m_painter.deviceTransform().mapRect(toQRect(state.bounds.insetBy(-shadow, -shadow)));
        return !mapped.intersects(QRectF(devicePixelBounds()));
    }

    // Device pixels per unit of the current coordinates: the window's device pixel ratio times
    // the scale of the layer transforms on the way here.
    double rasterScale() const { return rasterScaleOf(m_painter.deviceTransform()); }
    static double rasterScaleOf(const QTransform& t)
    {
        return std::max(std::hypot(t.m11(), t.m12()), std::hypot(t.m21(), t.m22()));
    }

    // The scale delegate drawings are made at: the raster scale in quarter steps, so a slight
    // change does not redraw them.
    double backingScale() const { return backingScaleOf(m_painter.deviceTransform()); }
    static double backingScaleOf(const QTransform& toDevice)
    {
        return std::clamp(std::ceil(rasterScaleOf(toDevice) * 4 - 1e-6) / 4, 0.25, 8.0);
    }

    QRect devicePixelBounds() const { return devicePixelRect(*m_painter.device()); }

    // The device pixels the layer's subtree may cover, limited to the device.
    QRect deviceRectOf(const Rect& rect, double margin) const
    {
        const QRectF mapped =
            m_painter.deviceTransform().mapRect(toQRect(rect)).adjusted(-margin, -margin, margin, margin);
        return mapped.toAlignedRect().intersected(devicePixelBounds());
    }

    // Makes the painter's coordinates the device's pixels.
    void setPixelTransform()
    {
        m_painter.setTransform(QTransform());
        m_painter.setTransform(m_painter.deviceTransform().inverted());
    }

    // Whether the layer is where its model puts it (whatever else of it animates: a photo fading
    // in, not one moving).
    static bool isPlacedAsModel(const Layer& layer, const LayerState& state)
    {
        const LayerState& model = layer.modelState();
        return state.bounds == model.bounds && state.toSuperlayer() == model.toSuperlayer();
    }

    // Draws `image` into `rect` (current coordinates, y up). Where the rectangle lands on whole
    // device pixels without rotation, the image is copied pixel for pixel: as it is when it was
    // decoded for that size (give or take the pixel its rounding costs), else as a scaled copy
    // kept in `copy` while the layer rests, so an unchanged frame rescales nothing. A thin part of
    // the image of a layer that is not moving (a photo's column under a feathered edge) is drawn
    // from a compact copy kept across frames.
    void drawContents(const QImage& image, ScaledImageCopy& copy, bool resting, bool still, const Rect& rect,
                      double opacity)
    {
        if (image.isNull() || rect.isEmpty() || opacity <= 0)
            return;
        const QTransform toDevice = flippedInto(rect, m_painter.deviceTransform());
        const bool upright =
            toDevice.m12() == 0 && toDevice.m21() == 0 && toDevice.m11() > 0 && toDevice.m22() > 0;
        if (!upright) {
            flushFills(deviceRectOf(rect, 2));
            drawImage(m_painter, image, rect, opacity);
            return;
        }
        const QRectF target = toDevice.mapRect(QRectF(0, 0, rect.width(), rect.height()));
        const QSize size(std::max(1, int(std::lround(target.width()))),
                         std::max(1, int(std::lround(target.height()))));
        const bool fits =
            std::abs(size.width() - image.width()) <= 1 && std::abs(size.height() - image.height()) <= 1;
        if (!fits && !resting) {
            flushFills(deviceRectOf(rect, 2));
            drawImage(m_painter, image, rect, opacity);
            return;
        }
        const QImage& drawn = fits ? image : copy.scaled(image, size);
        // Centred on the target, so a pixel of rounding is shared by both sides.
        const QPointF origin(std::round(target.center().x() - drawn.width() / 2.0),
                             std::round(target.center().y() - drawn.height() / 2.0));
        const QRect placed(origin.toPoint(), drawn.size());
        const QRect visible = placed.intersected(devicePixelBounds());
        const qint64 visibleArea = qint64(visible.width()) * visible.height();
        if (still && !visible.isEmpty() && visibleArea <= keptPieceLimit &&
            visibleArea * 4 <= qint64(drawn.width()) * drawn.height()) {
            const QTransform saved = m_painter.transform();
            const double savedOpacity = m_painter.opacity();
            setPixelTransform();
            m_painter.setOpacity(opacity);
            const PixelCopies copies(m_painter);
            drawImagePiece(drawn, visible.translated(-placed.topLeft()), visible.topLeft());
            m_painter.setOpacity(savedOpacity);
            m_painter.setTransform(saved);
            return;
        }
        drawDeviceImage(drawn, QRectF(origin, QSizeF(drawn.size())), opacity);
    }

    // Draws the layer and its sublayers into a transparent image covering `area` (device pixels,
    // scaled down by `scale`), at full opacity.
    QImage renderOffscreen(Layer& layer, const LayerState& state, QRect area, double scale)
    {
        QImage image(QSize(std::max(1, int(std::ceil(area.width() / scale))),
                           std::max(1, int(std::ceil(area.height() / scale)))),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter offscreen(&image);
        offscreen.setRenderHints(m_painter.renderHints());
        offscreen.setTransform(m_painter.deviceTransform() * QTransform::fromTranslate(-area.x(), -area.y()) *
                               QTransform::fromScale(1 / scale, 1 / scale));
        TreePainter inner(offscreen);
        if (layer.mask())
            inner.paintMasked(layer, state, 1.0);
        else
            inner.paintContentAndSublayers(layer, state, 1.0);
        return image;
    }

    void paintMasked(Layer& layer, const LayerState& state, double opacity)
    {
        Layer& mask = *layer.mask();
        const LayerState maskState = mask.presentation();
        // Outside the mask nothing shows, so its frame bounds the work.
        const QRect area = deviceRectOf(maskState.frame(), 1);
        if (area.isEmpty() || mask.isHidden())
            return;
        const QRect interior = opacity >= 1 ? opaqueInterior(mask, maskState).intersected(area) : QRect();
        if (!interior.isEmpty() && paintMaskedInPlace(layer, state, area, interior))
            return;
        flushAllFills();
        if (interior.isEmpty()) {
            paintMaskedArea(layer, state, area, opacity);
            return;
        }
        // Where the mask lets everything through (all of a strip but its feathered edges) the
        // layer is drawn straight onto the target; only the rest takes the offscreen pass.
        paintClippedTo(layer, state, interior);
        const QRect bands[] = {
            QRect(QPoint(area.left(), area.top()), QPoint(interior.left() - 1, area.bottom())),
            QRect(QPoint(interior.right() + 1, area.top()), QPoint(area.right(), area.bottom())),
            QRect(QPoint(interior.left(), area.top()), QPoint(interior.right(), interior.top() - 1)),
            QRect(QPoint(interior.left(), interior.bottom() + 1), QPoint(interior.right(), area.bottom()))};
        for (const QRect& band : bands) {
            if (band.isValid() && !band.isEmpty())
                paintMaskedArea(layer, state, band, opacity);
        }
    }

    // Draws the layer and its sublayers straight onto the target within `pixels` (device pixels),
    // its fills held back written unless `stillHeld`.
    void paintClippedTo(Layer& layer, const LayerState& state, QRect pixels, bool stillHeld = false)
    {
        const QTransform saved = m_painter.transform();
        m_painter.save();
        setPixelTransform();
        m_painter.setClipRect(pixels, Qt::IntersectClip);
        m_painter.setTransform(saved);
        const std::optional<QRect> savedClip = m_clip;
        if (m_clipKnown)
            m_clip = m_clip ? m_clip->intersected(pixels) : pixels;
        paintContentAndSublayers(layer, state, 1.0, stillHeld);
        if (!stillHeld)
            flushAllFills();
        m_clip = savedClip;
        m_painter.restore();
    }

    // A layer that covers its mask opaquely (a strip with its grey) masked by its delegate's
    // drawing on whole device pixels is drawn whole, straight onto the target, within `area`; its
    // bands outside the mask's opaque `interior` are then faded in place, over what they held
    // before. The pixels are those of drawing the bands apart, multiplying them by the mask and
    // blending them, without the second pass over what lies under the bands or the blend of its
    // image onto the target's cold rows. False, having drawn nothing, where that does not hold.
    bool paintMaskedInPlace(Layer& layer, const LayerState& state, QRect area, QRect interior)
    {
        QImage* target = targetImage();
        Layer& mask = *layer.mask();
        const LayerState maskState = mask.presentation();
        const QTransform toDevice = m_painter.deviceTransform();
        if (!target || !writesPixelsByHand() || !isUpright(toDevice) || !state.backgroundColor ||
            state.backgroundColor->toQColor().alpha() != 255 || !isDrawnByDelegateAlone(mask, maskState))
            return false;
        mask.displayIfNeeded(backingScale());
        const QImage& drawing = mask.backingImage();
        if (drawing.isNull())
            return false;
        const std::optional<QPoint> placed =
            pixelOrigin(drawing, maskState.bounds, maskState.toSuperlayer() * toDevice);
        if (!placed)
            return false;
        const QPoint origin = *placed;
        // The layer's background must lie under every pixel the mask lets anything through.
        const QRectF background = toDevice.mapRect(toQRect(state.bounds.standardized()));
        if (!isWhole(background.left()) || !isWhole(background.top()) || !isWhole(background.right()) ||
            !isWhole(background.bottom()) ||
            !background.toRect().contains(QRect(origin, drawing.size()).intersected(area)))
            return false;
        QRegion bands = QRegion(area) - interior;
        if (m_clip)
            bands &= *m_clip;
        // What lies below a band is kept as a copy of its pixels, or as the one colour of the fill
        // not written there yet (the window's black under a full-screen strip), which the layer's
        // opaque background then replaces unwritten.
        std::vector<BandFade> fades;
        for (const QRect& rect : bands) {
            const QImage& maskPiece = pieceOf(drawing, rect.translated(-origin));
            if (const std::optional<QRgb> flat = takeHeldFill(rect)) {
                fades.push_back({rect, maskPiece, QImage(), *flat});
                continue;
            }
            flushFills(rect);
            fades.push_back({rect, maskPiece, copyBand(*target, rect), 0});
        }
        flushAllFills();
        layer.keptMaskedAreas().clear();
        // What the layer leaves held is written with the bands' fading, row by row.
        paintClippedTo(layer, state, area, true);
        flushAllFills(fades);
        return true;
    }

    // A mask whose whole look is its delegate's drawing, shown as it is.
    static bool isDrawnByDelegateAlone(const Layer& mask, const LayerState& maskState)
    {
        return mask.delegate() && mask.sublayers().empty() && !mask.mask() && mask.contents().isNull() &&
               !(maskState.backgroundColor && maskState.backgroundColor->alpha() > 0) &&
               maskState.borderWidth <= 0 && maskState.opacity >= 1 && maskState.shadowOpacity <= 0 &&
               !mask.isHidden();
    }

    // The device pixels where `mask` is fully opaque, as one rectangle; empty when that is not
    // known cheaply (only a mask drawn by its delegate alone is looked into).
    QRect opaqueInterior(Layer& mask, const LayerState& maskState)
    {
        return opaqueInterior(mask, maskState, m_painter.deviceTransform());
    }

    // The same, with the masked layer's coordinates mapped to the device by `toDevice`.
    static QRect opaqueInterior(Layer& mask, const LayerState& maskState, const QTransform& toDevice)
    {
        if (!isDrawnByDelegateAlone(mask, maskState) || !maskState.transform.isIdentity())
            return {};
        mask.displayIfNeeded(backingScaleOf(toDevice));
        const QImage& image = mask.backingImage();
        if (image.isNull())
            return {};
        const QRect opaque = OpaqueRegions::of(image);
        if (opaque.isEmpty())
            return {};
        // Backing pixels to the mask's points (y up from the bottom of its bounds), then to device
        // pixels, keeping only whole pixels inside.
        const Rect b = maskState.bounds.standardized();
        const double sx = b.width() / image.width();
        const double sy = b.height() / image.height();
        const QRectF inMask(b.minX() + opaque.x() * sx, b.maxY() - (opaque.y() + opaque.height()) * sy,
                            opaque.width() * sx, opaque.height() * sy);
        const QRectF device = (maskState.toSuperlayer() * toDevice).mapRect(inMask);
        const QPoint topLeft(int(std::ceil(device.left() - 1e-6)), int(std::ceil(device.top() - 1e-6)));
        const QPoint bottomRight(int(std::floor(device.right() + 1e-6)) - 1,
                                 int(std::floor(device.bottom() + 1e-6)) - 1);
        return QRect(topLeft, bottomRight);
    }

    // The layer and its sublayers through the mask, within `area` (device pixels).
    void paintMaskedArea(Layer& layer, const LayerState& state, QRect area, double opacity)
    {
        // A band in which nothing changed or moves since it was last drawn (the strip's feathered
        // edges while a photo fades in the middle) is drawn from the pixels kept then.
        const QTransform toDevice = m_painter.deviceTransform();
        const bool still = isStillWithin(layer, area);
        std::vector<Layer::KeptMaskedArea>& kept = layer.keptMaskedAreas();
        if (still) {
            for (const Layer::KeptMaskedArea& entry : kept) {
                if (entry.revision == layer.subtreeRevision() && entry.toDevice == toDevice &&
                    entry.area == area) {
                    drawDeviceImage(entry.image, area, opacity);
                    return;
                }
            }
        }
        const QImage content = maskedArea(layer, state, area);
        std::erase_if(kept, [&](const Layer::KeptMaskedArea& entry) {
            return entry.area == area || entry.revision != layer.subtreeRevision() ||
                   entry.toDevice != toDevice;
        });
        if (still && kept.size() < 4)
            kept.push_back({layer.subtreeRevision(), toDevice, area, content});
        drawDeviceImage(content, area, opacity);
    }

    // Whether nothing that `layer` draws within `area` (device pixels) animates now.
    bool isStillWithin(const Layer& layer, QRect area) const
    {
        if (layer.hasOwnAnimations() || (layer.mask() && layer.mask()->hasRunningAnimations()))
            return false;
        for (const LayerPtr& sublayer : layer.sublayers()) {
            if (sublayer->isHidden() || !sublayer->hasRunningAnimations())
                continue;
            const LayerState presented = sublayer->presentation();
            const double shadow = presented.shadowOpacity > 0
                                      ? std::max(0.0, presented.shadowRadius) * 2 +
                                            std::max(std::abs(presented.shadowOffset.width),
                                                     std::abs(presented.shadowOffset.height))
                                      : 0.0;
            const QRectF covered = presented.toSuperlayer().mapRect(
                toQRect(visualBounds(*sublayer, presented).insetBy(-shadow, -shadow)));
            if (deviceRectOf(Rect(covered.x(), covered.y(), covered.width(), covered.height()), 2)
                    .intersects(area))
                return false;
        }
        return true;
    }

    // The layer and its sublayers through the mask, within `area`, as an image of the area.
    QImage maskedArea(Layer& layer, const LayerState& state, QRect area)
    {
        Layer& mask = *layer.mask();
        const LayerState maskState = mask.presentation();
        QImage content(area.size(), QImage::Format_ARGB32_Premultiplied);
        content.fill(Qt::transparent);
        const QTransform toArea =
            m_painter.deviceTransform() * QTransform::fromTranslate(-area.x(), -area.y());
        QPainter offscreen(&content);
        offscreen.setRenderHints(m_painter.renderHints());
        offscreen.setTransform(toArea);
        if (isDrawnByDelegateAlone(mask, maskState)) {
            // A mask that is only its delegate's drawing (the strip's feathers) is applied
            // straight from that drawing.
            mask.displayIfNeeded(backingScale());
            const QTransform maskToArea = maskState.toSuperlayer() * toArea;
            const QImage& drawing = mask.backingImage();
            const std::optional<QPoint> origin =
                drawing.isNull() ? std::nullopt : pixelOrigin(drawing, maskState.bounds, maskToArea);
            if (origin) {
                TreePainter(offscreen).paintContentAndSublayers(layer, state, 1.0);
                offscreen.end();
                multiplyByMaskAlpha(content, pieceOf(drawing, QRect(-*origin, content.size())), QPoint(0, 0));
                return content;
            }
        }
        TreePainter(offscreen).paintContentAndSublayers(layer, state, 1.0);
        offscreen.end();
        QImage alpha(area.size(), QImage::Format_ARGB32_Premultiplied);
        alpha.fill(Qt::transparent);
        {
            QPainter maskPainter(&alpha);
            maskPainter.setRenderHints(m_painter.renderHints());
            maskPainter.setTransform(toArea);
            const QTransform toParent = maskState.toSuperlayer();
            TreePainter(maskPainter).paintLayer(mask, &toParent, &maskState, 1.0);
        }
        {
            QPainter combine(&content);
            combine.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            combine.drawImage(0, 0, alpha);
        }
        return content;
    }

    // A blur of the layer's silhouette, drawn at low resolution: a blurred shadow has no detail
    // worth the pixels.
    void paintShadow(Layer& layer, const LayerState& state, double opacity)
    {
        const double radius = std::max(0.0, state.shadowRadius);
        if (const std::optional<Rect> plain = plainSilhouette(layer, state)) {
            if (plain->isEmpty())
                return;
            const bool covers = coversOwnShadow(layer, state, opacity, *plain);
            if (paintCachedShadow(*plain, state, opacity, covers))
                return;
            flushAllFills();
            const QTransform saved = m_painter.transform();
            const double savedOpacity = m_painter.opacity();
            m_painter.setTransform(
                QTransform::fromTranslate(state.shadowOffset.width, state.shadowOffset.height) * saved);
            m_painter.setOpacity(opacity * state.shadowOpacity);
            const QRectF hidden =
                covers ? toQRect(plain->offsetBy(-state.shadowOffset.width, -state.shadowOffset.height))
                       : QRectF();
            ShadowBlur::fillBlurredRect(m_painter, toQRect(*plain), radius, state.shadowColor.toQColor(),
                                        hidden);
            m_painter.setOpacity(savedOpacity);
            m_painter.setTransform(saved);
            return;
        }
        // The blur is measured in device pixels, like the offscreen image.
        const double deviceRadius = radius * rasterScale();
        const QRect area = deviceRectOf(visualBounds(layer, state), deviceRadius * 2 + 1);
        if (area.isEmpty())
            return;
        const QTransform toDevice = m_painter.deviceTransform();
        // Kept while nothing in the subtree changes, moves or animates (a caption's shadow).
        Layer::KeptShadow& kept = layer.keptShadow();
        const QRgb color = state.shadowColor.toQColor().rgba();
        const bool unchanged = !kept.image.isNull() && kept.revision == layer.subtreeRevision() &&
                               kept.toDevice == toDevice && kept.area == area &&
                               kept.radius == deviceRadius && kept.color == color &&
                               !layer.hasRunningAnimations();
        if (!unchanged) {
            const double scale = std::max(1.0, deviceRadius / 2);
            QImage silhouette = renderOffscreen(layer, state, area, scale);
            ShadowBlur::blurAlpha(silhouette, deviceRadius / scale, state.shadowColor.toQColor());
            kept = {layer.subtreeRevision(), toDevice, area, deviceRadius, color, std::move(silhouette)};
            ++s_blurredSilhouettes;
        }
        const QImage& silhouette = kept.image;
        const QPointF offset = toDevice.map(QPointF(state.shadowOffset.width, state.shadowOffset.height)) -
                               toDevice.map(QPointF(0, 0));
        drawDeviceImage(silhouette, QRectF(area).translated(offset), opacity * state.shadowOpacity);
    }

    // Whether the layer, drawn in full, hides the middle of its own shadow: an opaque photo does,
    // and so does one fading in over an opaque photo of the same shape.
    static bool coversOwnShadow(const Layer& layer, const LayerState& state, double opacity,
                                const Rect& plain)
    {
        if (opacity < 1 || (state.backgroundColor && state.backgroundColor->alpha() > 0) ||
            state.borderWidth > 0 || layer.contents().isNull())
            return false;
        if (state.contentsTransition >= 1)
            return true;
        const QImage& previous = layer.previousContents();
        if (previous.isNull() || previous.hasAlphaChannel())
            return false;
        const Rect under = gravityRect(layer.contentsGravity(), state.bounds, QSizeF(previous.size()));
        return std::abs(under.minX() - plain.minX()) < 0.5 && std::abs(under.maxX() - plain.maxX()) < 0.5 &&
               std::abs(under.minY() - plain.minY()) < 0.5 && std::abs(under.maxY() - plain.maxY()) < 0.5;
    }

    // The shadow of the plain rectangle `plain` (current coordinates) as a kept image, when the
    // rectangle lands upright on the device: placed on whole device pixels, and without the part
    // the opaque layer itself covers when `covers`. False when it must be filled instead.
    bool paintCachedShadow(const Rect& plain, const LayerState& state, double opacity, bool covers)
    {
        const QTransform toDevice = m_painter.deviceTransform();
        const bool upright = toDevice.m12() == 0 && toDevice.m21() == 0 && toDevice.m11() > 0;
        if (!upright || std::abs(std::abs(toDevice.m22()) - toDevice.m11()) > 1e-9)
            return false;
        const double scale = toDevice.m11();
        const QRectF layerRect = toDevice.mapRect(toQRect(plain));
        const QRectF shadowRect =
            toDevice.mapRect(toQRect(plain.offsetBy(state.shadowOffset.width, state.shadowOffset.height)));
        const QSize size = ShadowImageCache::pixelSizeOf(shadowRect.size());
        const double radius = std::max(0.0, state.shadowRadius) * scale;
        const QImage image = ShadowImageCache::blurredRect(size, radius, state.shadowColor.toQColor());
        const int edge = ShadowImageCache::margin(radius);
        const QPoint origin(int(std::lround(shadowRect.center().x() - size.width() / 2.0)) - edge,
                            int(std::lround(shadowRect.center().y() - size.height() / 2.0)) - edge);
        const QRect placed(origin, image.size());
        QRect hidden;
        if (covers) {
            // Two device pixels in from the layer's edges, so the photo's own rounding never
            // uncovers a seam.
            const QRect inside(
                QPoint(int(std::ceil(layerRect.left())) + 2, int(std::ceil(layerRect.top())) + 2),
                QPoint(int(std::floor(layerRect.right())) - 3, int(std::floor(layerRect.bottom())) - 3));
            hidden = inside.intersected(placed);
        }
        const QTransform saved = m_painter.transform();
        const double savedOpacity = m_painter.opacity();
        setPixelTransform();
        m_painter.setOpacity(opacity * state.shadowOpacity);
        const PixelCopies copies(m_painter);
        // Under a layer that does not hide it (a photo fading in over its placeholder) the
        // shadow's even middle is filled as a colour: a blend of one colour costs a fraction of a
        // blend of an image's pixels, and it is used only where it gives the very same pixels.
        std::optional<QColor> middleColor;
        if (hidden.isEmpty()) {
            const QRect middle = ShadowImageCache::uniformMiddle(size, radius);
            const QRgb pixel = image.pixel(middle.topLeft());
            if (qint64(middle.width()) * middle.height() >= coverageWorthFinding &&
                solidFillMatchesImage(pixel, m_painter.opacity())) {
                hidden = middle.translated(placed.topLeft());
                middleColor = QColor::fromRgba(qUnpremultiply(pixel));
            }
        }
        if (middleColor)
            fillFlat(hidden, *middleColor);
        if (hidden.isEmpty()) {
            flushFills(placed);
            m_painter.drawImage(placed.topLeft(), image);
        } else {
            const QRect bands[] = {
                QRect(QPoint(placed.left(), placed.top()), QPoint(placed.right(), hidden.top() - 1)),
                QRect(QPoint(placed.left(), hidden.bottom() + 1), QPoint(placed.right(), placed.bottom())),
                QRect(QPoint(placed.left(), hidden.top()), QPoint(hidden.left() - 1, hidden.bottom())),
                QRect(QPoint(hidden.right() + 1, hidden.top()), QPoint(placed.right(), hidden.bottom()))};
            for (const QRect& band : bands) {
                // Whole, so the pieces stay the same while the layer moves partly off the device.
                if (band.isValid() && band.intersects(devicePixelBounds())) {
                    drawImagePiece(image, band.translated(-placed.topLeft()), band.topLeft());
                }
            }
        }
        m_painter.setOpacity(savedOpacity);
        m_painter.setTransform(saved);
        return true;
    }

    // Draws the part `piece` of `image` (its pixels) one to one with its top left at `at` (device
    // pixels), at the painter's opacity. A thin piece (a shadow's band) is drawn from a compact
    // copy kept across frames, already faded to that opacity where that gives the very same
    // pixels: read from the whole image one far-apart row at a time, and blended at an opacity,
    // a band of a few pixels costs many times its size. Over a fill not written yet (a strip's
    // grey) the piece is written with that colour below it, in one pass.
    void drawImagePiece(const QImage& image, QRect piece, QPoint at)
    {
        const double opacity = m_painter.opacity();
        if (qint64(piece.width()) * piece.height() > keptPieceLimit) {
            flushFills(QRect(at, piece.size()));
            m_painter.drawImage(at, image, piece);
            return;
        }
        const bool faded = opacity < 1 && image.format() == QImage::Format_ARGB32_Premultiplied &&
                           fadedImageMatchesOpacity(opacity);
        const QImage& kept = keptPieceOf(image, piece, faded ? opacity : 1.0);
        QImage* target = targetImage();
        if ((faded || opacity >= 1) && target && writesPixelsByHand() &&
            kept.format() == QImage::Format_ARGB32_Premultiplied) {
            QRect area = QRect(at, kept.size()).intersected(devicePixelBounds());
            if (m_clip)
                area &= *m_clip;
            if (area.isEmpty())
                return;
            if (const std::optional<QRgb> below = takeHeldFill(area)) {
                m_pieces.push_back({area, keptPieceOver(kept, *below), at});
                s_heldPiecePixels += qint64(area.width()) * area.height();
                return;
            }
            flushFills(area);
            blendPieceOnto(*target, area, kept, at);
            return;
        }
        flushFills(QRect(at, piece.size()));
        if (faded)
            m_painter.setOpacity(1.0);
        m_painter.drawImage(at, kept);
        m_painter.setOpacity(opacity);
    }

    // Whether drawing an image faded beforehand to `opacity` (drawn at that opacity over
    // transparency) gives, at full opacity and with this painter's settings, the very pixels of
    // drawing the image itself at `opacity`: checked once per opacity and target format over every
    // alpha and a spread of colours and of pixels below.
    bool fadedImageMatchesOpacity(double opacity) const
    {
        return checkedOnce({PixelCheck::FadedImage, 0, opacity},
                           [&](const PixelCheck& key) { return fadedImageMatches(key); });
    }

    static bool fadedImageMatches(const PixelCheck& key)
    {
        const auto [kind, pixel, opacity, format, hints, mode] = key;
        // Every alpha across, channels from nothing to the alpha down; below, opaque and
        // translucent colours.
        QImage source(256, 64, QImage::Format_ARGB32_Premultiplied);
        QImage below(source.size(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x) {
                const int c = y * 4;
                source.setPixel(x, y, qRgba(c * x / 255, (255 - c) * x / 255, (c * 7 % 256) * x / 255, x));
                const int v = (x * 37 + y * 101) % 256;
                below.setPixel(x, y, y % 2 ? qRgba(v, 255 - v, v / 2, 255) : qRgba(v / 2, v / 3, v / 4, v));
            }
        }
        below.convertTo(format);
        QImage faded(source.size(), QImage::Format_ARGB32_Premultiplied);
        faded.fill(Qt::transparent);
        fade(source, faded, opacity);
        QImage direct = below.copy();
        QImage viaFaded = below.copy();
        for (QImage* target : {&direct, &viaFaded}) {
            QPainter painter(target);
            painter.setRenderHints(hints);
            painter.setCompositionMode(mode);
            painter.setOpacity(target == &direct ? opacity : 1.0);
            painter.drawImage(QPoint(0, 0), target == &direct ? source : faded);
        }
        return direct == viaFaded;
    }

    // Draws `source` at `opacity` over `target` (transparent, premultiplied, of its size).
    static void fade(const QImage& source, QImage& target, double opacity)
    {
        QPainter painter(&target);
        painter.setOpacity(opacity);
        painter.drawImage(QPoint(0, 0), source);
    }

    // The part `piece` of `image`, faded to `opacity` when below 1, kept for the last few dozen
    // pieces asked for (a frame's shadow bands).
    static const QImage& keptPieceOf(const QImage& image, QRect piece, double opacity)
    {
        static RecentImages<std::tuple<qint64, QRect, double>, 32> kept;
        return kept.get({image.cacheKey(), piece, opacity}, [&] {
            QImage copy = image.copy(piece);
            if (opacity < 1) {
                QImage faded(copy.size(), QImage::Format_ARGB32_Premultiplied);
                faded.fill(Qt::transparent);
                fade(copy, faded, opacity);
                copy = std::move(faded);
            }
            ++s_keptPieces;
            return copy;
        });
    }

    // `kept` blended over the opaque colour `below` as the raster engine blends it, kept for the
    // last few asked for: a shadow's band over a strip's grey is then copied, not blended, on every
    // frame it stays the same.
    static const QImage& keptPieceOver(const QImage& kept, QRgb below)
    {
        static RecentImages<std::pair<qint64, QRgb>, 32> blended;
        return blended.get({kept.cacheKey(), below}, [&] {
            QImage over(kept.size(), QImage::Format_ARGB32_Premultiplied);
            for (int y = 0; y < kept.height(); ++y)
                blendRowOverColor(reinterpret_cast<QRgb*>(over.scanLine(y)),
                                  reinterpret_cast<const QRgb*>(kept.constScanLine(y)), below, kept.width());
            return over;
        });
    }

    // The image the painter writes into, if it is one.
    QImage* targetImage() const
    {
        const QPaintEngine* engine = m_painter.paintEngine();
        QPaintDevice* device = engine ? engine->paintDevice() : m_painter.device();
        if (!device || device->devType() != QInternal::Image)
            return nullptr;
        return static_cast<QImage*>(device);
    }

    // The format of the pixels the painter writes, or Format_Invalid when that is not an image.
    QImage::Format targetFormat() const
    {
        const QImage* target = targetImage();
        return target ? target->format() : QImage::Format_Invalid;
    }

    // Whether our own code may write the target's pixels as the painter would blend them: an image
    // of 32-bit pixels, drawn over, where everything clipped is known.
    bool writesPixelsByHand() const
    {
        const QImage::Format format = targetFormat();
        return m_clipKnown && m_painter.compositionMode() == QPainter::CompositionMode_SourceOver &&
               (format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_RGB32);
    }

    // Whether filling with the colour of the premultiplied `pixel` gives, at `opacity` and with
    // this painter's settings, the same pixels as drawing an image of that pixel one to one: over
    // every value of every channel (the blend treats channels alike and apart), so once is enough
    // for each pixel, opacity and target format.
    bool solidFillMatchesImage(QRgb pixel, double opacity) const
    {
        return checkedOnce({PixelCheck::SolidFill, pixel, opacity},
                           [&](const PixelCheck& key) { return solidFillMatches(key); });
    }

    static bool solidFillMatches(const PixelCheck& key)
    {
        const auto [kind, pixel, opacity, format, hints, mode] = key;
        QImage below(256, 3, QImage::Format_ARGB32_Premultiplied);
        for (int v = 0; v < 256; ++v) {
            below.setPixel(v, 0, qRgba(v, 255 - v, v / 2, 255));
            below.setPixel(v, 1, qRgba(v, v, v, v));
            below.setPixel(v, 2, qRgba(v / 2, v / 3, v / 4, v));
        }
        below.convertTo(format);
        QImage drawn = below;
        QImage filled = below.copy();
        QImage source(below.size(), QImage::Format_ARGB32_Premultiplied);
        source.fill(pixel);
        for (QImage* target : {&drawn, &filled}) {
            QPainter painter(target);
            painter.setRenderHints(hints);
            painter.setCompositionMode(mode);
            painter.setOpacity(opacity);
            if (target == &drawn)
                painter.drawImage(QPoint(0, 0), source);
            else
                painter.fillRect(below.rect(), QColor::fromRgba(qUnpremultiply(pixel)));
        }
        return drawn == filled;
    }

    // The answer of `check` for `key` completed with this painter's target format and settings:
    // worked out the first time, then kept with the last few dozen answers (their pixels never
    // change). False when the painter does not draw into an image.
    template <typename Check> bool checkedOnce(PixelCheck key, Check check) const
    {
        key.format = targetFormat();
        if (key.format == QImage::Format_Invalid)
            return false;
        key.hints = m_painter.renderHints();
        key.mode = m_painter.compositionMode();
        static std::vector<std::pair<PixelCheck, bool>> answers;
        for (const auto& [checked, matches] : answers) {
            if (checked == key)
                return matches;
        }
        const bool matches = check(key);
        if (answers.size() >= 32)
            answers.erase(answers.begin());
        answers.emplace_back(key, matches);
        return matches;
    }

    void drawDeviceImage(const QImage& image, const QRectF& area, double opacity)
    {
        const QPoint corner = area.topLeft().toPoint();
        const bool onPixels = area.size() == QSizeF(image.size()) && QPointF(corner) == area.topLeft();
        // An opaque image copied over whole pixels replaces what is held under it unwritten. One
        // in the target's own pixels is held too, and copied row by row with the rest of the
        // frame: the thin columns beside it (gaps, shadows, feathered edges) then land on rows
        // already being written, instead of each costing a cache miss a row of their own.
        if (onPixels && opacity >= 1 && !image.hasAlphaChannel() && writesPixelsByHand()) {
            QRect covered = QRect(corner, image.size()).intersected(devicePixelBounds());
            if (m_clip)
                covered &= *m_clip;
            dropHeldUnder(covered);
            if (image.format() == QImage::Format_RGB32) {
                if (!covered.isEmpty())
                    m_pieces.push_back({covered, image, corner});
                return;
            }
        }
        flushFills(area.toAlignedRect());
        const QTransform saved = m_painter.transform();
        const double savedOpacity = m_painter.opacity();
        setPixelTransform();
        m_painter.setOpacity(opacity);
        if (onPixels) {
            const PixelCopies copies(m_painter);
            m_painter.drawImage(corner, image);
        } else {
            m_painter.drawImage(area, image);
        }
        m_painter.setOpacity(savedOpacity);
        m_painter.setTransform(saved);
    }

    // The rectangle a layer covers when it is nothing but a background, border or image (a photo):
    // its shadow is a blurred rectangle, drawn without an offscreen pass.
    static std::optional<Rect> plainSilhouette(const Layer& layer, const LayerState& state)
    {
        if (!layer.sublayers().empty() || layer.mask() || layer.delegate() ||
            dynamic_cast<const TextLayer*>(&layer))
            return std::nullopt;
        const bool filled = state.backgroundColor && state.backgroundColor->alpha() > 0;
        if (filled || state.borderWidth > 0)
            return state.bounds;
        const QImage& contents = layer.contents();
        if (contents.isNull() || contents.hasAlphaChannel())
            return contents.isNull() ? std::optional<Rect>(Rect()) : std::nullopt;
        return gravityRect(layer.contentsGravity(), state.bounds, QSizeF(contents.size()));
    }

    // What the layer and its visible sublayers cover, in the layer's coordinates.
    static Rect visualBounds(const Layer& layer, const LayerState& state)
    {
        Rect result = state.bounds.standardized();
        if (layer.masksToBounds())
            return result;
        for (const auto& sublayer : layer.sublayers()) {
            if (sublayer->isHidden())
                continue;
            const LayerState presented = sublayer->presentation();
            const QRectF mapped =
                presented.toSuperlayer().mapRect(toQRect(visualBounds(*sublayer, presented)));
            result = result.unionWith(Rect(mapped.x(), mapped.y(), mapped.width(), mapped.height()));
        }
        return result;
    }

    QPainter& m_painter;
    // Innermost last.
    std::vector<Later> m_later;
    // Whether every clip the painter has now is m_clip (device pixels; none: no clip).
    bool m_clipKnown;
    std::optional<QRect> m_clip;
    // Flat fills not written yet, as the opaque colours they leave in the target (pixels of its
    // format) over device pixels; disjoint.
    std::vector<std::pair<QRegion, QRgb>> m_fills;
    // Pieces held back as well; their pixels are in no held fill.
    std::vector<HeldPiece> m_pieces;
};

} // namespace

void LayerPainter::paint(QPainter& painter, const Layer& root, QSizeF viewSize,
                         std::optional<QColor> clearColor)
{
    // Layers are never const objects themselves (they are made by create()), and laying out is
    // part of drawing a frame.
    Layer& tree = const_cast<Layer&>(root);
    tree.layoutIfNeeded();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The root's y-up space with its origin at the view's lower left.
    painter.setTransform(QTransform(1, 0, 0, -1, 0, viewSize.height()), true);
    TreePainter(painter).paintRoot(tree, clearColor);
    painter.restore();
}

int LayerPainter::blurredSilhouetteCountForTesting()
{
    return s_blurredSilhouettes;
}

qint64 LayerPainter::backgroundPixelCountForTesting()
{
    return s_backgroundPixels;
}

qint64 LayerPainter::stackedFillPixelCountForTesting()
{
    return s_stackedPixels;
}

int LayerPainter::keptPieceCountForTesting()
{
    return s_keptPieces;
}

qint64 LayerPainter::heldPiecePixelCountForTesting()
{
    return s_heldPiecePixels;
}

QImage LayerPainter::render(const Layer& root, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter, root, QSizeF(size));
    return image;
}
