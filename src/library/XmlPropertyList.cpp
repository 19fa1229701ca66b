#include "library/XmlPropertyList.h"

#include "library/RecordKeyOrder.h"
#include "library/XmlPlistScalars.h"
#include "platform/foundation/PlistValueBatch.h"

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
// Keeps a whitespace-only <string> as it is written; whitespace between elements is skipped.
// The text of an element is kept in the element itself rather than in a child node of its own:
// that halves the nodes of an album data file, which makes both the parse and every later walk
// over the entries faster. Text after a CDATA section still comes as child nodes.
constexpr unsigned parseOptions =
    pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_embed_pcdata;

enum class Kind { Dict, Array, String, Key, Integer, Real, True, False, Date, Data, Unknown };

// Whether the C string `name` is `expected`. Compared here rather than by strcmp: element names
// are compared hundreds of thousands of times a reload, and this stops at the first difference
// without reading past the end of a shorter name.
template <size_t Size> bool isNamed(const char* name, const char (&expected)[Size])
{
    for (size_t index = 0; index < Size; ++index) {
        if (name[index] != expected[index])
            return false;
    }
    return true;
}

Kind kindOf(const pugi::xml_node& node)
{
    const char* name = node.name();
    switch (name[0]) {
    case 'd':
        return isNamed(name, "dict")   ? Kind::Dict
               : isNamed(name, "date") ? Kind::Date
               : isNamed(name, "data") ? Kind::Data
                                       : Kind::Unknown;
    case 'a':
        return isNamed(name, "array") ? Kind::Array : Kind::Unknown;
    case 's':
        return isNamed(name, "string") ? Kind::String : Kind::Unknown;
    case 'k':
        return isNamed(name, "key") ? Kind::Key : Kind::Unknown;
    case 'i':
        return isNamed(name, "integer") ? Kind::Integer : Kind::Unknown;
    case 'r':
        return isNamed(name, "real") ? Kind::Real : Kind::Unknown;
    case 't':
        return isNamed(name, "true") ? Kind::True : Kind::Unknown;
    case 'f':
        return isNamed(name, "false") ? Kind::False : Kind::Unknown;
    default:
        return Kind::Unknown;
    }
}

bool isText(const pugi::xml_node& node)
{
    const pugi::xml_node_type type = node.type();
    return type == pugi::node_pcdata || type == pugi::node_cdata;
}

// The element's text. Usually one piece, kept in the element and in the parsed buffer; text
// split by CDATA sections continues in child nodes and is joined in `scratch`.
std::string_view textOf(const pugi::xml_node& node, std::string& scratch)
{
    const char* embedded = node.value();
    pugi::xml_node piece = node.first_child();
    if (!piece)
        return embedded;
    scratch.assign(embedded);
    for (; piece; piece = piece.next_sibling())
        scratch += piece.value();
    return scratch;
}

std::string describe(const pugi::xml_node& node, const char* problem)
{
    return std::string(problem) + " (element <" + node.name() + "> at offset " +
           std::to_string(node.offset_debug()) + ")";
}

pugi::xml_node nextElement(pugi::xml_node node)
{
    while (node && node.type() != pugi::node_element)
        node = node.next_sibling();
    return node;
}

pugi::xml_node firstElement(const pugi::xml_node& node)
{
    return nextElement(node.first_child());
}

// The elements of a <dict> taken pairwise in file order, whatever they are, with the text of
// each first element read once: deciding about a photo and building its record both need it.
class Fields {
public:
    struct Field {
        pugi::xml_node key;
        // Null when the dictionary ends after `key`.
        pugi::xml_node value;
        std::string_view name;
        // Whether `key` holds one piece of text at most, so `name` needs no further check.
        bool isSimple;
    };

    void read(const pugi::xml_node& dict)
    {
        m_fields.clear();
        m_joinedNames.clear();
        for (pugi::xml_node key = firstElement(dict); key;) {
            const pugi::xml_node value = nextElement(key.next_sibling());
            m_fields.push_back(field(key, value));
            key = value ? nextElement(value.next_sibling()) : pugi::xml_node();
        }
    }

    const std::vector<Field>& list() const { return m_fields; }

private:
    Field field(const pugi::xml_node& key, const pugi::xml_node& value)
    {
        if (!key.first_child())
            return {key, value, key.value(), true};
        std::string scratch;
        m_joinedNames.push_back(std::string(textOf(key, scratch)));
        return {key, value, m_joinedNames.back(), false};
    }

    std::vector<Field> m_fields;
    // Names split by CDATA sections, joined; a deque, so the names stay where they are.
    std::deque<std::string> m_joinedNames;
};

// Builds values and checks, in the same walk, that they are a sound property list: known
// elements, keys paired with values, values that read as their type, bounded nesting. Stops at
// the first problem in file order, so the problem reported is the same whichever part of the
// file is built.
class Builder {
public:
    std::string error;

    // nullptr when `node` (at nesting level `depth`, the root being 1) is unsound.
    PlistPtr value(const pugi::xml_node& node, int depth) { return value(node, kindOf(node), depth); }

    PlistPtr value(const pugi::xml_node& node, Kind kind, int depth)
    {
        switch (kind) {
        case Kind::Dict: {
            if (!nestingAllowed(node, depth))
                return nullptr;
            Fields fields;
            fields.read(node);
            std::vector<PlistDictionary::value_type> built;
            if (!entries(node, fields, depth, built))
                return nullptr;
            return PlistValue::dictionary(PlistDictionary::fromEntries(std::move(built)));
        }
        case Kind::Array:
            return nestingAllowed(node, depth) ? array(node, depth) : nullptr;
        case Kind::String:
        case Kind::Key:
            if (const auto text = plainText(node))
                return scalar(&PlistValueBatch::string, &PlistValue::string, std::string(*text));
            return nullptr;
        case Kind::Integer:
            return number(node, XmlPlistScalars::parseInteger, &PlistValueBatch::integer,
                          &PlistValue::integer, "Malformed integer");
        case Kind::Real:
            return number(node, XmlPlistScalars::parseReal, &PlistValueBatch::real, &PlistValue::real,
                          "Malformed real");
        case Kind::Date:
            return number(node, XmlPlistScalars::parseDate, &PlistValueBatch::date,
                          static_cast<PlistPtr (*)(double)>(&PlistValue::date), "Malformed date");
        case Kind::Data:
            return data(node);
        case Kind::True:
        case Kind::False:
            if (!expect(node, !node.first_child() && !*node.value(), "Unexpected content"))
                return nullptr;
            return scalar(&PlistValueBatch::boolean, &PlistValue::boolean, kind == Kind::True);
        case Kind::Unknown:
            break;
        }
        expect(node, false, "Unknown element");
        return nullptr;
    }

    // Appends the entries of the <dict> `node`, read into `fields`, in file order; false when one
    // of them is unsound.
    bool entries(const pugi::xml_node& node, const Fields& fields, int depth,
                 std::vector<PlistDictionary::value_type>& entries)
    {
        entries.reserve(entries.size() + fields.list().size() + 1);
        for (const Fields::Field& field : fields.list()) {
            if (!expect(field.key, isNamed(field.key.name(), "key"), "Value without key"))
                return false;
            if (!field.isSimple && !plainText(field.key))
                return false;
            if (!field.value)
                return expect(node, false, "Key without value");
            const Kind kind = kindOf(field.value);
            if (!expect(field.value, kind != Kind::Key, "Key without value"))
                return false;
            PlistPtr built = value(field.value, kind, depth + 1);
            if (!built)
                return false;
            entries.emplace_back(std::string(field.name), std::move(built));
        }
        return true;
    }

    std::string text(const pugi::xml_node& node) { return std::string(textOf(node, m_scratch)); }
    PlistPtr string(std::string text)
    {
        return scalar(&PlistValueBatch::string, &PlistValue::string, std::move(text));
    }

    // From now on, scalar values share allocations of `capacity` values (see PlistValueBatch).
    void startBatch(size_t capacity) { m_batch.emplace(capacity); }

private:
    bool expect(const pugi::xml_node& node, bool condition, const char* problem)
    {
        if (!condition && error.empty())
            error = describe(node, problem);
        return condition;
    }

    bool nestingAllowed(const pugi::xml_node& node, int depth)
    {
        return expect(node, depth <= XmlPropertyList::maximumDepth, "Nested too deeply");
    }

    bool isPlainText(const pugi::xml_node& node)
    {
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (!isText(child))
                return expect(child, false, "Unexpected element inside a value");
        }
        return true;
    }

    // The text of a value or key; none, and the problem noted, when an element sits inside.
    std::optional<std::string_view> plainText(const pugi::xml_node& node)
    {
        // Nearly always a single piece, kept in the element itself.
        if (!node.first_child())
            return std::string_view(node.value());
        if (!isPlainText(node))
            return std::nullopt;
        return textOf(node, m_scratch);
    }

    template <typename T>
    PlistPtr scalar(PlistPtr (PlistValueBatch::*batched)(T), PlistPtr (*plain)(T), T value)
    {
        return m_batch ? ((*m_batch).*batched)(std::move(value)) : plain(std::move(value));
    }

    template <typename Parse, typename T>
    PlistPtr number(const pugi::xml_node& node, Parse parse, PlistPtr (PlistValueBatch::*batched)(T),
                    PlistPtr (*plain)(T), const char* problem)
    {
        const auto text = plainText(node);
        if (!text)
            return nullptr;
        const auto parsed = parse(*text);
        return expect(node, parsed.has_value(), problem) ? scalar(batched, plain, T(*parsed)) : nullptr;
    }

    PlistPtr data(const pugi::xml_node& node)
    {
        const auto text = plainText(node);
        if (!text || !expect(node, XmlPlistScalars::isBase64(*text), "Malformed data"))
            return nullptr;
        return scalar(&PlistValueBatch::data, &PlistValue::data,
                      QByteArray::fromBase64(QByteArray(text->data(), qsizetype(text->size()))));
    }

    PlistPtr array(const pugi::xml_node& node, int depth)
    {
        PlistArray items;
        for (pugi::xml_node child = firstElement(node); child; child = nextElement(child.next_sibling())) {
            if (!expect(child, kindOf(child) != Kind::Key, "Key outside a dictionary"))
                return nullptr;
            PlistPtr built = value(child, depth + 1);
            if (!built)
                return nullptr;
            items.push_back(std::move(built));
        }
        return PlistValue::array(std::move(items));
    }

    std::string m_scratch;
    std::optional<PlistValueBatch> m_batch;
};

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
        return XmlPlistScalars::parseInteger(textOf(rating, scratch)).value_or(0);
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
    PlistPtr record;
    // The first album to list the photo takes `record`; any later place gets a copy of its own,
    // so that no two places in the result are the same object.
    bool handedOut = false;
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
            m_photos.push_back(Photo{name, entry, false, nullptr, false});
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
            if (!isNamed(key.name(), "string"))
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
        photo.record = PlistValue::dictionary(order.arrange(record));
    }
    return true;
}

PlistPtr handOut(Photo& photo)
{
    if (!photo.record || !photo.handedOut) {
        photo.handedOut = true;
        return photo.record;
    }
    return PlistValue::dictionary(*photo.record->asDictionary());
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
    const auto fail = [&](std::string text) -> std::unique_ptr<XmlPropertyList> {
        if (errorText)
            *errorText = std::move(text);
        return nullptr;
    };
    if (size == 0)
        return fail("The property list is empty.");
    const pugi::xml_parse_result result =
        document->xml.load_buffer_inplace(buffer, size, parseOptions, pugi::encoding_auto);
    if (!result)
        return fail(std::string("XML parse error at offset ") + std::to_string(result.offset) + ": " +
                    result.description());
    const pugi::xml_node plist = document->xml.document_element();
    if (std::strcmp(plist.name(), "plist") != 0)
        return fail("The document is no property list: its root element is not <plist>.");
    document->root = firstElement(plist);
    if (!document->root)
        return fail("The property list is empty.");
    if (nextElement(document->root.next_sibling()))
        return fail(
            describe(nextElement(document->root.next_sibling()), "More than one value at the top level"));
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
    const pugi::xml_node root = m_document->root;
    if (kindOf(root) != Kind::Dict) {
        if (errorText)
            *errorText = "The album data holds no dictionary at its root.";
        return std::nullopt;
    }
    const pugi::xml_node master = valueForKey(root, "Master Image List");
    const pugi::xml_node albums = valueForKey(root, "List of Albums");
    if (kindOf(master) != Kind::Dict || kindOf(albums) != Kind::Array)
        return PlistArray();

    PhotoIndex index(master);
    const std::vector<ListedAlbum> listed = listAlbums(albums, index);
    if (!buildRecords(index.photos(), filter, errorText))
        return std::nullopt;

    Builder builder;
    PlistArray result;
    for (const ListedAlbum& album : listed) {
        PlistArray items;
        for (const size_t photo : album.photos) {
            if (PlistPtr record = handOut(index.photos()[photo]))
                items.push_back(std::move(record));
        }
        if (items.empty())
            continue;
        const pugi::xml_node name = valueForKey(album.node, "AlbumName");
        PlistDictionary record;
        record.emplace("name", PlistValue::string(kindOf(name) == Kind::String ? builder.text(name) : ""));
        record.emplace("items", PlistValue::array(std::move(items)));
        result.push_back(PlistValue::dictionary(std::move(record)));
    }
    return result;
}
