#pragma once

#include "platform/foundation/PropertyList.h"

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <string>

// Differential checking of the readers of XML property lists: the reload's one-pass reader and
// its fast path over a parsed file, the full reader, and PropertyListSerialization (which the library tool
// uses) must give one verdict for every file, with the same values or the same reason. Files come from a
// seeded generator of album data files in many spellings, and from mutations of them; the same seed always
// gives the same file.
class PlistDifferential {
public:
    // An album data file of a few photos and albums, spelt in the ways real files are (comments,
    // CDATA, entities, DOCTYPE, byte-order mark, odd ratings, dates far from now).
    static QByteArray generate(uint64_t seed);
    // `bytes` with a few damaging changes: bytes flipped, cut, repeated, or interesting tokens
    // ("&#0;", "</plist>", "0x1F", ...) put in.
    static QByteArray mutate(const QByteArray& bytes, uint64_t seed);
    // The generated file, mutated for odd seeds.
    static QByteArray caseFor(uint64_t seed);

    // The albums the reload's one-pass reader finds, fed the bytes in small pieces; none when it
    // leaves the file to the reader of whole files.
    static std::optional<PlistArray> readInOnePass(const QByteArray& bytes);

    // Empty when every reader agrees on `bytes`; otherwise what differed, readable.
    static std::string disagreement(const QByteArray& bytes);
};
