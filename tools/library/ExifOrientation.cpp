#include "tools/library/ExifOrientation.h"

QByteArray ExifOrientation::withOrientation(const QByteArray& jpeg, int orientation)
{
    if (jpeg.size() < 2 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8 || orientation < 1 ||
        orientation > 8)
        return {};
    // Big-endian TIFF with a single IFD of one entry: tag 0x0112 (orientation), type SHORT,
    // count 1, the value padded to four bytes, then no next IFD.
    const char segment[] = {
        '\xFF', '\xE1', 0,   34,                                          // APP1, length of what follows
        'E',    'x',    'i', 'f', 0, 0,                                   // EXIF identifier
        'M',    'M',    0,   42,  0, 0, 0, 8,                             // TIFF header, IFD at offset 8
        0,      1,                                                        // one entry
        0x01,   0x12,   0,   3,   0, 0, 0, 1, 0, char(orientation), 0, 0, // orientation, SHORT, 1 value
        0,      0,      0,   0,                                           // no further IFD
    };
    QByteArray result;
    result.reserve(jpeg.size() + qsizetype(sizeof segment));
    result.append(jpeg.constData(), 2);
    result.append(segment, qsizetype(sizeof segment));
    result.append(jpeg.constData() + 2, jpeg.size() - 2);
    return result;
}
