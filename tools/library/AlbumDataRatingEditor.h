#pragma once

#include <QByteArray>
#include <string>
#include <string_view>

// Sets one photo's "Rating" in the bytes of an XML album data file and leaves every other byte as
// it was: dates the property-list writers cannot represent, key order, entities, comments, a second
// top-level value and the file's own indentation all survive. Nothing is parsed into a tree.
//
// The bytes must already be known to be a sound property list (the caller checks them with the
// program's own reader); the editor walks the element structure only as far as it needs and
// refuses, rather than guesses, wherever the structure is not what it can edit safely (another
// encoding than an ASCII-compatible one, an entity it does not know). Every "Rating" of the photo
// is replaced (duplicates included, so every reader sees the new value); a photo without one gets
// it appended to its entry in the indentation its neighbours use.
//
// Any thread: it works only on its arguments.
class AlbumDataRatingEditor {
public:
    enum class Outcome { Changed, NoSuchPhoto, Unsupported };
    struct Result {
        Outcome outcome = Outcome::Unsupported;
        QByteArray bytes;    // the whole new file, when Changed
        std::string problem; // why, when Unsupported
    };

    // `key` is the photo's key in "Master Image List" (its decimal identifier). `xml` is taken by
    // value so that a caller that moves its bytes in has them changed in place where the new
    // rating is as long as the old.
    static Result withRating(QByteArray xml, std::string_view key, int stars);
};
