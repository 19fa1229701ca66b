#include "ShadowBlur.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// One pass of a running-sum box blur over `count` values `stride` apart.
void boxBlur(std::vector<float>& values, size_t start, size_t count, size_t stride, int radius,
             std::vector<float>& scratch)
{
    scratch.resize(count);
    const float scale = 1.0f / float(2 * radius + 1);
    float sum = 0;
    auto at = [&](long i) { return (i < 0 || i >= long(count)) ? 0.0f : values[start + size_t(i) * stride]; };
    for (long i = -radius; i <= radius; ++i)
        sum += at(i);
    for (long i = 0; i < long(count); ++i) {
        scratch[size_t(i)] = sum * scale;
        sum += at(i + radius + 1) - at(i - radius);
    }
    for (size_t i = 0; i < count; ++i)
        values[start + i * stride] = scratch[i];
}

// Fills `rect` but for the part of it under `hidden`, which something opaque covers anyway. The
// part left out stays a point inside `hidden`, so the seams between the pieces are covered too.
void fillAround(QPainter& painter, const QRectF& rect, const QRectF& hidden, const QColor& color)
{
    const QRectF h = hidden.adjusted(1, 1, -1, -1).intersected(rect);
    if (h.isEmpty()) {
        painter.fillRect(rect, color);
        return;
    }
    const QRectF pieces[] = {QRectF(QPointF(rect.left(), rect.top()), QPointF(rect.right(), h.top())),
                             QRectF(QPointF(rect.left(), h.bottom()), QPointF(rect.right(), rect.bottom())),
                             QRectF(QPointF(rect.left(), h.top()), QPointF(h.left(), h.bottom())),
                             QRectF(QPointF(h.right(), h.top()), QPointF(rect.right(), h.bottom()))};
    for (const QRectF& piece : pieces) {
        if (piece.width() > 0 && piece.height() > 0)
            painter.fillRect(piece, color);
    }
}

} // namespace

void ShadowBlur::blurAlpha(QImage& image, double radius, const QColor& color)
{
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const size_t width = size_t(image.width());
    const size_t height = size_t(image.height());
    std::vector<float> alpha(width * height);
    for (size_t y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(int(y)));
        for (size_t x = 0; x < width; ++x)
            alpha[y * width + x] = float(qAlpha(line[x])) / 255.0f;
    }
    // Three box passes come close to a Gaussian.
    const int box = std::max(0, int(std::lround(radius / 2)));
    if (box > 0) {
        std::vector<float> scratch;
        for (int pass = 0; pass < 3; ++pass) {
            for (size_t y = 0; y < height; ++y)
                boxBlur(alpha, y * width, width, 1, box, scratch);
            for (size_t x = 0; x < width; ++x)
                boxBlur(alpha, x, height, width, box, scratch);
        }
    }
    const float r = float(color.redF()), g = float(color.greenF()), b = float(color.blueF());
    const float a = float(color.alphaF());
    for (size_t y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        for (size_t x = 0; x < width; ++x) {
            const float coverage = std::clamp(alpha[y * width + x] * a, 0.0f, 1.0f);
            line[x] = qRgba(int(std::lround(r * coverage * 255)), int(std::lround(g * coverage * 255)),
                            int(std::lround(b * coverage * 255)), int(std::lround(coverage * 255)));
        }
    }
}

void ShadowBlur::fillBlurredRect(QPainter& painter, const QRectF& rect, double radius, const QColor& color,
                                 const QRectF& hidden)
{
    const QRectF r = rect.normalized();
    if (radius <= 0.5) {
        painter.fillRect(r, color);
        return;
    }
    // Opacity falls from full at `radius` inside the edge to none at `radius` outside.
    const double ramp = std::min({radius, r.width() / 2, r.height() / 2});
    const QRectF inner = r.adjusted(ramp, ramp, -ramp, -ramp);
    const QRectF outer = r.adjusted(-radius, -radius, radius, radius);
    QColor clear = color;
    clear.setAlpha(0);
    painter.save();
    painter.setPen(Qt::NoPen);
    fillAround(painter, inner, hidden, color);
    auto edge = [&](QRectF band, QPointF from, QPointF to) {
        QLinearGradient gradient(from, to);
        gradient.setColorAt(0, color);
        gradient.setColorAt(1, clear);
        painter.fillRect(band, gradient);
    };
    edge(QRectF(QPointF(outer.left(), inner.top()), QPointF(inner.left(), inner.bottom())),
         QPointF(inner.left(), 0), QPointF(outer.left(), 0));
    edge(QRectF(QPointF(inner.right(), inner.top()), QPointF(outer.right(), inner.bottom())),
         QPointF(inner.right(), 0), QPointF(outer.right(), 0));
    edge(QRectF(QPointF(inner.left(), outer.top()), QPointF(inner.right(), inner.top())),
         QPointF(0, inner.top()), QPointF(0, outer.top()));
    edge(QRectF(QPointF(inner.left(), inner.bottom()), QPointF(inner.right(), outer.bottom())),
         QPointF(0, inner.bottom()), QPointF(0, outer.bottom()));
    const double reach = ramp + radius;
    auto corner = [&](QPointF centre, QRectF square) {
        QRadialGradient gradient(centre, reach);
        gradient.setColorAt(0, color);
        gradient.setColorAt(1, clear);
        painter.fillRect(square, gradient);
    };
    corner(inner.topLeft(), QRectF(outer.topLeft(), inner.topLeft()));
    corner(inner.topRight(),
           QRectF(QPointF(inner.right(), outer.top()), QPointF(outer.right(), inner.top())));
    corner(inner.bottomLeft(),
           QRectF(QPointF(outer.left(), inner.bottom()), QPointF(inner.left(), outer.bottom())));
    corner(inner.bottomRight(), QRectF(inner.bottomRight(), outer.bottomRight()));
    painter.restore();
}
