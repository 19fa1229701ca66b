#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>

// Decodes JPEG data held in memory at the size it will be shown at, with libjpeg-turbo directly:
// its DCT scaling at the smallest of its scales whose result is at least that size, then an
// area-averaging resize to the exact size at the calling thread's priority (AreaAveragingScaler), straight
// into the image's pixel format. Used for JPEG files and for the previews of RAW files, which are
// JPEGs already read into memory; the decode costs what decoding the same JPEG file with the
// library itself costs, and nothing more.
//
// The data is hostile input: damaged data gives a null image (or the part decoded, as the library
// recovers it), never a crash; an image whose decoded pixels would exceed Qt's image allocation
// limit (QImageReader::allocationLimit()) is refused before any memory is taken for it. decode()
// leaves the pixels as stored; decodeTurned() turns them upright as an EXIF orientation says.
//
// No shared state: callable from any thread.
class ScaledJpegDecoder {
public:
    // The stored size scaled so its longer side is at most `maxPixelSize` pixels (aspect kept, never
    // enlarged; 0 keeps it): the size every photo decoder here decodes to.
    static QSize scaledSize(const QSize& stored, unsigned maxPixelSize);

    // The JPEG scaled to scaledSize(its size, maxPixelSize), in pixels as stored; null when the
    // data is no JPEG the library decodes or the image would be too large.
    static QImage decode(QByteArrayView jpeg, unsigned maxPixelSize);

    // decode() turned upright as the EXIF `orientation` (1-8; others count as 1) says: the same
    // pixels as turned(decode(jpeg, maxPixelSize), orientation). Where no smooth resize follows the
    // DCT scaling (a preview no larger than the screen, or one an exact eighth-step larger), the
    // rows are written turned as they are decoded, sparing a second pass over the whole image; its
    // size is then that of the photo as displayed (width and height swapped by a quarter turn).
    static QImage decodeTurned(QByteArrayView jpeg, unsigned maxPixelSize, int orientation);

    // The stored pixels turned upright as the EXIF orientation says, the way the image reader
    // turns a JPEG: mirrored or flipped first, then a quarter turn clockwise.
    static QImage turned(QImage image, int orientation);

    // What a JPEG's header says about showing it, from the segments before its scan: the EXIF
    // orientation (1, upright, when it has none or an invalid one) and the ICC colour profile
    // (empty when it has none or an incomplete one).
    struct Header {
        int orientation = 1;
        QByteArray iccProfile;
    };
    static Header headerOf(QByteArrayView jpeg);
};
