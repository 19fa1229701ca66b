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
// The XML itself is checked whole by the parser. Whether it is a sound property list (known
// elements, keys paired with values, values that read as their type, bounded nesting) is checked
// for what is built: toTree() checks everything, findUnratedAlbums() the entries it hands on and
// skips whatever else does not fit, as it skips missing keys. Both are checked while they are
// built, and the problem reported is the first one in file order.
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

    // The whole tree; nullptr with the reason in `errorText` when it is no sound property list.
    PlistPtr toTree(std::string* errorText) const;

    // The album records of the albums with photos `filter` accepts, as a reload hands them on:
    // {"name": album name, "items": [item records]}, each item record a copy of the photo's
    // entry plus "qm_ItemKey". Gives the same records as building the whole tree first (a photo
    // listed in several places gets a record of its own in each); fails (with the reason in
    // `errorText`) when an entry to be handed on is malformed.
    std::optional<PlistArray> findUnratedAlbums(const UnratedPhotoFilter& filter,
                                                std::string* errorText) const;

private:
    struct Document;
    explicit XmlPropertyList(std::unique_ptr<Document> document);
    std::unique_ptr<Document> m_document;
};
