#include "platform/foundation/XmlPlistStream.h"

#include "platform/foundation/XmlPlistScalars.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using Kind = XmlPlistStream::Kind;

namespace {
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The element names of property lists, by kind ("plist" for Kind::Unknown).
constexpr std::string_view names[] = {"dict", "array", "string", "key",  "integer", "real",
                                      "true", "false", "date",   "data", "plist"};
static_assert(std::size(names) == size_t(Kind::Unknown) + 1);

inline std::string_view nameOf(Kind kind)
{
    return names[size_t(kind)];
}

// Compared byte by byte: element names are a few bytes long, shorter than a call to memcmp.
inline bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t index = 0; index < a.size(); ++index)
        if (a[index] != b[index])
            return false;
    return true;
}

Kind kindNamed(std::string_view name)
{
    Kind kind = Kind::Unknown;
    switch (name.empty() ? 0 : name[0]) {
    case 'd':
        kind = name.size() == 4 && name[1] == 'i'   ? Kind::Dict
               : name.size() == 4 && name[3] == 'e' ? Kind::Date
                                                    : Kind::Data;
        break;
    case 'a':
        kind = Kind::Array;
        break;
    case 's':
        kind = Kind::String;
        break;
    case 'k':
        kind = Kind::Key;
        break;
    case 'i':
        kind = Kind::Integer;
        break;
    case 'r':
        kind = Kind::Real;
        break;
    case 't':
        kind = Kind::True;
        break;
    case 'f':
        kind = Kind::False;
        break;
    default:
        throw XmlPlistStream::Unsure();
    }
    if (!sameName(name, nameOf(kind)))
        throw XmlPlistStream::Unsure();
    return kind;
}

// Bytes that text cannot be taken as it stands with: entities, line ends the parser would
// rewrite, and NUL, which would end its text.
const std::array<bool, 256> specialInText = [] {
    std::array<bool, 256> table{};
    table[uint8_t('&')] = table[uint8_t('\r')] = table[0] = true;
    return table;
}();

// The code point of a character reference's digits ("x41" or "65"); none for anything unusual,
// NUL included (which XML forbids).
uint32_t characterReference(std::string_view digits)
{
    const bool hex = !digits.empty() && digits.front() == 'x';
    if (hex)
        digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 7)
        throw XmlPlistStream::Unsure();
    uint32_t code = 0;
    for (const char c : digits) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = uint32_t(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = uint32_t(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = uint32_t(c - 'A' + 10);
        else
            throw XmlPlistStream::Unsure();
        code = code * (hex ? 16 : 10) + digit;
    }
    if (code == 0 || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF)
        throw XmlPlistStream::Unsure();
    return code;
}

// `text` with its entities and line ends replaced, appended to `out`.
void decode(std::string_view text, std::string& out)
{
    for (size_t index = 0; index < text.size(); ++index) {
        const char c = text[index];
        if (c == '\0')
            throw XmlPlistStream::Unsure();
        if (c == '\r') {
            out += '\n';
            if (index + 1 < text.size() && text[index + 1] == '\n')
                ++index;
            continue;
        }
        if (c != '&') {
            out += c;
            continue;
        }
        const size_t end = text.find(';', index);
        if (end == std::string_view::npos || end - index > 10)
            throw XmlPlistStream::Unsure();
        const std::string_view name = text.substr(index + 1, end - index - 1);
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (name.size() > 1 && name.front() == '#')
            XmlPlistScalars::appendUtf8(out, characterReference(name.substr(1)));
        else
            throw XmlPlistStream::Unsure();
        index = end;
    }
}

// Bytes that stop a scan of text: its end ('<') and what specialInText holds.
const std::array<bool, 256> endsPlainText = [] {
    std::array<bool, 256> table = specialInText;
    table[uint8_t('<')] = true;
    return table;
}();

// The first byte in [from, to) that endsPlainText holds; none when there is none. Eight bytes at a
// time while none of them can be one: text is most of a file's bytes.
const char* firstSpecial(const char* from, const char* to)
{
#if defined(__SSE2__)
    // Sixteen bytes at a time where the processor compares them in one step.
    const __m128i open = _mm_set1_epi8('<'), ampersand = _mm_set1_epi8('&'), carriage = _mm_set1_epi8('\r'),
                  zero = _mm_setzero_si128();
    for (; to - from >= 16; from += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i found =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, open), _mm_cmpeq_epi8(bytes, ampersand)),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, carriage), _mm_cmpeq_epi8(bytes, zero)));
        if (const int mask = _mm_movemask_epi8(found))
            return from + __builtin_ctz(unsigned(mask));
    }
#endif
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    const auto hasByte = [](uint64_t word, uint8_t byte) {
        const uint64_t x = word ^ (ones * byte);
        return ((x - ones) & ~x & highs) != 0;
    };
    for (; to - from >= 8; from += 8) {
        uint64_t word;
        std::memcpy(&word, from, 8);
        if (hasByte(word, '<') || hasByte(word, '&') || hasByte(word, '\r') || hasByte(word, 0))
            break;
    }
    for (; from < to; ++from)
        if (endsPlainText[uint8_t(*from)])
            return from;
    return nullptr;
}

bool isNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Markup outside elements (comments, the declaration, DOCTYPE, attributes) with a byte that
// could change how the file reads: NUL ends the parse, and a character reference to NUL
// anywhere refuses the whole file.
void checkMarkup(std::string_view markup)
{
    if (markup.find('\0') != std::string_view::npos || markup.find('&') != std::string_view::npos)
        throw XmlPlistStream::Unsure();
}
} // namespace

XmlPlistStream::XmlPlistStream(Source source, size_t pieceSize)
    : m_source(std::move(source))
    , m_pieceSize(std::max<size_t>(pieceSize, 1))
{}

XmlPlistStream::XmlPlistStream(std::string_view bytes)
    : m_pieceSize(1)
    , m_bytes(bytes.data())
    , m_filled(bytes.size())
    , m_atEnd(true)
{}

XmlPlistStream::XmlPlistStream(std::string_view bytes, uint64_t from, std::vector<Kind> open)
    : XmlPlistStream(bytes)
{
    m_position = std::min<uint64_t>(from, bytes.size());
    m_open = std::move(open);
}

XmlPlistStream::~XmlPlistStream() = default;

bool XmlPlistStream::more()
{
    if (m_atEnd)
        return false;
    // Keeps what is still to be read and what is held; the rest makes room.
    const uint64_t keep = std::min(m_position, m_held);
    if (keep > m_base) {
        const size_t kept = size_t(limit() - keep);
        std::memmove(m_data.get(), at(keep), kept);
        m_bytes = m_data.get();
        m_base = keep;
        m_filled = kept;
    }
    if (m_capacity - m_filled < m_pieceSize) {
        const size_t capacity = std::max(2 * m_capacity, m_filled + m_pieceSize);
        std::unique_ptr<char[]> data(new char[capacity]);
        if (m_filled)
            std::memcpy(data.get(), m_data.get(), m_filled);
        m_data = std::move(data);
        m_bytes = m_data.get();
        m_capacity = capacity;
    }
    const int64_t got = m_source(m_data.get() + m_filled, std::min(m_capacity - m_filled, m_pieceSize));
    if (got < 0)
        throw Unsure();
    if (got == 0) {
        m_atEnd = true;
        return false;
    }
    m_filled += size_t(got);
    return true;
}

int XmlPlistStream::peek(uint64_t position)
{
    while (position >= limit()) {
        if (!more())
            return -1;
    }
    return uint8_t(*at(position));
}

bool XmlPlistStream::startsWith(uint64_t position, std::string_view literal)
{
    if (position + literal.size() > limit() && peek(position + literal.size() - 1) < 0)
        return false;
    return sameName(std::string_view(at(position), literal.size()), literal);
}

// The position of the next `byte` at or after `from`; Unsure when the file ends first.
uint64_t XmlPlistStream::find(char byte, uint64_t from)
{
    for (;;) {
        if (from < limit()) {
            if (const void* found = std::memchr(at(from), byte, size_t(limit() - from)))
                return m_base + uint64_t(static_cast<const char*>(found) - m_bytes);
            from = limit();
        }
        if (!more())
            throw Unsure();
    }
}

// The '>' that ends the tag whose name starts at `from`: element names are a few bytes long, shorter
// than a call to memchr pays off for.
uint64_t XmlPlistStream::tagEnd(uint64_t from)
{
    const uint64_t stop = std::min(limit(), from + 12);
    for (uint64_t position = from; position < stop; ++position)
        if (*at(position) == '>')
            return position;
    return find('>', std::max(from, stop));
}

void XmlPlistStream::skipSpace()
{
    for (;;) {
        const uint64_t end = limit();
        while (m_position < end && isSpace(*at(m_position)))
            ++m_position;
        if (m_position < end || !more())
            return;
    }
}

// At "<!--": to after the "-->" that ends it.
void XmlPlistStream::skipComment()
{
    ++m_asides;
    const uint64_t body = m_position + 4;
    for (uint64_t from = body;;) {
        const uint64_t close = find('>', from);
        if (close >= body + 2 && at(close)[-1] == '-' && at(close)[-2] == '-') {
            checkMarkup(std::string_view(at(body), size_t(close - 2 - body)));
            m_position = close + 1;
            return;
        }
        from = close + 1;
    }
}

// At "<?xml ": to after its "?>". Only UTF-8 is read here; the parser would convert others.
void XmlPlistStream::readDeclaration()
{
    const uint64_t close = find('>', m_position);
    const std::string_view content(at(m_position + 5), size_t(close - m_position - 5));
    if (content.empty() || content.back() != '?' || content.find('<') != std::string_view::npos)
        throw Unsure();
    checkMarkup(content);
    if (const size_t encoding = content.find("encoding"); encoding != std::string_view::npos) {
        std::string_view rest = content.substr(encoding + 8);
        if (rest.size() < 8 || rest[0] != '=' || (rest[1] != '"' && rest[1] != '\''))
            throw Unsure();
        const std::string_view name = rest.substr(2, 5);
        const bool utf8 = rest[7] == rest[1] && (name == "UTF-8" || name == "utf-8");
        if (!utf8)
            throw Unsure();
    }
    m_position = close + 1;
}

// At "<!DOCTYPE ": to after its ">". Only a declaration without internal subset or single quotes.
void XmlPlistStream::readDoctype()
{
    const uint64_t close = find('>', m_position);
    const std::string_view content(at(m_position + 9), size_t(close - m_position - 9));
    checkMarkup(content);
    if (content.find_first_of("[<'") != std::string_view::npos ||
        std::count(content.begin(), content.end(), '"') % 2 != 0)
        throw Unsure();
    m_position = close + 1;
}

// At "<plist": to after its ">", its attributes checked to be plain name="value" pairs.
void XmlPlistStream::readPlistTag()
{
    const uint64_t close = find('>', m_position);
    const std::string_view attributes(at(m_position + 6), size_t(close - m_position - 6));
    checkMarkup(attributes);
    for (size_t index = 0; index < attributes.size();) {
        if (!isSpace(attributes[index]))
            throw Unsure();
        while (index < attributes.size() && isSpace(attributes[index]))
            ++index;
        if (index == attributes.size())
            break;
        if (!isNameStart(attributes[index]))
            throw Unsure();
        while (index < attributes.size() && isNameChar(attributes[index]))
            ++index;
        if (index + 1 >= attributes.size() || attributes[index] != '=' ||
            (attributes[index + 1] != '"' && attributes[index + 1] != '\''))
            throw Unsure();
        const size_t end = attributes.find(attributes[index + 1], index + 2);
        if (end == std::string_view::npos ||
            attributes.substr(index + 2, end - index - 2).find('<') != std::string_view::npos)
            throw Unsure();
        index = end + 1;
    }
    m_position = close + 1;
}

XmlPlistStream::Item XmlPlistStream::begin()
{
    if (startsWith(0, "\xEF\xBB\xBF"))
        m_position = 3;
    if (startsWith(m_position, "<?xml") && peek(m_position + 5) >= 0 && isSpace(*at(m_position + 5)))
        readDeclaration();
    bool sawDoctype = false;
    for (;;) {
        skipSpace();
        if (startsWith(m_position, "<!--")) {
            skipComment();
        } else if (!sawDoctype && startsWith(m_position, "<!DOCTYPE") && peek(m_position + 9) >= 0 &&
                   isSpace(*at(m_position + 9))) {
            sawDoctype = true;
            readDoctype();
        } else if (startsWith(m_position, "<plist") && peek(m_position + 6) >= 0 &&
                   (isSpace(*at(m_position + 6)) || *at(m_position + 6) == '>')) {
            readPlistTag();
            break;
        } else {
            throw Unsure();
        }
    }
    Item root = next();
    if (root.isEnd())
        throw Unsure();
    return root;
}

void XmlPlistStream::finish()
{
    if (!m_open.empty() || !next().isEnd())
        throw Unsure();
    for (;;) {
        skipSpace();
        if (peek(m_position) < 0)
            return;
        if (!startsWith(m_position, "<!--"))
            throw Unsure();
        skipComment();
    }
}

XmlPlistStream::Item XmlPlistStream::next()
{
    Item item;
    read(item);
    return item;
}

// Fills the caller's item in place: a copy of one just written field by field costs a stall.
void XmlPlistStream::read(Item& item)
{
    item = Item();
    if (m_held == UINT64_MAX)
        m_decoded.clear();
    for (;;) {
        skipSpace();
        if (peek(m_position) != '<')
            throw Unsure();
        const uint64_t close = tagEnd(m_position + 1);
        std::string_view tag(at(m_position + 1), size_t(close - m_position - 1));
        if (tag.starts_with("!--")) {
            skipComment();
            continue;
        }
        if (tag.starts_with('/')) {
            const Kind open = m_open.empty() ? Kind::Unknown : m_open.back();
            if (!sameName(tag.substr(1), nameOf(open)))
                throw Unsure();
            if (!m_open.empty())
                m_open.pop_back();
            m_position = close + 1;
            return;
        }
        item.empty = tag.ends_with('/');
        if (item.empty)
            tag.remove_suffix(1);
        item.kind = kindNamed(tag);
        m_position = close + 1;
        if (item.isContainer()) {
            // As deep as the one reader allows, the top-level value being the first level.
            if (m_open.size() + 1 > size_t(XmlPlistBuilder::maximumDepth))
                throw Unsure();
            if (!item.empty)
                m_open.push_back(item.kind);
            return;
        }
        if (!item.empty) {
            // Most text holds nothing to replace and ends at its end tag: one scan finds both.
            const char* const from = at(m_position);
            const char* const special = firstSpecial(from, at(limit()));
            const bool plain = special && *special == '<';
            const uint64_t textEnd = plain ? m_position + uint64_t(special - from) : find('<', m_position);
            if (isEndTag(textEnd, item.kind)) {
                if (plain && textEnd - m_position <= UINT32_MAX) {
                    item.at = m_position;
                    item.length = uint32_t(textEnd - m_position);
                } else {
                    readText(item, m_position, textEnd);
                }
                item.hasText = item.length > 0;
                m_position = textEnd + 3 + nameOf(item.kind).size();
            } else {
                readPieces(item);
            }
        }
        // Strings and keys are taken as they stand: only the other scalars need their text read.
        if (item.kind != Kind::String && item.kind != Kind::Key)
            checkScalar(item);
        return;
    }
}

bool XmlPlistStream::isEndTag(uint64_t position, Kind kind)
{
    const std::string_view name = nameOf(kind);
    const size_t length = name.size() + 3;
    if (position + length > limit() && peek(position + length - 1) < 0)
        return false;
    const char* tag = at(position);
    return tag[0] == '<' && tag[1] == '/' && tag[length - 1] == '>' &&
           sameName(std::string_view(tag + 2, name.size()), name);
}

// The text of a scalar written in pieces, with comments or CDATA sections, joined as the parser
// keeps them: text and CDATA in file order, except whitespace between pieces, which is kept only
// when it ends the element and nothing but text came before it.
void XmlPlistStream::readPieces(Item& item)
{
    const size_t start = m_decoded.size();
    bool hasValue = false, hasChild = false;
    for (uint64_t from = m_position;;) {
        const uint64_t markup = find('<', from);
        if (markup > from) {
            const std::string_view piece(at(from), size_t(markup - from));
            const bool blank = std::all_of(piece.begin(), piece.end(), isSpace);
            if (!blank || (startsWith(markup, "</") && !hasChild)) {
                decode(piece, m_decoded);
                (hasValue || hasChild ? hasChild : hasValue) = true;
            }
        }
        m_position = markup;
        if (isEndTag(markup, item.kind)) {
            m_position = markup + 3 + nameOf(item.kind).size();
            break;
        }
        if (startsWith(markup, "<!--")) {
            skipComment();
        } else if (startsWith(markup, "<![CDATA[")) {
            const uint64_t content = markup + 9;
            uint64_t close = find('>', content);
            while (close < content + 2 || at(close)[-1] != ']' || at(close)[-2] != ']')
                close = find('>', close + 1);
            const std::string_view section(at(content), size_t(close - 2 - content));
            // Taken as it stands, but for line ends; a "&#0;" inside would refuse the whole file.
            if (section.find('&') != std::string_view::npos)
                throw Unsure();
            decode(section, m_decoded);
            ++m_asides;
            hasChild = true;
            m_position = close + 1;
        } else {
            throw Unsure();
        }
        from = m_position;
    }
    item.decoded = true;
    item.at = start;
    item.length = uint32_t(m_decoded.size() - start);
    item.hasText = hasValue || hasChild;
}

void XmlPlistStream::readText(Item& item, uint64_t from, uint64_t to)
{
    const std::string_view raw(at(from), size_t(to - from));
    if (raw.size() > UINT32_MAX)
        throw Unsure();
    item.at = from;
    item.length = uint32_t(raw.size());
    // Eight bytes at a time while none of them can be special: text is most of a file's bytes.
    size_t index = 0;
    for (; index + 8 <= raw.size(); index += 8) {
        uint64_t word;
        std::memcpy(&word, raw.data() + index, 8);
        constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
        const auto hasByte = [&](uint8_t byte) {
            const uint64_t x = word ^ (ones * byte);
            return ((x - ones) & ~x & highs) != 0;
        };
        if (hasByte('&') || hasByte('\r') || hasByte(0))
            break;
    }
    for (const char c : raw.substr(index)) {
        if (specialInText[uint8_t(c)]) {
            item.decoded = true;
            item.at = m_decoded.size();
            decode(raw, m_decoded);
            item.length = uint32_t(m_decoded.size() - item.at);
            return;
        }
    }
}

// Whether a scalar reads as its type, as XmlPlistBuilder would have it.
void XmlPlistStream::checkScalar(Item& item)
{
    const std::string_view content = text(item);
    switch (item.kind) {
    case Kind::Integer:
        if (const auto value = XmlPlistScalars::parseInteger(content)) {
            item.integer = *value;
            return;
        }
        break;
    case Kind::Real:
        if (const auto value = XmlPlistScalars::parseReal(content)) {
            item.number = *value;
            return;
        }
        break;
    case Kind::Date:
        if (const auto value = XmlPlistScalars::parseDate(content)) {
            item.number = *value;
            return;
        }
        break;
    case Kind::Data:
        if (XmlPlistScalars::isBase64(content))
            return;
        break;
    case Kind::True:
    case Kind::False:
        if (!item.hasText)
            return;
        break;
    default:
        return;
    }
    throw Unsure();
}

bool XmlPlistStream::nextKey(Item& key)
{
    read(key);
    if (key.isEnd())
        return false;
    if (key.kind != Kind::Key)
        throw Unsure();
    return true;
}

XmlPlistStream::Item XmlPlistStream::nextValue()
{
    Item value;
    read(value);
    if (value.isEnd() || value.kind == Kind::Key)
        throw Unsure();
    return value;
}

bool XmlPlistStream::nextInArray(Item& element)
{
    read(element);
    if (element.kind == Kind::Key)
        throw Unsure();
    return !element.isEnd();
}

void XmlPlistStream::skip(const Item& item)
{
    if (!item.isOpen())
        return;
    Item inner;
    if (item.kind == Kind::Dict) {
        while (nextKey(inner))
            skip(nextValue());
    } else {
        while (nextInArray(inner))
            skip(inner);
    }
}

std::string_view XmlPlistStream::text(const Item& item) const
{
    if (item.decoded)
        return std::string_view(m_decoded).substr(size_t(item.at), item.length);
    return std::string_view(at(item.at), item.length);
}

void XmlPlistStream::hold()
{
    m_held = m_position;
}

void XmlPlistStream::release()
{
    m_held = UINT64_MAX;
    m_decoded.clear();
}
