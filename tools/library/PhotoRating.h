#pragma once

#include "platform/foundation/Error.h"

#include <QString>
#include <functional>
#include <string>

// The library service's rating change: sets one photo's "Rating" in an album data file.
//
// Under the library's lock, so concurrent ratings and imports lose nothing. The file is read only
// when it is a regular file, must be one the program itself reads (the same reader gives the
// verdict; see ValidationStamp for how a repeat rating avoids the full parse), and is changed by
// editing that rating's bytes alone (AlbumDataRatingEditor; a binary file is encoded whole again,
// see BinaryAlbumDataRating), then replaced atomically, so a crash or a full disk leaves the old
// file whole. Any thread.
class PhotoRating {
public:
    static constexpr int minimumStars = 1;
    static constexpr int maximumStars = 5;

    // Told the photo's file as the library lists it ("ImagePath"; empty when it lists none) under
    // the lock, before the library is written, where the rating goes that must come first. For
    // contents the program's reader is still judging it is told whenever the photo's entry can be
    // found, so a rating the library refuses is not lost; a photo the file does not hold, or
    // contents that cannot be read, tell nothing.
    using BeforeWriting = std::function<bool(const QString& photoPath)>;

    // `key`: the photo's key in "Master Image List". Errors are one sentence naming the file.
    // `beforeWriting`, when given, returns whether the rating now stands where other programs see it
    // (the photo's sidecar): then the photo's "RatingElsewhere" records it in the same write, so
    // that the next import tells a later change made elsewhere from it.
    static bool apply(const QString& albumDataPath, const std::string& key, int stars, Error* error = nullptr,
                      const BeforeWriting& beforeWriting = {});
};
