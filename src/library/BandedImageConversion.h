#pragma once

#include <QColorSpace>
#include <QImage>

// Converts an image's pixel format or colour space on the calling thread alone, a band of rows at
// a time. Qt splits such a conversion of a large image over its shared thread pool, whose threads
// run at normal priority, so a photo loader kept at idle priority would take processor time from
// the main thread through them; a band here is small enough that Qt does it on the thread that
// asks. The pixels are those Qt's own whole-image conversion gives.
//
// No shared state: callable from any thread.
class BandedImageConversion {
public:
    // `image` in `format` (one without a colour table), its colour space, resolution and text kept.
    // Nothing is done when it already has that format or is null; a null image when the converted
    // pixels cannot be allocated.
    static void convertTo(QImage& image, QImage::Format format);

    // `image`'s pixels taken from its colour space to `colorSpace`, and tagged with it, as
    // QImage::convertToColorSpace does. The image must be in Format_RGB32 or
    // Format_ARGB32_Premultiplied (convertTo() first); nothing is done when either colour space is
    // invalid or they are the same.
    static void convertToColorSpace(QImage& image, const QColorSpace& colorSpace);

    // Gives `to` the colour space, resolution, device pixel ratio and text of `from`: what a copy
    // of an image in other pixels keeps.
    static void copyMetadata(const QImage& from, QImage& to);
};
