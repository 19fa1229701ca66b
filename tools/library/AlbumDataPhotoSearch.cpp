#include "tools/library/AlbumDataPhotoSearch.h"

#include "platform/foundation/XmlPlistStream.h"
#include "tools/library/PhotoKeyCensus.h"

#include <atomic>
#include <cstring>
#include <future>
#include <new>
#include <system_error>

namespace {
using Item = XmlPlistStream::Item;
using Kind = XmlPlistStream::Kind;

bool startsWithDigit(std::string_view text)
{
    return !text.empty() && text.front() >= '0' && text.front() <= '9';
}

std::string_view viewOf(QByteArrayView xml)
{
    return std::string_view(xml.data(), size_t(xml.size()));
}

// What the walk that takes over inside a photo list found from there on: the rest of that list
// and of the root dictionary.
struct Rest {
    // The photo's keys (offsets as Found's), in the list's rest and in any later photo list.
    std::vector<qsizetype> entries;
    // Whether the list's rest is plain (see walkEntries()), and its photos' keys.
    bool plain = true;
    PhotoKeyCensus census;
    // Where the list's "</dict>" starts, and how many photo lists follow it.
    uint64_t listEnd = 0;
    int lists = 0;
};

class Walk {
public:
    Walk(QByteArrayView xml, std::string_view key)
        : m_stream(viewOf(xml))
        , m_key(key)
    {}
    // A walk from `from`, between two entries of a photo list (the root dictionary and the list
    // open), that gives up once `stop` is set.
    Walk(QByteArrayView xml, std::string_view key, uint64_t from, const std::atomic<bool>& stop)
        : m_stream(viewOf(xml), from, {Kind::Dict, Kind::Dict})
        , m_key(key)
        , m_stop(&stop)
    {}

    // When this walk reaches `split` between two entries of a photo list, what follows is
    // `rest()`'s (nothing: the walk from there could not vouch for it); `passed` is set once this
    // walk is past `split` without reaching it so.
    void takeOverAt(uint64_t split, std::function<std::optional<Rest>()> rest, std::atomic<bool>& passed)
    {
        m_split = split;
        m_rest = std::move(rest);
        m_passed = &passed;
    }

    AlbumDataPhotoSearch::Found run()
    {
        const Item root = m_stream.begin();
        if (root.kind != Kind::Dict)
            throw XmlPlistStream::Unsure();
        walkRoot(root.isOpen());
        if (!m_handedOver)
            m_stream.finish();
        if (m_found.lists != 1)
            m_found.layout.reset();
        return std::move(m_found);
    }

    // From where the second constructor starts: the rest of the photo list, then of the root.
    Rest runRest()
    {
        Rest rest;
        rest.plain = walkEntries(rest.census);
        rest.listEnd = m_stream.position() - 7; // its "</dict>", just read
        walkRoot(true);
        m_stream.finish();
        rest.entries = std::move(m_found.entries);
        rest.lists = m_found.lists;
        return rest;
    }

private:
    void giveUpWhenStopped() const
    {
        if (m_stop && m_stop->load(std::memory_order_relaxed))
            throw XmlPlistStream::Unsure();
    }

    // The root dictionary's keys from here to its end, when it is `open` (not written <dict/>).
    void walkRoot(bool open)
    {
        Item key;
        while (open && !m_handedOver && m_stream.nextKey(key)) {
            giveUpWhenStopped();
            const bool isList = m_stream.text(key) == "Master Image List";
            const Item value = m_stream.nextValue();
            if (!isList) {
                m_stream.skip(value);
                continue;
            }
            ++m_found.lists;
            if (value.kind == Kind::Dict)
                walkList(value);
            else
                m_stream.skip(value);
        }
    }

    // The photo list `list` opens: every entry checked, the photo's found, and whether a search for
    // "<key>ID</key>" between its tags meets exactly the photo's key (no comments or CDATA sections
    // in it, every photo's key written as it is, no two alike, no other key that starts with a digit).
    void walkList(const Item& list)
    {
        const uint64_t begin = m_stream.position();
        PhotoKeyCensus census;
        bool plain = !list.empty && (!list.isOpen() || walkEntries(census));
        if (m_handedOver) {
            std::optional<Rest> rest = m_rest();
            if (!rest)
                throw XmlPlistStream::Unsure();
            m_found.entries.insert(m_found.entries.end(), rest->entries.begin(), rest->entries.end());
            m_found.lists += rest->lists;
            plain = plain && rest->plain;
            census.add(std::move(rest->census));
            if (plain && census.allDifferent())
                m_found.layout = AlbumDataRatingEditor::Layout{qsizetype(begin), qsizetype(rest->listEnd)};
            return;
        }
        if (plain && census.allDifferent())
            // Its "</dict>", just read, ends the list.
            m_found.layout =
                AlbumDataRatingEditor::Layout{qsizetype(begin), qsizetype(m_stream.position() - 7)};
    }

    // A photo list's entries from here to its end, or to the split where another walk takes over:
    // whether they are plain, their keys added to `census`.
    bool walkEntries(PhotoKeyCensus& census)
    {
        const uint64_t asides = m_stream.asidesRead();
        bool plain = true;
        Item key;
        for (;;) {
            const uint64_t before = m_stream.position();
            if (m_rest && before >= m_split) {
                if (before == m_split) {
                    m_handedOver = true;
                    return plain && m_stream.asidesRead() == asides;
                }
                m_passed->store(true, std::memory_order_relaxed);
                m_rest = {};
            }
            giveUpWhenStopped();
            if (!m_stream.nextKey(key))
                break;
            const std::string_view name = m_stream.text(key);
            if (key.decoded)
                plain = false;
            else if (plain)
                census.add(name);
            if (name == m_key)
                m_found.entries.push_back(qsizetype(before));
            skipNoting(m_stream.nextValue(), plain);
        }
        return plain && m_stream.asidesRead() == asides;
    }

    // Steps past `item`, checking it, and notes a key inside that a search could take for a photo's.
    void skipNoting(const Item& item, bool& plain)
    {
        if (!item.isOpen())
            return;
        if (!plain) {
            m_stream.skip(item);
            return;
        }
        Item inner;
        if (item.kind == Kind::Dict) {
            while (m_stream.nextKey(inner)) {
                if (inner.decoded || startsWithDigit(m_stream.text(inner)))
                    plain = false;
                skipNoting(m_stream.nextValue(), plain);
            }
        } else {
            while (m_stream.nextInArray(inner))
                skipNoting(inner, plain);
        }
    }

    XmlPlistStream m_stream;
    std::string_view m_key;
    AlbumDataPhotoSearch::Found m_found;
    const std::atomic<bool>* m_stop = nullptr;
    uint64_t m_split = 0;
    std::function<std::optional<Rest>()> m_rest;
    std::atomic<bool>* m_passed = nullptr;
    bool m_handedOver = false;
};

// Where a second walk may start, near the middle of `xml`: right after an entry of the photo list
// as libraries write them, an entry's "</dict>" followed by the next photo's key. Only a guess: the
// first walk confirms it by reaching it between two entries; 0 when there is no such place.
uint64_t splitOf(QByteArrayView xml)
{
    const char* const begin = xml.data();
    const char* const end = begin + xml.size();
    const char* from = begin + xml.size() / 2;
    for (int tries = 0; tries < 64; ++tries) {
        const auto* close = static_cast<const char*>(memmem(from, size_t(end - from), "</dict>", 7));
        if (!close)
            return 0;
        const char* next = close + 7;
        while (next < end && (*next == ' ' || *next == '\t' || *next == '\n' || *next == '\r'))
            ++next;
        if (end - next > 5 && std::memcmp(next, "<key>", 5) == 0 && next[5] >= '0' && next[5] <= '9')
            return uint64_t(close + 7 - begin);
        from = close + 7;
    }
    return 0;
}

std::optional<Rest> restFrom(QByteArrayView xml, std::string_view key, uint64_t split,
                             const std::atomic<bool>& stop)
{
    try {
        return Walk(xml, key, split, stop).runRest();
    } catch (const XmlPlistStream::Unsure&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}
} // namespace

std::optional<AlbumDataPhotoSearch::Found>
AlbumDataPhotoSearch::search(QByteArrayView xml, std::string_view key, qsizetype twoWalksFrom)
{
    // Large contents are walked in two halves at once: a second walk starts at a guess of where an
    // entry of the photo list ends, and its findings stand only where the first walk reaches that
    // very place between two entries, the stream then in the state the second started from; the
    // whole is then what one walk would have found. Elsewhere the first walk goes on alone.
    std::atomic<bool> passed = false;
    std::future<std::optional<Rest>> rest;
    const uint64_t split = xml.size() >= twoWalksFrom ? splitOf(xml) : 0;
    if (split > 0) {
        try {
            rest = std::async(std::launch::async,
                              [xml, key, split, &passed] { return restFrom(xml, key, split, passed); });
        } catch (const std::system_error&) {
            // No second thread to be had: one walk does it all.
        }
    }
    // Whatever happens, the second walk is told to stop and has ended before its arguments go.
    struct Stopping {
        std::atomic<bool>& passed;
        std::future<std::optional<Rest>>& rest;
        ~Stopping()
        {
            passed.store(true, std::memory_order_relaxed);
            if (rest.valid())
                rest.wait();
        }
    } stopping{passed, rest};
    try {
        Walk walk(xml, key);
        if (rest.valid())
            walk.takeOverAt(
                split, [&rest] { return rest.get(); }, passed);
        return walk.run();
    } catch (const XmlPlistStream::Unsure&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        // No verdict is no permission to write; the one reader tries, and says why it cannot.
        return std::nullopt;
    }
}
