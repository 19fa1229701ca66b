#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>

// Blurred shadows of plain rectangles, made once and then drawn as images: a frame that shows the
// same photo shadows again blends a few bands of kept pixels instead of filling gradients. All in
// device pixels, so an entry made for one device pixel ratio is never used for another. Main
// thread only (the painter's).
class ShadowImageCache {
public:
    // The shadow of a `size` rectangle blurred over `radius` in `color`, with `margin()` pixels of
    // fading edge around the rectangle on every side. Premultiplied ARGB.
    static QImage blurredRect(QSize size, double radius, const QColor& color);
    // The edge each side of a blurred rectangle's image has beyond the rectangle.
    static int margin(double radius);
    // Where every pixel of blurredRect(size, radius, …) is the same, in the image's pixels: the
    // middle, beyond the blur's reach of its edges.
    static QRect uniformMiddle(QSize size, double radius);
    // Images made since the process started: tests check that an unchanged frame makes none.
    static int madeCountForTesting();
    static void clearForTesting();
};
