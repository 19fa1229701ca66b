#pragma once

#include <QColor>
#include <QImage>

class QPainter;
class QRectF;

// The soft silhouettes that layer shadows are made of.
class ShadowBlur {
public:
    // Replaces `image` (premultiplied ARGB) by its alpha blurred over about `radius` pixels and
    // tinted with `color`.
    static void blurAlpha(QImage& image, double radius, const QColor& color);
    // Fills the blurred shadow of a plain rectangle (in the painter's coordinates) without an
    // offscreen image.
    static void fillBlurredRect(QPainter& painter, const QRectF& rect, double radius, const QColor& color);
};
