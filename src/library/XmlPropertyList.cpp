#include "library/XmlPropertyList.h"

#include "library/HandedOutRecord.h"
#include "library/RecordKeyOrder.h"
#include "platform/foundation/XmlPlistBuilder.h"
#include "platform/foundation/XmlPlistScalars.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <deque>
#include <pugixml.hpp>
#include <vector>

struct XmlPropertyList::Document {
    pugi::xml_document xml;
    pugi::xml_node root;
};

namespace {
using Kind = XmlPlistBuilder::Kind;
using Builder = XmlPlistBuilder::Builder;
using Fields = XmlPlistBuilder::Fields;

Kind kindOf(const pugi::xml_node& node)
{
    return XmlPlistBuilder::kindOf(node);
}

std::string_view textOf(const pugi::xml_node& node, std::string& scratch)
{
    return XmlPlistBuilder::textOf(node, scratch);
}

pugi::xml_node nextElement(const pugi::xml_node& node)
{
    return XmlPlistBuilder::nextElement(node);
}

pugi::xml_node firstElement(const pugi::xml_node& node)
{
    return XmlPlistBuilder::firstElement(node);
}

// The value stored under `key` in a <dict> element; the last one when the key repeats.
pugi::xml_node valueForKey(const pugi::xml_node& dict, std::string_view key)
{
    pugi::xml_node found;
    std::string scratch;
    for (pugi::xml_node child = firstElement(dict); child; child = nextElement(child.next_sibling())) {
        const pugi::xml_node element = nextElement(child.next_sibling());
        if (textOf(child, scratch) == key)
            found = element;
        child = element;
    }
    return found;
}

int64_t ratingValue(const pugi::xml_node& rating)
{
    std::string scratch;
    switch (kindOf(rating)) {
    case Kind::Integer:
        return UnratedPhotoFilter::integerText(textOf(rating, scratch));
    case Kind::Real:
        return UnratedPhotoFilter::truncatedReal(
            XmlPlistScalars::parseReal(textOf(rating, scratch)).value_or(0));
    case Kind::True:
        return 1;
    case Kind::String:
        return UnratedPhotoFilter::leadingInteger(textOf(rating, scratch));
    default:
        return 0;
    }
}

// Whether the photo entry read into `fields` is handed on. Elements pair up as they come, whatever they are,
// and the last of a repeated key counts: a malformed entry that is left out anyway is not worth refusing the
// whole file for.
bool isAccepted(const Fields& fields, const UnratedPhotoFilter& filter)
{
    pugi::xml_node mediaType, rating, guid;
    for (const Fields::Field& field : fields.list()) {
        if (!field.value)
            continue;
        if (field.name == "MediaType")
            mediaType = field.value;
        else if (field.name == "Rating")
            rating = field.value;
        else if (field.name == "GUID")
            guid = field.value;
    }
    std::string mediaScratch, guidScratch;
    const auto text = [](const pugi::xml_node& value,
                         std::string& buffer) -> std::optional<std::string_view> {
        if (!value || kindOf(value) != Kind::String)
            return std::nullopt;
        return textOf(value, buffer);
    };
    return filter.accepts(text(mediaType, mediaScratch), ratingValue(rating), text(guid, guidScratch));
}

// A photo entry of the master list, and its record once it is known to be handed on.
struct Photo {
    std::string_view name;
    pugi::xml_node entry;
    bool listed = false;
    HandedOutRecord shared;
};

// An album with the photos its key list names, in that order, as indexes into the photos.
struct ListedAlbum {
    pugi::xml_node node;
    std::vector<size_t> photos;
};

// The photo entries of the master list, found by identifier. Open addressing in one array: a
// table node per photo would cost an allocation and a free for each, and scatter the lookups.
class PhotoIndex {
public:
    explicit PhotoIndex(const pugi::xml_node& master)
    {
        std::string scratch;
        for (pugi::xml_node key = firstElement(master); key; key = nextElement(key.next_sibling())) {
            const pugi::xml_node entry = nextElement(key.next_sibling());
            std::string_view name = textOf(key, scratch);
            // Keys split by CDATA need storage of their own; the rest point into the parsed buffer.
            if (name.data() == scratch.data()) {
                m_joinedKeys.push_back(std::make_unique<std::string>(scratch));
                name = *m_joinedKeys.back();
            }
            m_photos.push_back(Photo{name, entry, false, {}});
            key = entry;
        }
        // At most half full, so probe sequences stay short.
        size_t capacity = 16;
        while (capacity < 2 * m_photos.size())
            capacity *= 2;
        m_slots.assign(capacity, Slot());
        for (size_t photo = 0; photo < m_photos.size(); ++photo)
            insert(photo);
    }

    std::vector<Photo>& photos() { return m_photos; }

    std::optional<size_t> find(std::string_view name) const
    {
        const size_t hash = std::hash<std::string_view>()(name);
        for (size_t at = hash & mask();; at = (at + 1) & mask()) {
            const Slot& slot = m_slots[at];
            if (slot.photoPlusOne == 0)
                return std::nullopt;
            if (slot.hash == hash && m_photos[slot.photoPlusOne - 1].name == name)
                return slot.photoPlusOne - 1;
        }
    }

private:
    struct Slot {
        size_t hash = 0;
        // 0 for an empty slot.
        size_t photoPlusOne = 0;
    };

    size_t mask() const { return m_slots.size() - 1; }

    // A repeated identifier names its last entry.
    void insert(size_t photo)
    {
        const std::string_view name = m_photos[photo].name;
        const size_t hash = std::hash<std::string_view>()(name);
        for (size_t at = hash & mask();; at = (at + 1) & mask()) {
            Slot& slot = m_slots[at];
            if (slot.photoPlusOne == 0 ||
                (slot.hash == hash && m_photos[slot.photoPlusOne - 1].name == name)) {
                slot = {hash, photo + 1};
                return;
            }
        }
    }

    std::vector<std::unique_ptr<std::string>> m_joinedKeys;
    std::vector<Photo> m_photos;
    std::vector<Slot> m_slots;
};

std::vector<ListedAlbum> listAlbums(const pugi::xml_node& albums, PhotoIndex& index)
{
    std::vector<ListedAlbum> listed;
    std::string scratch;
    for (pugi::xml_node album = firstElement(albums); album; album = nextElement(album.next_sibling())) {
        if (kindOf(album) != Kind::Dict)
            continue;
        const pugi::xml_node keyList = valueForKey(album, "KeyList");
        if (kindOf(keyList) != Kind::Array)
            continue;
        ListedAlbum entry{album, {}};
        for (pugi::xml_node key = firstElement(keyList); key; key = nextElement(key.next_sibling())) {
            if (!XmlPlistBuilder::isNamed(key.name(), "string"))
                continue;
            if (const auto found = index.find(textOf(key, scratch))) {
                index.photos()[*found].listed = true;
                entry.photos.push_back(*found);
            }
        }
        listed.push_back(std::move(entry));
    }
    return listed;
}

// Builds the records of the listed photos that `filter` accepts. Only what is handed on is built,
// so only that is checked. In file order: the entries lie in memory as in the file, and reading
// them in the order albums list them would jump about a working set far larger than the caches.
bool buildRecords(std::vector<Photo>& photos, const UnratedPhotoFilter& filter, std::string* errorText)
{
    Builder builder;
    RecordKeyOrder order;
    Fields fields;
    std::vector<PlistDictionary::value_type> record;
    for (Photo& photo : photos) {
        if (!photo.listed || kindOf(photo.entry) != Kind::Dict)
            continue;
        fields.read(photo.entry);
        if (!isAccepted(fields, filter))
            continue;
        // One allocation for the record's scalar values: its fields, "qm_ItemKey", and a few
        // inside its containers (a photo's keywords).
        constexpr size_t nestedValues = 4;
        builder.startBatch(fields.list().size() + 1 + nestedValues);
        // An entry lies at least three levels deep: root, master list, entry.
        record.clear();
        if (!builder.entries(photo.entry, fields, 3, record)) {
            if (errorText)
                *errorText = builder.error;
            return false;
        }
        // Last, so it replaces a key of the same name in the entry.
        record.emplace_back("qm_ItemKey", builder.string(std::string(photo.name)));
        photo.shared.record = PlistValue::dictionary(order.arrange(record));
    }
    return true;
}

} // namespace

XmlPropertyList::XmlPropertyList(std::unique_ptr<Document> document)
    : m_document(std::move(document))
{}

XmlPropertyList::~XmlPropertyList() = default;

std::unique_ptr<XmlPropertyList> XmlPropertyList::parseInPlace(char* buffer, size_t size,
                                                               std::string* errorText)
{
    auto document = std::make_unique<Document>();
    document->root = XmlPlistBuilder::parseInPlace(document->xml, buffer, size, errorText);
    if (!document->root)
        return nullptr;
    return std::unique_ptr<XmlPropertyList>(new XmlPropertyList(std::move(document)));
}

PlistPtr XmlPropertyList::toTree(std::string* errorText) const
{
    Builder builder;
    PlistPtr tree = builder.value(m_document->root, 1);
    if (!tree && errorText)
        *errorText = builder.error;
    return tree;
}

std::optional<PlistArray> XmlPropertyList::findUnratedAlbums(const UnratedPhotoFilter& filter,
                                                             std::string* errorText) const
{
    // The whole file is judged as every other reader judges it, though only a part is built: a
    // file this reload accepts must be one the library service can rate in, and the reverse. The
    // photo entries built were checked while they were built, so the check passes over them.
    const auto isSound = [&](const XmlPlistBuilder::NodeSet* alreadyChecked) {
        std::string problem = XmlPlistBuilder::check(m_document->root, alreadyChecked);
        if (problem.empty())
            return true;
        if (errorText)
            *errorText = std::move(problem);
        return false;
    };
    const pugi::xml_node root = m_document->root;
    if (kindOf(root) != Kind::Dict) {
        if (isSound(nullptr) && errorText)
            *errorText = "The album data holds no dictionary at its root.";
        return std::nullopt;
    }
    const pugi::xml_node master = valueForKey(root, "Master Image List");
    const pugi::xml_node albums = valueForKey(root, "List of Albums");
    if (kindOf(master) != Kind::Dict || kindOf(albums) != Kind::Array) {
        if (!isSound(nullptr))
            return std::nullopt;
        return PlistArray();
    }

    PhotoIndex index(master);
    const std::vector<ListedAlbum> listed = listAlbums(albums, index);
    std::string buildProblem;
    if (!buildRecords(index.photos(), filter, &buildProblem)) {
        // The problem reported is the first in the file, which may lie before this entry.
        if (isSound(nullptr) && errorText)
            *errorText = std::move(buildProblem);
        return std::nullopt;
    }
    XmlPlistBuilder::NodeSet built;
    built.reserve(index.photos().size());
    for (const Photo& photo : index.photos()) {
        if (photo.shared.record)
            built.insert(photo.entry.internal_object());
    }
    if (!isSound(&built))
        return std::nullopt;

    Builder builder;
    PlistArray result;
    for (size_t at = 0; at < listed.size(); ++at) {
        const ListedAlbum& album = listed[at];
        PlistArray items;
        for (const size_t photo : album.photos) {
            if (PlistPtr record = index.photos()[photo].shared.forAlbum(at + 1))
                items.push_back(std::move(record));
        }
        if (items.empty())
            continue;
        const pugi::xml_node name = valueForKey(album.node, "AlbumName");
        result.push_back(HandedOutRecord::albumRecord(kindOf(name) == Kind::String ? builder.text(name) : "",
                                                      std::move(items)));
    }
    return result;
}
