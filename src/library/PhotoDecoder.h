#pragma once

#include "platform/foundation/Error.h"

#include <QImage>
#include <QSize>
#include <QString>

// Decodes photo files at the size they will be shown at, never larger: the JPEG decoder scales
// while it decodes (its DCT scaling), so a 24-megapixel photo shown at 1920 pixels never exists
// in memory at full size. The file's EXIF orientation is applied, and every size here is in the
// photo's displayed orientation (a portrait photo stored sideways is taller than wide).
//
// A camera RAW file (see RawPreview for the formats) is decoded through its largest embedded
// preview, turned by the RAW file's orientation: its sizes here are the preview's.
//
// Files are hostile input: a missing, truncated or malformed file, or one whose decoded size
// exceeds Qt's allocation limit, gives a null image or an invalid size, never a crash. Only
// regular files are opened (see RegularFile), so a FIFO or a device in a photo's place fails at
// once instead of blocking; `error`, when given, then says why.
//
// No shared state: callable from any thread.
class PhotoDecoder {
public:
    // The image scaled so that its longer side is at most `maxPixelSize` pixels (aspect kept,
    // never enlarged); 0 decodes at full resolution.
    static QImage decode(const QString& path, unsigned maxPixelSize, Error* error = nullptr);

    // The width and height in pixels as displayed, read from the header alone. Invalid when the
    // file holds no readable image.
    static QSize displayedSize(const QString& path, Error* error = nullptr);
};
