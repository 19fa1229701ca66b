#pragma once

#include "platform/foundation/Error.h"

#include <QString>

// Writes a small set of photo folders to try the program on: landscape, portrait, square and
// panoramic photos, photos stored turned with an EXIF orientation that sets them upright, a
// movie, camera RAW files (an album of their own, see RawLikeFile), and photos meant to be
// deleted or rated after import. Every photo shows its own name
// and an arrow pointing up, so a wrongly turned photo is plain to see.
//
// Needs a QGuiApplication (text is drawn with the system's fonts).
class DemoPhotoGenerator {
public:
    // Names of the files the demo script treats specially after import.
    static constexpr const char* missingPhoto = "Garden/05 Lost photo.jpg";
    static constexpr const char* photosToRate[] = {"Garden/04 Bench.jpg", "Mountains/01 Peak.jpg",
                                                   "Mountains/02 Ridge.jpg"};

    // Creates `folder` with one sub-folder per album. Existing files are replaced.
    static bool generate(const QString& folder, Error* error = nullptr);
};
