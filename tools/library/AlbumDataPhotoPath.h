#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>
#include <string_view>

// Finds one photo's file in the bytes of an XML album data file: the "ImagePath" string of the
// entry `key` in the root dictionary's "Master Image List", as the program's reader would see it
// (entities and CDATA sections decoded; of duplicate keys the last counts). One forward scan
// from tag to tag, building nothing, so a rating need not parse a large library to learn where
// its photo lies.
//
// Bytes that are not well-formed where the scan passes give nothing rather than a guess; the
// album data write that follows judges the file in full. Any thread.
class AlbumDataPhotoPath {
public:
    static std::optional<QString> find(QByteArrayView xml, std::string_view key);
};
