#pragma once

#include <QByteArray>

// Marks a JPEG file with an EXIF orientation, as cameras do when the photo was taken turned.
class ExifOrientation {
public:
    // `jpeg` with an EXIF APP1 segment holding only the orientation tag (1 to 8) inserted right
    // after the start-of-image marker. Gives an empty array when `jpeg` is no JPEG (no start
    // marker) or `orientation` is out of range.
    static QByteArray withOrientation(const QByteArray& jpeg, int orientation);
};
