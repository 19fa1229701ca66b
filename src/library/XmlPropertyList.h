#pragma once

#include "library/UnratedPhotoFilter.h"
#include "platform/foundation/PropertyList.h"

#include <memory>
#include <optional>
#include <string>

// An XML property list parsed into the XML parser's own compact tree, from which property-list
// values are built on demand. Reading a large album data file this way costs little more than
// the XML parse itself: a reload builds values only for the photos it hands on.
//
// The file is judged whole, by the same rules as every other reader of XML property lists
// (XmlPlistBuilder): a file is accepted or refused alike whether it is built whole (toTree()) or
// only in part (findUnratedAlbums()), and the problem reported is the first one in file order.
//
// One object per read; not shared between threads.
class XmlPropertyList {
public:
    ~XmlPropertyList();
    XmlPropertyList(const XmlPropertyList&) = delete;
    XmlPropertyList& operator=(const XmlPropertyList&) = delete;

    // Parses `size` bytes at `buffer` in place: the buffer is modified and must outlive the
    // result. On failure, the parser's error text goes to `errorText`.
    static std::unique_ptr<XmlPropertyList> parseInPlace(char* buffer, size_t size, std::string* errorText);

    // The whole tree; nullptr with the reason in `errorText` when it is no sound property list.
    PlistPtr toTree(std::string* errorText) const;

    // The album records of the albums with photos `filter` accepts, as a reload hands them on:
    // {"name": album name, "items": [item records]}, each item record a copy of the photo's
    // entry plus "qm_ItemKey". Gives the same records as building the whole tree first; the
    // albums listing a photo share its record, and a second place in one album gets a copy of its
    // own. Fails (with the reason in `errorText`) when the file is no sound property list or its
    // root is no dictionary.
    std::optional<PlistArray> findUnratedAlbums(const UnratedPhotoFilter& filter,
                                                std::string* errorText) const;

private:
    struct Document;
    explicit XmlPropertyList(std::unique_ptr<Document> document);
    std::unique_ptr<Document> m_document;
};
