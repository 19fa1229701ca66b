#pragma once

#include "platform/foundation/XmlPlistBuilder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Reads an XML property list from start to end in one pass, piece by piece, without building an
// XML tree: a large album data file is then read in little more memory than the values kept from
// it, and in little more time than the bytes take to scan.
//
// It takes only the plain spelling property-list writers use: an optional UTF-8 byte-order mark,
// XML declaration (UTF-8) and DOCTYPE without internal subset, comments between elements, the
// elements of property lists written <name>text</name> or <name/>, and text with the five named
// entities, character references, line ends, comments and CDATA sections. As it goes it checks
// everything the one reader (XmlPlistBuilder) checks of the elements it reads; the callers check
// the pairing of keys and values (nextKey(), nextValue(), nextInArray()). Anything else throws
// Unsure: a problem, or a spelling this reader does not take (other entities, processing
// instructions, text beside elements, another encoding, a binary list). The caller then reads
// the file with XmlPlistBuilder, which decides and words the problem. So whatever this reader
// accepts, XmlPlistBuilder accepts with the same values, and every refusal is XmlPlistBuilder's.
//
// One object per read; not shared between threads.
class XmlPlistStream {
public:
    using Kind = XmlPlistBuilder::Kind;
    // Fills at most `capacity` bytes at `into` with the next bytes of the file and returns how many;
    // 0 at its end, negative on a failure (which throws Unsure).
    using Source = std::function<int64_t(char* into, size_t capacity)>;
    // Thrown when the reader cannot vouch for the file.
    struct Unsure {};

    // An element read: a container opened, a whole scalar, or the end of the open container.
    struct Item {
        // Kind::Unknown for the end of the open container.
        Kind kind = Kind::Unknown;
        // A container written <dict/> or <array/>: no end follows.
        bool empty = false;
        // Where the text of a scalar lies (see text()).
        bool decoded = false;
        // Whether the scalar holds any text, even none (an empty CDATA section).
        bool hasText = false;
        uint64_t at = 0;
        uint32_t length = 0;
        // The value of an <integer>; seconds of a <real> or, since the reference date, a <date>.
        int64_t integer = 0;
        double number = 0;

        bool isEnd() const { return kind == Kind::Unknown; }
        bool isContainer() const { return kind == Kind::Dict || kind == Kind::Array; }
        // A container with elements inside, whose end is still to be read.
        bool isOpen() const { return isContainer() && !empty; }
    };

    // Reads `pieceSize` bytes at a time (more when one element is larger).
    explicit XmlPlistStream(Source source, size_t pieceSize = size_t(1) << 18);
    // Reads the whole file from `bytes`, which must outlive the stream, without copying them.
    explicit XmlPlistStream(std::string_view bytes);
    // Reads `bytes` from the offset `from` on as a stream of the whole file reads them once it
    // stands there with the containers `open` still open (outermost first), between elements:
    // lets a second reader take a later part of a file while the first reads up to it. What it
    // reads holds for the file only once the first has reached `from` in that very state.
    XmlPlistStream(std::string_view bytes, uint64_t from, std::vector<Kind> open);
    ~XmlPlistStream();
    XmlPlistStream(const XmlPlistStream&) = delete;
    XmlPlistStream& operator=(const XmlPlistStream&) = delete;

    // Reads the prolog and the start of <plist>, and gives the top-level value.
    Item begin();
    // After the top-level value: reads </plist> and what follows to the end of the file.
    void finish();

    // The next element inside the open container, or its end.
    Item next();
    // The next key of the open <dict>; false at its end.
    bool nextKey(Item& key);
    // The value after a key.
    Item nextValue();
    // The next element of the open <array>; false at its end.
    bool nextInArray(Item& element);
    // Reads the rest of `item` when it is an open container, checking it.
    void skip(const Item& item);

    // The text of a scalar read by the last next(), or by any next() since hold().
    std::string_view text(const Item& item) const;
    // Keeps the text of everything read from here on until release().
    void hold();
    void release();

    // The file offset of the next byte to read: after next() and its kin, one past the end tag
    // of what it gave (whitespace and comments before the next element are still to be read).
    uint64_t position() const { return m_position; }
    // How many comments and CDATA sections were read so far: markup inside which text that looks
    // like elements may stand.
    uint64_t asidesRead() const { return m_asides; }

private:
    const char* at(uint64_t position) const { return m_bytes + (position - m_base); }
    uint64_t limit() const { return m_base + m_filled; }
    bool more();
    int peek(uint64_t position);
    bool startsWith(uint64_t position, std::string_view literal);
    uint64_t find(char byte, uint64_t from);
    uint64_t tagEnd(uint64_t from);
    void skipSpace();
    void read(Item& item);
    void skipComment();
    void readDeclaration();
    void readDoctype();
    void readPlistTag();
    bool isEndTag(uint64_t position, Kind kind);
    void readText(Item& item, uint64_t from, uint64_t to);
    void readPieces(Item& item);
    void checkScalar(Item& item);

    Source m_source;
    size_t m_pieceSize;
    std::unique_ptr<char[]> m_data;
    // Where the bytes read are: m_data's, or the caller's when the whole file was given.
    const char* m_bytes = nullptr;
    size_t m_capacity = 0;
    size_t m_filled = 0;
    // The file offsets of m_data[0] and of the next byte to read.
    uint64_t m_base = 0;
    uint64_t m_position = 0;
    // The first byte kept for text(); none when nothing is held.
    uint64_t m_held = UINT64_MAX;
    bool m_atEnd = false;
    uint64_t m_asides = 0;
    // The containers open, outermost first.
    std::vector<Kind> m_open;
    // Text with entities or line ends replaced.
    std::string m_decoded;
};
