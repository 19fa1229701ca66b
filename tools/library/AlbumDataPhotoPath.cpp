#include "tools/library/AlbumDataPhotoPath.h"

#include <cstring>
#include <string>
#include <vector>

namespace {
// One open element and, for a dictionary, the key its next value stands under.
struct Frame {
    std::string_view name;
    std::string role; // the key this element is the value of, when its parent is a dictionary
    std::string pendingKey;
    bool hasPendingKey = false;
};

class PathScanner {
public:
    PathScanner(const char* begin, const char* end, std::string_view key)
        : m_position(begin)
        , m_end(end)
        , m_key(key)
    {}

    std::optional<QString> run()
    {
        while (const char* open = nextTag()) {
            if (!handleTag(open))
                return std::nullopt;
        }
        return m_found;
    }

private:
    const char* nextTag()
    {
        for (;;) {
            const auto* open =
                static_cast<const char*>(std::memchr(m_position, '<', size_t(m_end - m_position)));
            if (!open)
                return nullptr;
            if (startsWith(open, "<!--")) {
                m_position = skipPast(open + 4, "-->");
            } else if (startsWith(open, "<?")) {
                m_position = skipPast(open + 2, "?>");
            } else if (startsWith(open, "<![CDATA[")) {
                m_position = skipPast(open + 9, "]]>");
            } else if (startsWith(open, "<!")) {
                m_position = skipDeclaration(open + 2);
            } else {
                return open;
            }
            if (!m_position)
                return nullptr;
        }
    }

    bool startsWith(const char* at, const char* prefix) const
    {
        const size_t length = std::strlen(prefix);
        return size_t(m_end - at) >= length && std::memcmp(at, prefix, length) == 0;
    }

    const char* skipPast(const char* from, const char* terminator) const
    {
        const size_t length = std::strlen(terminator);
        for (const char* at = from; at + length <= m_end; ++at) {
            at = static_cast<const char*>(std::memchr(at, terminator[0], size_t(m_end - at)));
            if (!at)
                return nullptr;
            if (size_t(m_end - at) >= length && std::memcmp(at, terminator, length) == 0)
                return at + length;
        }
        return nullptr;
    }

    // A document type declaration, with an internal subset in brackets.
    const char* skipDeclaration(const char* from) const
    {
        int brackets = 0;
        char quote = 0;
        for (const char* at = from; at < m_end; ++at) {
            if (quote) {
                quote = *at == quote ? 0 : quote;
            } else if (*at == '"' || *at == '\'') {
                quote = *at;
            } else if (*at == '[') {
                ++brackets;
            } else if (*at == ']') {
                --brackets;
            } else if (*at == '>' && brackets <= 0) {
                return at + 1;
            }
        }
        return nullptr;
    }

    // One past the tag's '>', minding quoted attribute values.
    const char* tagEnd(const char* open) const
    {
        char quote = 0;
        for (const char* at = open + 1; at < m_end; ++at) {
            if (quote)
                quote = *at == quote ? 0 : quote;
            else if (*at == '"' || *at == '\'')
                quote = *at;
            else if (*at == '>')
                return at + 1;
        }
        return nullptr;
    }

    static bool isNameEnd(char c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '/' || c == '>';
    }

    bool handleTag(const char* open)
    {
        const char* end = tagEnd(open);
        if (!end)
            return false;
        m_position = end;
        if (open[1] == '/') {
            if (m_stack.empty())
                return false;
            m_stack.pop_back();
            return true;
        }
        const char* nameEnd = open + 1;
        while (nameEnd < end && !isNameEnd(*nameEnd))
            ++nameEnd;
        const std::string_view name(open + 1, size_t(nameEnd - open - 1));
        const bool empty = end[-2] == '/';

        Frame frame{name, {}, {}, false};
        if (!m_stack.empty() && m_stack.back().name == "dict" && name != "key") {
            frame.role = std::move(m_stack.back().pendingKey);
            m_stack.back().hasPendingKey = false;
            m_stack.back().pendingKey.clear();
        }
        if (name == "key") {
            if (m_stack.empty() || m_stack.back().name != "dict")
                return false;
            std::string text;
            if (!empty && !keyMatters()) {
                if (!skipKeyText())
                    return false;
            } else if (!empty && !readText("key", text)) {
                return false;
            }
            m_stack.back().pendingKey = std::move(text);
            m_stack.back().hasPendingKey = true;
            return true;
        }
        if (name == "string" && isPhotoPathPlace(frame.role)) {
            std::string text;
            if (!empty && !readText("string", text))
                return false;
            m_found = QString::fromUtf8(text.data(), qsizetype(text.size()));
            return true;
        }
        if (!empty)
            m_stack.push_back(std::move(frame));
        return true;
    }

    size_t rootDepth() const { return !m_stack.empty() && m_stack.front().name == "plist" ? 1 : 0; }

    // Only the keys on the way to the photo's entry, and those of the entry itself, are read;
    // the others (most of a large library) are stepped over unread.
    bool keyMatters() const
    {
        const size_t root = rootDepth();
        if (m_stack.size() <= root + 2)
            return true;
        return m_stack.size() == root + 3 && m_stack[root + 2].role == m_key &&
               m_stack[root + 1].role == "Master Image List";
    }

    // To the end of a key whose text is plain; anything else is read in full.
    bool skipKeyText()
    {
        const auto* open = static_cast<const char*>(std::memchr(m_position, '<', size_t(m_end - m_position)));
        if (open && startsWith(open, "</key>")) {
            m_position = open + 6;
            return true;
        }
        std::string ignored;
        return readText("key", ignored);
    }

    // plist > dict > dict under "Master Image List" > dict under the key > "ImagePath".
    bool isPhotoPathPlace(const std::string& role) const
    {
        if (role != "ImagePath")
            return false;
        const size_t root = rootDepth();
        return m_stack.size() == root + 3 && m_stack[root].name == "dict" && m_stack[root].role.empty() &&
               m_stack[root + 1].name == "dict" && m_stack[root + 1].role == "Master Image List" &&
               m_stack[root + 2].name == "dict" && m_stack[root + 2].role == m_key;
    }

    // The element's text up to its end tag, with entities and CDATA sections decoded.
    bool readText(std::string_view element, std::string& text)
    {
        const char* at = m_position;
        while (at < m_end) {
            const char* plain = at;
            while (plain < m_end && *plain != '&' && *plain != '<')
                ++plain;
            text.append(at, size_t(plain - at));
            at = plain;
            if (at == m_end)
                break;
            if (*at == '&') {
                const auto* semicolon = static_cast<const char*>(std::memchr(at, ';', size_t(m_end - at)));
                if (!semicolon || !appendEntity(std::string_view(at + 1, size_t(semicolon - at - 1)), text))
                    return false;
                at = semicolon + 1;
            } else if (*at == '<') {
                m_position = at;
                if (startsWith(at, "<![CDATA[")) {
                    const char* close = skipPast(at + 9, "]]>");
                    if (!close)
                        return false;
                    text.append(at + 9, size_t(close - 3 - (at + 9)));
                    at = close;
                } else if (startsWith(at, "<!--")) {
                    at = skipPast(at + 4, "-->");
                    if (!at)
                        return false;
                } else {
                    const std::string closing = "</" + std::string(element);
                    const char* end = tagEnd(at);
                    if (!startsWith(at, closing.c_str()) || !end)
                        return false;
                    m_position = end;
                    return true;
                }
            } else {
                text += *at++;
            }
        }
        return false;
    }

    static bool appendEntity(std::string_view name, std::string& text)
    {
        static const std::pair<std::string_view, char> named[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& [entity, character] : named) {
            if (name == entity) {
                text += character;
                return true;
            }
        }
        if (name.size() < 2 || name[0] != '#')
            return false;
        const bool hex = name[1] == 'x';
        uint32_t code = 0;
        for (const char c : name.substr(hex ? 2 : 1)) {
            const int digit = c >= '0' && c <= '9'          ? c - '0'
                              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                            : -1;
            if (digit < 0 || code > 0x10FFFF)
                return false;
            code = code * (hex ? 16 : 10) + uint32_t(digit);
        }
        if (code == 0 || code > 0x10FFFF)
            return false;
        const QByteArray utf8 = QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1).toUtf8();
        text.append(utf8.constData(), size_t(utf8.size()));
        return true;
    }

    const char* m_position;
    const char* m_end;
    std::string_view m_key;
    std::vector<Frame> m_stack;
    std::optional<QString> m_found;
};
} // namespace

std::optional<QString> AlbumDataPhotoPath::find(QByteArrayView xml, std::string_view key)
{
    return PathScanner(xml.data(), xml.data() + xml.size(), key).run();
}
