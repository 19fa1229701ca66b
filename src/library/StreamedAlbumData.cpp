#include "library/StreamedAlbumData.h"

#include "library/HandedOutRecord.h"
#include "library/RecordKeyOrder.h"
#include "platform/foundation/PlistValueBatch.h"
#include "platform/foundation/RegularFileStream.h"

#include <QByteArray>
#include <algorithm>
#include <string>
#include <vector>

namespace {
using Item = XmlPlistStream::Item;
using Kind = XmlPlistStream::Kind;
using Unsure = XmlPlistStream::Unsure;

// Photo identifiers to photo numbers: open addressing in one array, the names side by side in one
// string. A table node and a string per photo would scatter a hundred thousand lookups over memory.
class PhotoNames {
public:
    std::optional<uint32_t> find(std::string_view name) const
    {
        if (m_slots.empty())
            return std::nullopt;
        const size_t hash = std::hash<std::string_view>()(name);
        for (size_t at = hash & mask();; at = (at + 1) & mask()) {
            const Slot& slot = m_slots[at];
            if (slot.photoPlusOne == 0)
                return std::nullopt;
            if (slot.hash == hash && nameOf(slot.photoPlusOne - 1) == name)
                return slot.photoPlusOne - 1;
        }
    }

    // The number of `name`, given the next number when it is new.
    uint32_t insert(std::string_view name)
    {
        if (2 * (m_names.size() + 1) > m_slots.size())
            grow();
        const size_t hash = std::hash<std::string_view>()(name);
        for (size_t at = hash & mask();; at = (at + 1) & mask()) {
            Slot& slot = m_slots[at];
            if (slot.photoPlusOne == 0) {
                m_names.push_back({m_text.size(), name.size()});
                m_text.append(name);
                slot = {hash, uint32_t(m_names.size())};
                return slot.photoPlusOne - 1;
            }
            if (slot.hash == hash && nameOf(slot.photoPlusOne - 1) == name)
                return slot.photoPlusOne - 1;
        }
    }

    size_t size() const { return m_names.size(); }

private:
    struct Slot {
        size_t hash = 0;
        // 0 for an empty slot.
        uint32_t photoPlusOne = 0;
    };

    size_t mask() const { return m_slots.size() - 1; }
    std::string_view nameOf(uint32_t photo) const
    {
        return std::string_view(m_text).substr(m_names[photo].first, m_names[photo].second);
    }

    // Kept at most half full, so probe sequences stay short.
    void grow()
    {
        std::vector<Slot> table(std::max<size_t>(64, 2 * m_slots.size()));
        const size_t mask = table.size() - 1;
        for (const Slot& slot : m_slots) {
            if (slot.photoPlusOne == 0)
                continue;
            size_t at = slot.hash & mask;
            while (table[at].photoPlusOne != 0)
                at = (at + 1) & mask;
            table[at] = slot;
        }
        m_slots = std::move(table);
    }

    std::vector<Slot> m_slots;
    std::vector<std::pair<size_t, size_t>> m_names;
    std::string m_text;
};

class Walk {
public:
    Walk(XmlPlistStream& stream, const UnratedPhotoFilter& filter)
        : m_stream(stream)
        , m_filter(filter)
    {}

    PlistArray run()
    {
        const Item root = m_stream.begin();
        // Any other root is left to the reader of the whole file, which says what is wrong.
        if (root.kind != Kind::Dict)
            throw Unsure();
        bool albumsFit = false, masterFits = false;
        Item key;
        while (root.isOpen() && m_stream.nextKey(key)) {
            const std::string_view name = m_stream.text(key);
            const bool isAlbums = name == "List of Albums", isMaster = name == "Master Image List";
            const Item value = m_stream.nextValue();
            // The last of a repeated key would count; rare enough to leave to the whole-file reader.
            if ((isAlbums && m_sawAlbums) || (isMaster && m_sawMaster))
                throw Unsure();
            m_sawAlbums = m_sawAlbums || isAlbums;
            m_sawMaster = m_sawMaster || isMaster;
            if (isAlbums && value.kind == Kind::Array) {
                albumsFit = true;
                readAlbums(value);
            } else if (isMaster && value.kind == Kind::Dict) {
                masterFits = true;
                readMaster(value);
            } else {
                m_stream.skip(value);
            }
        }
        m_stream.finish();
        if (!albumsFit || !masterFits)
            return {};
        return handOut();
    }

private:
    struct Album {
        std::string name;
        std::vector<uint32_t> photos;
    };
    // An element of the photo entry being read; `end` is the index after its last element inside.
    struct Token {
        Item item;
        uint32_t end;
    };

    uint32_t photoFor(std::string_view name)
    {
        const uint32_t photo = m_photoNames.insert(name);
        if (photo == m_photos.size())
            m_photos.emplace_back();
        return photo;
    }

    void readAlbums(const Item& list)
    {
        Item album;
        while (list.isOpen() && m_stream.nextInArray(album)) {
            if (album.kind != Kind::Dict) {
                m_stream.skip(album);
                continue;
            }
            Album read;
            bool listsPhotos = false;
            Item key;
            while (album.isOpen() && m_stream.nextKey(key)) {
                const std::string_view name = m_stream.text(key);
                const bool isName = name == "AlbumName", isKeyList = name == "KeyList";
                const Item value = m_stream.nextValue();
                // Of a repeated key the last counts.
                if (isName)
                    read.name =
                        value.kind == Kind::String ? std::string(m_stream.text(value)) : std::string();
                if (isKeyList) {
                    listsPhotos = value.kind == Kind::Array;
                    read.photos.clear();
                }
                if (!isKeyList || !listsPhotos) {
                    m_stream.skip(value);
                    continue;
                }
                Item photo;
                while (value.isOpen() && m_stream.nextInArray(photo)) {
                    if (photo.kind == Kind::String)
                        read.photos.push_back(photoFor(m_stream.text(photo)));
                    m_stream.skip(photo);
                }
            }
            if (listsPhotos)
                m_albums.push_back(std::move(read));
        }
    }

    // Entries no album lists are only checked. When the albums come later in the file, every entry
    // that passes the filter is built, as it may yet be listed.
    void readMaster(const Item& master)
    {
        Item key;
        for (;;) {
            m_stream.hold();
            if (!master.isOpen() || !m_stream.nextKey(key))
                break;
            const std::string_view name = m_stream.text(key);
            const std::optional<uint32_t> photo = m_sawAlbums ? m_photoNames.find(name) : photoFor(name);
            // Texts are looked at again through the stream from here: reading on may move them.
            const Item entry = m_stream.nextValue();
            // A repeated identifier names its last entry.
            if (photo)
                m_photos[*photo].record = nullptr;
            if (photo && entry.kind == Kind::Dict)
                m_photos[*photo].record = readEntry(entry, key);
            else
                m_stream.skip(entry);
            m_stream.release();
        }
        m_stream.release();
    }

    void collect(const Item& item)
    {
        const size_t index = m_tokens.size();
        m_tokens.push_back({item, 0});
        if (item.kind == Kind::Dict) {
            Item key;
            while (item.isOpen() && m_stream.nextKey(key)) {
                m_tokens.push_back({key, uint32_t(m_tokens.size() + 1)});
                collect(m_stream.nextValue());
            }
        } else if (item.kind == Kind::Array) {
            Item element;
            while (item.isOpen() && m_stream.nextInArray(element))
                collect(element);
        }
        m_tokens[index].end = uint32_t(m_tokens.size());
    }

    static int64_t ratingValue(const Item& rating, std::string_view text)
    {
        switch (rating.kind) {
        case Kind::Integer:
            return rating.integer;
        case Kind::Real:
            return UnratedPhotoFilter::truncatedReal(rating.number);
        case Kind::True:
            return 1;
        case Kind::String:
            return UnratedPhotoFilter::leadingInteger(text);
        default:
            return 0;
        }
    }

    // The record of the photo entry `entry`, read whole, when the filter accepts it.
    PlistPtr readEntry(const Item& entry, const Item& name)
    {
        m_tokens.clear();
        collect(entry);
        std::optional<std::string_view> mediaType, guid;
        int64_t rating = 0;
        size_t fields = 0;
        for (uint32_t key = 1; key < m_tokens.size(); key = m_tokens[key + 1].end) {
            ++fields;
            const std::string_view field = m_stream.text(m_tokens[key].item);
            const Item& value = m_tokens[key + 1].item;
            const auto string = [&]() -> std::optional<std::string_view> {
                if (value.kind != Kind::String)
                    return std::nullopt;
                return m_stream.text(value);
            };
            if (field == "MediaType")
                mediaType = string();
            else if (field == "GUID")
                guid = string();
            else if (field == "Rating")
                rating = ratingValue(value, value.isContainer() ? std::string_view() : m_stream.text(value));
        }
        if (!m_filter.accepts(mediaType, rating, guid))
            return nullptr;
        // One allocation for the record's scalar values, "qm_ItemKey" included.
        const size_t scalars = size_t(std::count_if(m_tokens.begin(), m_tokens.end(), [](const Token& token) {
            return !token.item.isContainer() && token.item.kind != Kind::Key;
        }));
        PlistValueBatch batch(scalars + 1);
        m_entries.clear();
        m_entries.reserve(fields + 1);
        for (uint32_t key = 1; key < m_tokens.size(); key = m_tokens[key + 1].end)
            m_entries.emplace_back(std::string(m_stream.text(m_tokens[key].item)), build(key + 1, batch));
        // Last, so it replaces a key of the same name in the entry.
        m_entries.emplace_back(itemKey, batch.string(std::string(m_stream.text(name))));
        return PlistValue::dictionary(m_order.arrange(m_entries));
    }

    PlistPtr build(uint32_t index, PlistValueBatch& batch)
    {
        const Item& item = m_tokens[index].item;
        switch (item.kind) {
        case Kind::Dict: {
            std::vector<PlistDictionary::value_type> entries;
            for (uint32_t key = index + 1; key < m_tokens[index].end; key = m_tokens[key + 1].end)
                entries.emplace_back(std::string(m_stream.text(m_tokens[key].item)), build(key + 1, batch));
            return PlistValue::dictionary(PlistDictionary::fromEntries(std::move(entries)));
        }
        case Kind::Array: {
            PlistArray items;
            for (uint32_t element = index + 1; element < m_tokens[index].end; element = m_tokens[element].end)
                items.push_back(build(element, batch));
            return PlistValue::array(std::move(items));
        }
        case Kind::String:
        case Kind::Key:
            return batch.string(std::string(m_stream.text(item)));
        case Kind::Integer:
            return batch.integer(item.integer);
        case Kind::Real:
            return batch.real(item.number);
        case Kind::Date:
            return batch.date(item.number);
        case Kind::Data: {
            const std::string_view text = m_stream.text(item);
            return batch.data(QByteArray::fromBase64(QByteArray(text.data(), qsizetype(text.size()))));
        }
        case Kind::True:
        case Kind::False:
            return batch.boolean(item.kind == Kind::True);
        case Kind::Unknown:
            break;
        }
        throw Unsure();
    }

    PlistArray handOut()
    {
        PlistArray result;
        for (size_t index = 0; index < m_albums.size(); ++index) {
            const Album& album = m_albums[index];
            PlistArray items;
            for (const uint32_t at : album.photos) {
                if (PlistPtr record = m_photos[at].forAlbum(index + 1))
                    items.push_back(std::move(record));
            }
            if (items.empty())
                continue;
            result.push_back(HandedOutRecord::albumRecord(album.name, std::move(items)));
        }
        return result;
    }

    static constexpr const char* itemKey = "qm_ItemKey";

    XmlPlistStream& m_stream;
    const UnratedPhotoFilter& m_filter;
    bool m_sawAlbums = false;
    bool m_sawMaster = false;
    PhotoNames m_photoNames;
    std::vector<HandedOutRecord> m_photos;
    std::vector<Album> m_albums;
    std::vector<Token> m_tokens;
    std::vector<PlistDictionary::value_type> m_entries;
    RecordKeyOrder m_order;
};
} // namespace

std::optional<PlistArray> StreamedAlbumData::findUnratedAlbums(XmlPlistStream& stream,
                                                               const UnratedPhotoFilter& filter)
{
    try {
        return Walk(stream, filter).run();
    } catch (const XmlPlistStream::Unsure&) {
        return std::nullopt;
    }
}

std::optional<PlistArray> StreamedAlbumData::findUnratedAlbums(const QString& path,
                                                               const UnratedPhotoFilter& filter)
{
    const auto file = RegularFileStream::open(path);
    if (!file)
        return std::nullopt;
    XmlPlistStream stream(
        [&file](char* into, size_t capacity) { return file->read(into, qint64(capacity)); });
    return findUnratedAlbums(stream, filter);
}
