#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>

class QPainter;

// The soft silhouettes that layer shadows are made of.
class ShadowBlur {
public:
    // Replaces `image` (premultiplied ARGB) by its alpha blurred over about `radius` pixels and
    // tinted with `color`.
    static void blurAlpha(QImage& image, double radius, const QColor& color);
    // Fills the blurred shadow of a plain rectangle (in the painter's coordinates) without an
    // offscreen image. Nothing is filled well inside `hidden` (same coordinates), which the caller
    // covers with something opaque: the inside of a photo's shadow is most of its cost.
    static void fillBlurredRect(QPainter& painter, const QRectF& rect, double radius, const QColor& color,
                                const QRectF& hidden = QRectF());
};
