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
// The document is checked as a whole when parsed (elements, key and value pairs, values that
// read as their type, nesting), so a malformed file fails the same way whichever part of it is
// later built.
//
// One object per read; not shared between threads.
class XmlPropertyList {
public:
    // Containers nested deeper than this are refused (the root is level 1), as in binary lists.
    static constexpr int maximumDepth = 512;

    ~XmlPropertyList();
    XmlPropertyList(const XmlPropertyList&) = delete;
    XmlPropertyList& operator=(const XmlPropertyList&) = delete;

    // Parses `size` bytes at `buffer` in place: the buffer is modified and must outlive the
    // result. On failure, the parser's error text goes to `errorText`.
    static std::unique_ptr<XmlPropertyList> parseInPlace(char* buffer, size_t size, std::string* errorText);

    // The whole tree.
    PlistPtr toTree() const;

    // The album records of the albums with photos `filter` accepts, as a reload hands them on:
    // {"name": album name, "items": [item records]}, each item record a copy of the photo's
    // entry plus "qm_ItemKey". Gives the same records as building the whole tree first.
    PlistArray findUnratedAlbums(const UnratedPhotoFilter& filter) const;

private:
    struct Document;
    explicit XmlPropertyList(std::unique_ptr<Document> document);
    std::unique_ptr<Document> m_document;
};
