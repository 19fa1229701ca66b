#pragma once

#include "platform/foundation/PropertyList.h"

#include <cstddef>
#include <string>

// A photo's record as a reload hands it to the albums listing the photo: albums share the one
// record, and a second place in the same album gets a copy of its own, so the places of one album
// are distinct objects (a rating pass tells them apart by identity).
class HandedOutRecord {
public:
    // Nothing until the photo is known to be handed on.
    PlistPtr record;

    // The record for the next place in album `album` (counted from 1, albums asked in order);
    // nullptr when there is no record.
    PlistPtr forAlbum(size_t album);

    // An album as a reload hands it on: {"name": name, "items": items}.
    static PlistPtr albumRecord(std::string name, PlistArray items);

private:
    // The album that last took `record`.
    size_t m_album = 0;
};
