#pragma once

#include "tools/library/AlbumDataRatingEditor.h"

#include <QByteArrayView>
#include <optional>
#include <string_view>
#include <vector>

// Judges XML album data contents and finds one photo's entries in the same single pass, building
// nothing: the streaming reader (XmlPlistStream) checks every element by the rules of the one
// reader while this walks the root dictionary's "Master Image List". A rating of contents no
// rating has checked yet thus reads them once instead of parsing them and checking them again.
//
// It gives no verdict of its own: contents the streaming reader cannot vouch for (a problem, or
// any spelling it leaves to the one reader, a binary list, a root that is no dictionary) give
// nothing, and the caller asks the one reader, which decides and words the problem. Whatever it
// finds, the one reader accepts.
//
// Any thread: it works only on its arguments.
class AlbumDataPhotoSearch {
public:
    struct Found {
        // Offsets (in bytes) from which the next element is a key of the photo in a "Master Image
        // List", in file order: one, unless the file lists the photo twice. None: no such photo.
        std::vector<qsizetype> entries;
        // The photo list's layout, when the contents have one the rating editor can search in
        // later (see AlbumDataRatingEditor::Layout).
        std::optional<AlbumDataRatingEditor::Layout> layout;
        // How many "Master Image List" keys the root dictionary holds.
        int lists = 0;
    };

    // Contents of at least this many bytes are walked in two halves at once, when a second thread
    // is to be had: below it, starting one costs more than it saves.
    static constexpr qsizetype twoWalksFromBytes = qsizetype(1) << 20;

    // `key`: the photo's key in "Master Image List" (its decimal identifier). The verdict and what
    // is found are the same whether the contents are walked in one pass or in two at once.
    static std::optional<Found> search(QByteArrayView xml, std::string_view key,
                                       qsizetype twoWalksFrom = twoWalksFromBytes);
};
