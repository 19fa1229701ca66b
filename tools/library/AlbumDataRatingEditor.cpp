#include "tools/library/AlbumDataRatingEditor.h"

#include "platform/foundation/XmlPlistScalars.h"
#include "tools/library/PhotoKeyCensus.h"

#include <QList>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct Tag {
    enum class Kind { Open, Close, Empty, End, Bad };
    Kind kind = Kind::End;
    std::string_view name;
    const char* start = nullptr; // its '<'
    const char* end = nullptr;   // one past its '>'

    bool isValue() const { return kind == Kind::Open || kind == Kind::Empty; }
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allSpace(const char* from, const char* to)
{
    for (; from < to; ++from)
        if (!isSpace(*from))
            return false;
    return true;
}

// Steps from tag to tag through bytes already known to be well-formed, skipping text, comments,
// processing instructions, CDATA sections and declarations. Anything it cannot follow stops it
// with a problem rather than a guess.
class Scanner {
public:
    Scanner(const char* begin, const char* end)
        : m_end(end)
        , m_position(begin)
    {}

    const std::string& problem() const { return m_problem; }
    const char* position() const { return m_position; }
    void setPosition(const char* position) { m_position = position; }

    // Whether everything stepped over since the last resetPlain() was plain markup: tags with a
    // name alone (no attributes, no spaces), no comments, CDATA sections, processing instructions
    // or declarations, and no key inside a value that starts with a digit as a photo's key does.
    bool plain() const { return m_plain; }
    void resetPlain() { m_plain = true; }
    void markNotPlain() { m_plain = false; }

    bool fail(std::string problem)
    {
        if (m_problem.empty())
            m_problem = std::move(problem);
        return false;
    }

    Tag next()
    {
        for (;;) {
            const auto* open =
                static_cast<const char*>(std::memchr(m_position, '<', size_t(m_end - m_position)));
            if (!open)
                return {};
            if (open + 1 < m_end && (open[1] == '!' || open[1] == '?'))
                m_plain = false;
            if (startsWith(open, "<!--")) {
                if (!skipPast(open + 4, "-->"))
                    return bad("an unterminated comment");
            } else if (startsWith(open, "<![CDATA[")) {
                if (!skipPast(open + 9, "]]>"))
                    return bad("an unterminated CDATA section");
            } else if (startsWith(open, "<?")) {
                if (!skipPast(open + 2, "?>"))
                    return bad("an unterminated processing instruction");
            } else if (startsWith(open, "<!")) {
                if (!skipDeclaration(open + 2))
                    return bad("an unterminated declaration");
            } else {
                return elementTag(open);
            }
        }
    }

    // Steps past the element `tag` opens, returning where it ends. Most of a library is stepped
    // over here, so plain tags (no attributes with quotes) are only counted, not taken apart.
    const char* skip(const Tag& tag)
    {
        if (tag.kind == Tag::Kind::Empty)
            return tag.end;
        for (int depth = 1; depth > 0;) {
            const auto* open =
                static_cast<const char*>(std::memchr(m_position, '<', size_t(m_end - m_position)));
            const auto* close =
                open ? static_cast<const char*>(std::memchr(open, '>', size_t(m_end - open))) : nullptr;
            if (!close || open[1] == '!' || open[1] == '?' || !isNameOnly(open, close)) {
                const Tag inner = next();
                if (inner.kind == Tag::Kind::Open)
                    ++depth;
                else if (inner.kind == Tag::Kind::Close)
                    --depth;
                else if (inner.kind != Tag::Kind::Empty)
                    return fail("an element that does not end"), nullptr;
                continue;
            }
            if (open[1] == '/') {
                --depth;
            } else if (close[-1] != '/') {
                ++depth;
                if (close - open == 4 && std::memcmp(open + 1, "key", 3) == 0 && close + 1 < m_end &&
                    isDigit(close[1]))
                    m_plain = false;
            }
            m_position = close + 1;
        }
        return m_position;
    }

    // The text of the element `tag` opens, up to its end tag: raw where it holds no markup or
    // entity (the usual case, no copy), else decoded into `decoded`.
    bool text(const Tag& tag, std::string& decoded, std::string_view& text)
    {
        if (tag.kind == Tag::Kind::Empty) {
            text = {};
            return true;
        }
        const auto* close = static_cast<const char*>(std::memchr(tag.end, '<', size_t(m_end - tag.end)));
        if (close && startsWith(close, "</") && !std::memchr(tag.end, '&', size_t(close - tag.end))) {
            text = std::string_view(tag.end, size_t(close - tag.end));
            m_position = close;
            return next().kind == Tag::Kind::Close;
        }
        decoded.clear();
        for (const char* p = tag.end; p < m_end;) {
            if (*p == '&') {
                const auto* semicolon = static_cast<const char*>(std::memchr(p, ';', size_t(m_end - p)));
                if (!semicolon || !appendEntity(std::string_view(p + 1, size_t(semicolon - p - 1)), decoded))
                    return fail("an entity it does not know");
                p = semicolon + 1;
            } else if (startsWith(p, "<![CDATA[")) {
                m_plain = false;
                const char* stop = find(p + 9, "]]>");
                if (!stop)
                    return fail("an unterminated CDATA section");
                decoded.append(p + 9, stop);
                p = stop + 3;
            } else if (startsWith(p, "<!--")) {
                m_plain = false;
                const char* stop = find(p + 4, "-->");
                if (!stop)
                    return fail("an unterminated comment");
                p = stop + 3;
            } else if (*p == '<') {
                m_position = p;
                text = decoded;
                return next().kind == Tag::Kind::Close || fail("markup inside a key");
            } else {
                decoded += *p++;
            }
        }
        return fail("a key that does not end");
    }

private:
    // Whether the tag from `open` to `close` (its '<' and '>') holds its name alone: such a tag is
    // only counted, anything else (attributes, quotes, spaces) is taken apart by next().
    static bool isNameOnly(const char* open, const char* close)
    {
        for (const char* p = open + 1; p < close; ++p)
            if (isSpace(*p) || *p == '"' || *p == '\'')
                return false;
        return true;
    }

    bool startsWith(const char* at, std::string_view prefix) const
    {
        return size_t(m_end - at) >= prefix.size() && std::memcmp(at, prefix.data(), prefix.size()) == 0;
    }

    const char* find(const char* from, std::string_view what) const
    {
        const void* found = memmem(from, size_t(m_end - from), what.data(), what.size());
        return static_cast<const char*>(found);
    }

    bool skipPast(const char* from, std::string_view what)
    {
        const char* found = find(from, what);
        if (!found)
            return false;
        m_position = found + what.size();
        return true;
    }

    // The '>' that ends the markup starting before `p`, outside quoted strings and, for a
    // declaration, outside its internal subset in brackets; m_end when there is none.
    const char* markupEnd(const char* p, bool hasSubset) const
    {
        int brackets = 0;
        char quote = 0;
        for (; p < m_end; ++p) {
            if (quote) {
                if (*p == quote)
                    quote = 0;
            } else if (*p == '"' || *p == '\'') {
                quote = *p;
            } else if (hasSubset && *p == '[') {
                ++brackets;
            } else if (hasSubset && *p == ']') {
                --brackets;
            } else if (*p == '>' && brackets <= 0) {
                return p;
            }
        }
        return m_end;
    }

    // A declaration such as a document type, with its quoted strings and internal subset.
    bool skipDeclaration(const char* p)
    {
        p = markupEnd(p, true);
        if (p == m_end)
            return false;
        m_position = p + 1;
        return true;
    }

    Tag elementTag(const char* open)
    {
        Tag tag;
        tag.start = open;
        const bool closing = open + 1 < m_end && open[1] == '/';
        const char* name = open + (closing ? 2 : 1);
        const char* p = name;
        while (p < m_end && !isSpace(*p) && *p != '/' && *p != '>')
            ++p;
        tag.name = std::string_view(name, size_t(p - name));
        if (p < m_end && *p != '>' && !(*p == '/' && p + 1 < m_end && p[1] == '>' && !closing))
            m_plain = false;
        p = markupEnd(p, false);
        if (p == m_end || tag.name.empty())
            return bad("a tag that does not end");
        tag.kind = closing ? Tag::Kind::Close : p[-1] == '/' ? Tag::Kind::Empty : Tag::Kind::Open;
        tag.end = p + 1;
        m_position = tag.end;
        return tag;
    }

    Tag bad(std::string problem)
    {
        fail(std::move(problem));
        Tag tag;
        tag.kind = Tag::Kind::Bad;
        return tag;
    }

    static bool appendEntity(std::string_view name, std::string& out)
    {
        if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "amp")
            out += '&';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            uint32_t code = 0;
            const std::string_view digits = name.substr(hex ? 2 : 1);
            if (digits.empty() || digits.size() > 8)
                return false;
            for (char c : digits) {
                const int digit = c >= '0' && c <= '9'          ? c - '0'
                                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                : -1;
                if (digit < 0)
                    return false;
                code = code * (hex ? 16 : 10) + uint32_t(digit);
            }
            if (code == 0 || code > 0x10FFFF)
                return false;
            XmlPlistScalars::appendUtf8(out, code);
        } else {
            return false;
        }
        return true;
    }

    const char* m_end;
    const char* m_position;
    std::string m_problem;
    bool m_plain = true;
};

// Walks the pairs of the dictionary `dict` opens. `visit(key, keyTag, keyEnd, valueTag)` must step
// past the value (Scanner::skip or a walk of its own); `keyEnd` is where the key's element ends.
// Gives the start of "</dict>", or null.
template <typename Visit> const char* walkDictionary(Scanner& scanner, const Tag& dict, Visit&& visit)
{
    if (dict.kind == Tag::Kind::Empty)
        return dict.start;
    std::string decoded;
    for (;;) {
        const Tag key = scanner.next();
        if (key.kind == Tag::Kind::Close)
            return key.start;
        if (!key.isValue() || key.name != "key")
            return scanner.fail("a dictionary entry without a key"), nullptr;
        std::string_view keyText;
        if (!scanner.text(key, decoded, keyText))
            return nullptr;
        const char* keyEnd = scanner.position();
        const Tag value = scanner.next();
        if (!value.isValue())
            return scanner.fail("a key without a value"), nullptr;
        if (!visit(keyText, key, keyEnd, value))
            return nullptr;
    }
}

struct Edit {
    const char* from;
    const char* to;
    QByteArray with;
};

// The indentation of the line `at` stands on: the spaces and tabs before it, if only they are.
std::string_view lineIndent(const char* begin, const char* at)
{
    const char* p = at;
    while (p > begin && (p[-1] == ' ' || p[-1] == '\t'))
        --p;
    if (p > begin && p[-1] != '\n' && p[-1] != '\r')
        return {};
    return std::string_view(p, size_t(at - p));
}

class EntryEditor {
public:
    // `values`: the keys to set in the entry and their values' elements, in the order missing ones
    // are appended.
    EntryEditor(const char* begin, std::vector<std::pair<std::string_view, QByteArray>> values)
        : m_begin(begin)
        , m_values(std::move(values))
    {}

    // The last "ImagePath" string of the last entry edited.
    const std::optional<std::string>& imagePath() const { return m_imagePath; }

    // Edits the photo entry `dict` opens, found under the key `keyTag` of the image list.
    bool edit(Scanner& scanner, const Tag& keyTag, const Tag& dict, std::vector<Edit>& edits)
    {
        m_imagePath.reset();
        std::string decoded;
        const char* previousEnd = dict.end;
        const char* lastValueEnd = nullptr;
        std::string_view pairSeparator, firstSeparator, keyValueSeparator;
        std::vector<bool> present(m_values.size(), false);
        const char* close = walkDictionary(
            scanner, dict, [&](std::string_view key, const Tag& k, const char* keyEnd, const Tag& v) {
                const std::string_view separator(previousEnd, size_t(k.start - previousEnd));
                if (!lastValueEnd)
                    firstSeparator = separator;
                else if (pairSeparator.empty())
                    pairSeparator = separator;
                if (keyValueSeparator.empty())
                    keyValueSeparator = std::string_view(keyEnd, size_t(v.start - keyEnd));
                if (!key.empty() && isDigit(key[0]))
                    scanner.markNotPlain();
                const char* valueEnd = nullptr;
                if (key == "ImagePath" && v.name == "string") {
                    std::string_view text;
                    if (!scanner.text(v, decoded, text))
                        return false;
                    m_imagePath = std::string(text);
                    valueEnd = scanner.position();
                } else {
                    valueEnd = scanner.skip(v);
                }
                if (!valueEnd)
                    return false;
                for (size_t i = 0; i < m_values.size(); ++i) {
                    if (key == m_values[i].first) {
                        edits.push_back({v.start, valueEnd, m_values[i].second});
                        present[i] = true;
                    }
                }
                previousEnd = lastValueEnd = valueEnd;
                return true;
            });
        if (!close)
            return false;
        // The keys the entry lacks, each pair as `separator` and the key, `between` and the value.
        const auto missing = [&](const QByteArray& separator, const QByteArray& between) {
            QByteArray pairs;
            for (size_t i = 0; i < m_values.size(); ++i) {
                if (!present[i])
                    pairs += separator + "<key>" +
                             QByteArray(m_values[i].first.data(), qsizetype(m_values[i].first.size())) +
                             "</key>" + between + m_values[i].second;
            }
            return pairs;
        };
        if (std::all_of(present.begin(), present.end(), [](bool is) { return is; }))
            return true;
        if (lastValueEnd) {
            const std::string_view separator = pairSeparator.empty() ? firstSeparator : pairSeparator;
            edits.push_back({lastValueEnd, lastValueEnd,
                             missing(spaceOr(separator, ""), spaceOr(keyValueSeparator, ""))});
            return true;
        }
        // An empty entry: one level deeper than the entry's own line, in the file's indent unit.
        const std::string_view outer = lineIndent(m_begin, dict.start);
        const std::string_view keyIndent = lineIndent(m_begin, keyTag.start);
        const QByteArray unit = outer.find('\t') != std::string_view::npos || outer.empty() ? "\t" : "  ";
        const QByteArray inner = "\n" + QByteArray(keyIndent.data(), qsizetype(keyIndent.size())) + unit;
        const QByteArray closing = "\n" + QByteArray(outer.data(), qsizetype(outer.size()));
        const QByteArray body = missing(inner, inner) + closing;
        if (dict.kind == Tag::Kind::Empty)
            edits.push_back({dict.start, dict.end, "<dict>" + body + "</dict>"});
        else
            edits.push_back({dict.end, close, body});
        return true;
    }

private:
    static QByteArray spaceOr(std::string_view text, const char* fallback)
    {
        if (!allSpace(text.data(), text.data() + text.size()))
            return fallback;
        return QByteArray(text.data(), qsizetype(text.size()));
    }

    const char* m_begin;
    std::vector<std::pair<std::string_view, QByteArray>> m_values;
    std::optional<std::string> m_imagePath;
};

bool isNumericKey(std::string_view key)
{
    return !key.empty() && std::all_of(key.begin(), key.end(), isDigit);
}

} // namespace

QByteArray AlbumDataRatingEditor::Layout::toNote() const
{
    return "photos " + QByteArray::number(photosBegin) + ' ' + QByteArray::number(photosEnd);
}

std::optional<AlbumDataRatingEditor::Layout> AlbumDataRatingEditor::Layout::fromNote(QByteArrayView note)
{
    const QList<QByteArray> fields = note.toByteArray().split(' ');
    if (fields.size() != 3 || fields[0] != "photos")
        return std::nullopt;
    bool beginOk = false;
    bool endOk = false;
    const Layout layout{fields[1].toLongLong(&beginOk), fields[2].toLongLong(&endOk)};
    if (!beginOk || !endOk || layout.photosBegin < 0 || layout.photosEnd < layout.photosBegin)
        return std::nullopt;
    return layout;
}

AlbumDataRatingEditor::Result AlbumDataRatingEditor::withRating(QByteArray xml, std::string_view key,
                                                                int stars,
                                                                const std::optional<Layout>& layout,
                                                                std::optional<int> ratingElsewhere)
{
    return rated(std::move(xml), key, stars, layout, nullptr, nullptr, ratingElsewhere);
}

AlbumDataRatingEditor::Result AlbumDataRatingEditor::withRatingAt(QByteArray xml, std::string_view key,
                                                                  int stars,
                                                                  const std::vector<qsizetype>& entries,
                                                                  const std::optional<Layout>& layout,
                                                                  std::optional<int> ratingElsewhere)
{
    return rated(std::move(xml), key, stars, layout, &entries, nullptr, ratingElsewhere);
}

AlbumDataRatingEditor::Result AlbumDataRatingEditor::splicedAt(const QByteArray& xml, std::string_view key,
                                                               int stars,
                                                               const std::vector<qsizetype>& entries,
                                                               Splice& splice,
                                                               std::optional<int> ratingElsewhere)
{
    splice = Splice();
    return rated(xml, key, stars, std::nullopt, &entries, &splice, ratingElsewhere);
}

AlbumDataRatingEditor::Result AlbumDataRatingEditor::splicedIn(const QByteArray& xml, std::string_view key,
                                                               int stars, const Layout& layout,
                                                               Splice& splice,
                                                               std::optional<int> ratingElsewhere)
{
    splice = Splice();
    return rated(xml, key, stars, layout, nullptr, &splice, ratingElsewhere);
}

AlbumDataRatingEditor::Result AlbumDataRatingEditor::located(const QByteArray& xml, std::string_view key,
                                                             const std::vector<qsizetype>* entries,
                                                             const std::optional<Layout>& layout)
{
    // Described as a splice, the change leaves the bytes as they are.
    Splice ignored;
    return rated(xml, key, 1, layout, entries, &ignored, std::nullopt);
}

AlbumDataRatingEditor::Result AlbumDataRatingEditor::rated(QByteArray xml, std::string_view key, int stars,
                                                           const std::optional<Layout>& layout,
                                                           const std::vector<qsizetype>* entries,
                                                           Splice* splice, std::optional<int> ratingElsewhere)
{
    Result result;
    const char* begin = xml.constData();
    const char* end = begin + xml.size();
    // Multi-byte encodings would need every offset translated; no library writes them.
    if (xml.size() >= 2 &&
        (begin[0] == '\0' || begin[1] == '\0' || (uchar(begin[0]) == 0xFE && uchar(begin[1]) == 0xFF) ||
         (uchar(begin[0]) == 0xFF && uchar(begin[1]) == 0xFE))) {
        result.problem = "it is not in UTF-8";
        return result;
    }
    Scanner scanner(begin, end);
    std::vector<Edit> edits;
    const auto integer = [](int value) { return "<integer>" + QByteArray::number(value) + "</integer>"; };
    std::vector<std::pair<std::string_view, QByteArray>> values{{"Rating", integer(stars)}};
    if (ratingElsewhere)
        values.emplace_back(ratingElsewhereKey, integer(*ratingElsewhere));
    EntryEditor entryEditor(begin, std::move(values));
    std::optional<Layout> learned;

    const auto editEntry = [&](const Tag& keyTag, const Tag& value) {
        if (value.name != "dict")
            return scanner.fail("the photo's entry is no dictionary");
        ++result.entries;
        return entryEditor.edit(scanner, keyTag, value, edits);
    };

    // Where the photo's keys are, when a check or the layout tells.
    std::vector<qsizetype> found;
    const bool known = entries != nullptr;
    if (entries) {
        found = *entries;
        learned = layout;
    } else if (layout && isNumericKey(key) && layout->photosEnd <= xml.size() &&
               QByteArrayView(xml).sliced(layout->photosEnd).startsWith("</dict>")) {
        // The layout says the photo's key, written this way, stands nowhere else in the list.
        const QByteArray plainKey = "<key>" + QByteArray(key.data(), qsizetype(key.size())) + "</key>";
        const auto* hit = static_cast<const char*>(memmem(begin + layout->photosBegin,
                                                          size_t(layout->photosEnd - layout->photosBegin),
                                                          plainKey.constData(), size_t(plainKey.size())));
        if (!hit) {
            result.outcome = Outcome::NoSuchPhoto;
            return result;
        }
        found.push_back(hit - begin);
        learned = layout;
    }
    if (known || !found.empty()) {
        if (found.empty()) {
            result.outcome = Outcome::NoSuchPhoto;
            return result;
        }
        for (const qsizetype offset : found) {
            if (offset < 0 || offset >= xml.size()) {
                result.problem = "the photo's key is not where it was";
                return result;
            }
            scanner.setPosition(begin + offset);
            const Tag keyTag = scanner.next();
            std::string decoded;
            std::string_view keyText;
            if (keyTag.kind != Tag::Kind::Open || keyTag.name != "key" ||
                !scanner.text(keyTag, decoded, keyText) || keyText != key) {
                result.problem =
                    scanner.problem().empty() ? "the photo's key is not where it was" : scanner.problem();
                return result;
            }
            const Tag value = scanner.next();
            if (!value.isValue() || !editEntry(keyTag, value)) {
                result.problem = scanner.problem().empty() ? "a key without a value" : scanner.problem();
                return result;
            }
        }
    } else {
        Tag root = scanner.next();
        if (root.kind == Tag::Kind::Open && root.name == "plist")
            root = scanner.next();
        if (!root.isValue() || root.name != "dict") {
            result.problem = scanner.problem().empty() ? "its root is no dictionary" : scanner.problem();
            return result;
        }
        // The whole file is walked: every entry of the photo is changed, even a duplicate that some
        // reader might take instead, and the walk learns the layout that lets the next rating of
        // these contents search for its photo instead.
        bool sawPhoto = false;
        int lists = 0;
        bool plainList = true;
        const char* photosBegin = nullptr;
        const char* photosEnd = nullptr;
        PhotoKeyCensus census;
        const auto visitPhoto = [&](std::string_view photoKey, const Tag& keyTag, const char* keyEnd,
                                    const Tag& value) {
            const bool literal = keyTag.end - keyTag.start == 5 && photoKey.data() == keyTag.end &&
                                 keyEnd - (keyTag.end + photoKey.size()) == 6;
            if (literal)
                census.add(photoKey);
            else
                plainList = false;
            if (photoKey != key)
                return scanner.skip(value) != nullptr;
            sawPhoto = true;
            return editEntry(keyTag, value);
        };
        const bool walked = walkDictionary(
            scanner, root, [&](std::string_view topKey, const Tag&, const char*, const Tag& value) {
                if (topKey != "Master Image List")
                    return scanner.skip(value) != nullptr;
                ++lists;
                if (value.name != "dict")
                    return scanner.skip(value) != nullptr;
                scanner.resetPlain();
                photosEnd = walkDictionary(scanner, value, visitPhoto);
                photosBegin = value.end;
                plainList = plainList && scanner.plain() && value.kind == Tag::Kind::Open;
                return photosEnd != nullptr;
            });
        if (!walked) {
            result.problem = scanner.problem();
            return result;
        }
        if (!sawPhoto) {
            result.outcome = Outcome::NoSuchPhoto;
            return result;
        }
        if (lists == 1 && photosEnd && plainList && census.allDifferent())
            learned = Layout{photosBegin - begin, photosEnd - begin};
    }

    QByteArray& out = result.bytes;
    qsizetype growth = 0;
    for (const Edit& edit : edits)
        growth += edit.with.size() - (edit.to - edit.from);
    if (splice) {
        // What replaces the old bytes from the first change to the end of the last.
        const char* copied = edits.front().from;
        for (const Edit& edit : edits) {
            splice->with.append(copied, edit.from - copied);
            splice->with.append(edit.with);
            copied = edit.to;
        }
        splice->from = edits.front().from - begin;
        splice->to = edits.back().to - begin;
    } else if (std::all_of(edits.begin(), edits.end(),
                           [](const Edit& edit) { return edit.with.size() == edit.to - edit.from; })) {
        // The usual change, one rating for another: no second copy of a file of a hundred megabytes.
        out = std::move(xml);
        for (const Edit& edit : edits)
            std::memcpy(out.data() + (edit.from - begin), edit.with.constData(), size_t(edit.with.size()));
    } else {
        out.reserve(xml.size() + growth);
        const char* copied = begin;
        for (const Edit& edit : edits) {
            out.append(copied, edit.from - copied);
            out.append(edit.with);
            copied = edit.to;
        }
        out.append(copied, end - copied);
    }
    // Every change lies inside the photo list, so only its end moves.
    if (learned) {
        learned->photosEnd += growth;
        result.layout = learned;
    }
    result.changedFrom = edits.front().from - begin;
    result.changedTo = edits.back().to - begin + growth;
    result.imagePath = entryEditor.imagePath();
    result.outcome = Outcome::Changed;
    return result;
}
