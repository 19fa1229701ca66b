#pragma once

#include "platform/foundation/Error.h"

#include <QString>
#include <optional>
#include <string>

// The library service's rating change: sets one photo's "Rating" in an album data file.
//
// Under the library's lock, so concurrent ratings and imports lose nothing. The file is read only
// when it is a regular file, must be one the program itself reads (the same reader gives the
// verdict; see ValidationStamp for how a repeat rating avoids the full parse), and is changed by
// editing that rating's bytes alone (AlbumDataRatingEditor), then replaced atomically, so a crash
// or a full disk leaves the old file whole. Any thread.
class PhotoRating {
public:
    static constexpr int minimumStars = 1;
    static constexpr int maximumStars = 5;

    // `key`: the photo's key in "Master Image List". Errors are one sentence naming the file.
    // `ratingElsewhere`, when given, is recorded as the rating other programs now see (the photo's
    // "RatingElsewhere"), in the same write: what the rating just wrote to the sidecar, so that the
    // next import tells a later change made elsewhere from it.
    static bool apply(const QString& albumDataPath, const std::string& key, int stars, Error* error = nullptr,
                      std::optional<int> ratingElsewhere = std::nullopt);
};
