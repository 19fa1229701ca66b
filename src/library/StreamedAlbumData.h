#pragma once

#include "library/UnratedPhotoFilter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/XmlPlistStream.h"

#include <QString>
#include <optional>

// The albums with unrated photos of an XML album data file, read in one pass without holding the
// file or an XML tree (see XmlPlistStream): only the records handed on are built, the rest of the
// file is checked and dropped as it is read.
//
// Gives the same albums as XmlPropertyList::findUnratedAlbums() over the same bytes, or nothing
// when the stream is unsure of the file (a problem, a binary file, an unusual spelling, a file
// that could not be opened or changed while read): the caller then reads the file whole, which
// decides and says what is wrong.
//
// A photo listed by several albums is one record shared by them; listed twice in one album, it
// gets a record of its own for its second place, so the places of one album are distinct objects.
//
// Any thread; nothing shared.
class StreamedAlbumData {
public:
    static std::optional<PlistArray> findUnratedAlbums(const QString& path, const UnratedPhotoFilter& filter);
    static std::optional<PlistArray> findUnratedAlbums(XmlPlistStream& stream,
                                                       const UnratedPhotoFilter& filter);
};
