#include "tools/library/AlbumDataPhotoSearch.h"

#include "platform/foundation/XmlPlistStream.h"
#include "tools/library/PhotoKeyCensus.h"

#include <new>

namespace {
using Item = XmlPlistStream::Item;
using Kind = XmlPlistStream::Kind;

bool startsWithDigit(std::string_view text)
{
    return !text.empty() && text.front() >= '0' && text.front() <= '9';
}

class Walk {
public:
    Walk(QByteArrayView xml, std::string_view key)
        : m_stream(std::string_view(xml.data(), size_t(xml.size())))
        , m_key(key)
    {}

    AlbumDataPhotoSearch::Found run()
    {
        const Item root = m_stream.begin();
        if (root.kind != Kind::Dict)
            throw XmlPlistStream::Unsure();
        int& lists = m_found.lists;
        Item key;
        while (root.isOpen() && m_stream.nextKey(key)) {
            const bool isList = m_stream.text(key) == "Master Image List";
            const Item value = m_stream.nextValue();
            if (!isList) {
                m_stream.skip(value);
                continue;
            }
            ++lists;
            if (value.kind == Kind::Dict)
                walkList(value);
            else
                m_stream.skip(value);
        }
        m_stream.finish();
        if (lists != 1)
            m_found.layout.reset();
        return std::move(m_found);
    }

private:
    // The photo list `list` opens: every entry checked, the photo's found, and whether a search for
    // "<key>ID</key>" between its tags meets exactly the photo's key (no comments or CDATA sections
    // in it, every photo's key written as it is, no two alike, no other key that starts with a digit).
    void walkList(const Item& list)
    {
        const uint64_t begin = m_stream.position();
        const uint64_t asides = m_stream.asidesRead();
        bool plain = !list.empty;
        PhotoKeyCensus census;
        Item key;
        for (;;) {
            const uint64_t before = m_stream.position();
            if (!list.isOpen() || !m_stream.nextKey(key))
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
        plain = plain && m_stream.asidesRead() == asides && census.allDifferent();
        if (plain)
            // Its "</dict>", just read, ends the list.
            m_found.layout =
                AlbumDataRatingEditor::Layout{qsizetype(begin), qsizetype(m_stream.position() - 7)};
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
};
} // namespace

std::optional<AlbumDataPhotoSearch::Found> AlbumDataPhotoSearch::search(QByteArrayView xml,
                                                                        std::string_view key)
{
    try {
        return Walk(xml, key).run();
    } catch (const XmlPlistStream::Unsure&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        // No verdict is no permission to write; the one reader tries, and says why it cannot.
        return std::nullopt;
    }
}
