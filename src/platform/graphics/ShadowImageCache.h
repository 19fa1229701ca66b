#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QSizeF>

// Blurred shadows of plain rectangles, made once and then drawn as images: a frame that shows the
// same photo shadows again blends a few bands of kept pixels instead of filling gradients. All in
// device pixels, so an entry made for one device pixel ratio is never used for another.
//
// Threads: any. The painter asks on the main thread; a loading thread can make a shadow ahead with
// prepare(), so the frame that first shows a photo of a new size finds it made. An image is made
// outside the lock: a frame never waits for a shadow another thread is making.
class ShadowImageCache {
public:
    // The shadow of a `size` rectangle blurred over `radius` in `color`, with `margin()` pixels of
    // fading edge around the rectangle on every side. Premultiplied ARGB. Made on a miss.
    static QImage blurredRect(QSize size, double radius, const QColor& color);
    // The size of the image rectangle the painter asks for when a plain rectangle covers
    // `deviceSize` (device pixels, possibly fractional).
    static QSize pixelSizeOf(QSizeF deviceSize);
    // Makes and keeps, unless kept already, the shadow the painter asks for when a plain rectangle
    // covers `deviceSize` (device pixels): both roundings where the size sits on a half pixel,
    // since the painter's own arithmetic may land on either side. For a loading thread.
    static void prepare(QSizeF deviceSize, double radius, const QColor& color);
    // Whether every shadow prepare() would make for these is kept now.
    static bool isPrepared(QSizeF deviceSize, double radius, const QColor& color);
    // Whether the shadow of `size` is kept now.
    static bool contains(QSize size, double radius, const QColor& color);
    // The edge each side of a blurred rectangle's image has beyond the rectangle.
    static int margin(double radius);
    // Where every pixel of blurredRect(size, radius, …) is the same, in the image's pixels: the
    // middle, beyond the blur's reach of its edges.
    static QRect uniformMiddle(QSize size, double radius);
    // Images made since the process started, and of those on the main thread: tests check that an
    // unchanged frame makes none, and that a frame finds the shadows made ahead.
    static int madeCountForTesting();
    static int madeOnMainThreadCountForTesting();
    static void clearForTesting();
};
