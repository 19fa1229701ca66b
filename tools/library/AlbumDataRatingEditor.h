#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    // Where the photos' entries lie in contents a full walk has seen, so that a later rating of
    // the same contents (ValidationStamp vouches for that) finds its photo with one search: the
    // bytes [photosBegin, photosEnd) are the inside of the one "Master Image List" dictionary,
    // which holds plain tags alone (no attributes, comments, CDATA sections or processing
    // instructions), every photo's key written as "<key>ID</key>" without references and no two
    // alike, and no other key in it that starts with a digit. Offsets in bytes.
    struct Layout {
        qsizetype photosBegin = 0;
        qsizetype photosEnd = 0; // where its "</dict>" starts

        QByteArray toNote() const;
        static std::optional<Layout> fromNote(QByteArrayView note);
    };

    // The key of the rating other programs were last seen to give a photo (see RatingElsewhere).
    static constexpr const char* ratingElsewhereKey = "RatingElsewhere";

    enum class Outcome { Changed, NoSuchPhoto, Unsupported };
    struct Result {
        Outcome outcome = Outcome::Unsupported;
        QByteArray bytes;    // the whole new file, when Changed
        std::string problem; // why, when Unsupported
        // When Changed: the layout of the new bytes, when they have one, and the part of them that
        // differs from the old (offsets in the new bytes; what follows moved by the change of size).
        std::optional<Layout> layout;
        qsizetype changedFrom = 0;
        qsizetype changedTo = 0;
        // When Changed: how many entries of the photo were changed (more than one only in a file
        // that lists the photo twice), and the text of the last "ImagePath" string of the last.
        int entries = 0;
        std::optional<std::string> imagePath;
    };

    // `key` is the photo's key in "Master Image List" (its decimal identifier). `xml` is taken by
    // value so that a caller that moves its bytes in has them changed in place where the new
    // rating is as long as the old. `layout`, when given, must be the one learned from exactly
    // these bytes; without it, the whole file is walked.
    //
    // `ratingElsewhere`, when given, is also set as the photo's ratingElsewhereKey, in the same way
    // as its "Rating".
    static Result withRating(QByteArray xml, std::string_view key, int stars,
                             const std::optional<Layout>& layout = std::nullopt,
                             std::optional<int> ratingElsewhere = std::nullopt);
    // As withRating(), where a check of exactly these bytes has found the photo's keys
    // (AlbumDataPhotoSearch): from each offset in `entries` the next element is one of them, and
    // `layout` is the one that check learned, if any. No offsets: no such photo.
    static Result withRatingAt(QByteArray xml, std::string_view key, int stars,
                               const std::vector<qsizetype>& entries, const std::optional<Layout>& layout,
                               std::optional<int> ratingElsewhere = std::nullopt);

    // The change as one piece: the new contents are the old bytes up to `from`, then `with`, then
    // the old bytes from `to` on (offsets in the old bytes).
    struct Splice {
        qsizetype from = 0;
        qsizetype to = 0;
        QByteArray with;
    };
    // As withRatingAt() without a layout, describing the change in `splice` instead of making the
    // new contents (the result's bytes stay empty): `xml` is only read, so other threads may read it
    // meanwhile, and a file of a hundred megabytes is not copied to change a few bytes of it.
    static Result splicedAt(const QByteArray& xml, std::string_view key, int stars,
                            const std::vector<qsizetype>& entries, Splice& splice,
                            std::optional<int> ratingElsewhere = std::nullopt);

    // As withRating() given the layout of these bytes, describing the change in `splice` as
    // splicedAt() does.
    static Result splicedIn(const QByteArray& xml, std::string_view key, int stars, const Layout& layout,
                            Splice& splice, std::optional<int> ratingElsewhere = std::nullopt);

    // Where the photo's entries are and what they list, found as withRatingAt() (given `entries`)
    // or withRating() (given `layout`, or walking the whole file) would find them, without changing
    // `xml`: the result tells `entries` and `imagePath`, its bytes stay empty.
    static Result located(const QByteArray& xml, std::string_view key, const std::vector<qsizetype>* entries,
                          const std::optional<Layout>& layout);

private:
    static Result rated(QByteArray xml, std::string_view key, int stars, const std::optional<Layout>& layout,
                        const std::vector<qsizetype>* entries, Splice* splice,
                        std::optional<int> ratingElsewhere);
};
