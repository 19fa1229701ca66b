#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"
#include "tools/library/XmpRating.h"

#include <QString>
#include <functional>
#include <string>

// Keeps the library's ratings and those other photo programs see (XmpRating) in step.
//
// A rating goes to the photo's sidecar (and, when asked, into the photo file) before the album
// data file: a process that dies between the two leaves a rating that other programs see and the
// library does not, which the next import takes from the sidecar (and meanwhile Zuzire offers the
// photo again); the other order would leave a rating in the library that never reaches the
// sidecar, since nothing writes it again.
//
// An import takes a photo's rating elsewhere as XmpRating::reconciled() says, remembering what it
// saw in the photo's entry under "RatingElsewhere".
class RatingElsewhere {
public:
    struct Settings {
        XmpRating::Naming naming = XmpRating::Naming::WholeName;
        bool intoPhoto = false;
    };

    // The settings from the program's settings file: "SidecarNaming" ("whole" for
    // IMG_0001.JPG.xmp, "base" for IMG_0001.xmp) and "RatingInPhoto" (YES or NO). A value that
    // cannot be understood is an error naming the file and the key.
    static bool readSettings(Settings& settings, QString* problem);
    static std::optional<XmpRating::Naming> namingOf(const QString& text);

    // The sidecar of the photo `key` of the album data file at `albumDataPath` with `stars`, made
    // before the caller takes the library's lock, where the photo's file can be guessed: a large
    // sidecar's parse then keeps no other rating or import waiting.
    static std::optional<XmpRating::PreparedSidecar>
    prepare(const QString& albumDataPath, const std::string& key, int stars, const Settings& settings);

    // Writes `stars` where other programs see the rating of the photo whose file is `photoPath`,
    // as its library entry lists it (the caller holds the library's lock); an empty path or a file
    // that is gone has nothing to write beside it. `written`, when given, says whether the rating
    // now stands in the sidecar. `prepared`, from prepare(), is written where it is this photo's.
    static bool write(const QString& photoPath, int stars, const Settings& settings, Error* error = nullptr,
                      bool* written = nullptr,
                      const std::optional<XmpRating::PreparedSidecar>& prepared = {});

    // Applies the rating elsewhere of the photo at `photoPath` to its library `entry`; a sidecar
    // that cannot be read is told to `warn`.
    static void adopt(PlistDictionary& entry, const QString& photoPath, XmpRating::Naming naming,
                      const std::function<void(const QString&)>& warn);
};
