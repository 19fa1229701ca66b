#include "library/XmlPropertyList.h"

#include <QByteArray>
#include <charconv>
#include <cstring>
#include <pugixml.hpp>
#include <unordered_map>
#include <vector>

struct XmlPropertyList::Document {
    pugi::xml_document xml;
    pugi::xml_node root;
};

namespace {
// Keeps a whitespace-only <string> as it is written; whitespace between elements is skipped.
constexpr unsigned parseOptions = pugi::parse_default | pugi::parse_ws_pcdata_single;

enum class Kind { Dict, Array, String, Key, Integer, Real, True, False, Date, Data, Unknown };

Kind kindOf(const pugi::xml_node& node)
{
    const char* name = node.name();
    switch (name[0]) {
    case 'd':
        return std::strcmp(name, "dict") == 0   ? Kind::Dict
               : std::strcmp(name, "date") == 0 ? Kind::Date
               : std::strcmp(name, "data") == 0 ? Kind::Data
                                                : Kind::Unknown;
    case 'a':
        return std::strcmp(name, "array") == 0 ? Kind::Array : Kind::Unknown;
    case 's':
        return std::strcmp(name, "string") == 0 ? Kind::String : Kind::Unknown;
    case 'k':
        return std::strcmp(name, "key") == 0 ? Kind::Key : Kind::Unknown;
    case 'i':
        return std::strcmp(name, "integer") == 0 ? Kind::Integer : Kind::Unknown;
    case 'r':
        return std::strcmp(name, "real") == 0 ? Kind::Real : Kind::Unknown;
    case 't':
        return std::strcmp(name, "true") == 0 ? Kind::True : Kind::Unknown;
    case 'f':
        return std::strcmp(name, "false") == 0 ? Kind::False : Kind::Unknown;
    default:
        return Kind::Unknown;
    }
}

bool isText(const pugi::xml_node& node)
{
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// The element's text. Usually one piece that stays in the parsed buffer; text split by CDATA
// sections is joined in `scratch`.
std::string_view textOf(const pugi::xml_node& node, std::string& scratch)
{
    const pugi::xml_node first = node.first_child();
    if (!first)
        return {};
    if (!first.next_sibling())
        return first.value();
    scratch.clear();
    for (pugi::xml_node piece = first; piece; piece = piece.next_sibling())
        scratch += piece.value();
    return scratch;
}

std::string_view trimmed(std::string_view text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<int64_t> parseInteger(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int64_t value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> parseReal(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

int64_t daysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// "2001-01-01T00:00:00Z" as seconds since the property-list reference date.
std::optional<double> parseDate(std::string_view text)
{
    text = trimmed(text);
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const auto field = [&](size_t at, size_t length) -> std::optional<unsigned> {
        unsigned value = 0;
        const auto [end, status] = std::from_chars(text.data() + at, text.data() + at + length, value);
        if (status != std::errc() || end != text.data() + at + length)
            return std::nullopt;
        return value;
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const auto hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 || *day < 1 ||
        *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    constexpr int64_t referenceDays = 11323; // 2001-01-01 after 1970-01-01
    const int64_t days = daysFromCivil(*year, *month, *day) - referenceDays;
    return double(days * 86400 + *hour * 3600 + *minute * 60 + *second);
}

bool isBase64(std::string_view text)
{
    for (const char c : text) {
        const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '+' || c == '/' || c == '=' || c == ' ' || c == '\t' || c == '\n' ||
                           c == '\r';
        if (!valid)
            return false;
    }
    return true;
}

std::string describe(const pugi::xml_node& node, const char* problem)
{
    return std::string(problem) + " (element <" + node.name() + "> at offset " +
           std::to_string(node.offset_debug()) + ")";
}

// Checks what conversion later takes for granted, so building a value never fails.
class Validator {
public:
    std::string error;

    bool check(const pugi::xml_node& node, int depth)
    {
        switch (kindOf(node)) {
        case Kind::Dict:
        case Kind::Array:
            return checkContainer(node, depth);
        case Kind::String:
        case Kind::Key:
            return checkText(node);
        case Kind::Integer:
            return checkText(node) &&
                   expect(node, parseInteger(textOf(node, m_scratch)).has_value(), "Malformed integer");
        case Kind::Real:
            return checkText(node) &&
                   expect(node, parseReal(textOf(node, m_scratch)).has_value(), "Malformed real");
        case Kind::Date:
            return checkText(node) &&
                   expect(node, parseDate(textOf(node, m_scratch)).has_value(), "Malformed date");
        case Kind::Data:
            return checkText(node) && expect(node, isBase64(textOf(node, m_scratch)), "Malformed data");
        case Kind::True:
        case Kind::False:
            return expect(node, !node.first_child(), "Unexpected content");
        case Kind::Unknown:
            break;
        }
        return expect(node, false, "Unknown element");
    }

private:
    bool expect(const pugi::xml_node& node, bool condition, const char* problem)
    {
        if (!condition && error.empty())
            error = describe(node, problem);
        return condition;
    }

    bool checkText(const pugi::xml_node& node)
    {
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (!isText(child))
                return expect(child, false, "Unexpected element inside a value");
        }
        return true;
    }

    bool checkContainer(const pugi::xml_node& node, int depth)
    {
        if (!expect(node, depth <= XmlPropertyList::maximumDepth, "Nested too deeply"))
            return false;
        const bool isDict = kindOf(node) == Kind::Dict;
        bool expectKey = true;
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (child.type() != pugi::node_element)
                continue;
            const bool isKey = kindOf(child) == Kind::Key;
            if (isDict &&
                !expect(child, isKey == expectKey, isKey ? "Key without value" : "Value without key"))
                return false;
            if (!isDict && !expect(child, !isKey, "Key outside a dictionary"))
                return false;
            if (!check(child, depth + 1))
                return false;
            expectKey = !isKey;
        }
        return expect(node, !isDict || expectKey, "Key without value");
    }

    std::string m_scratch;
};

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

// Builds values from a validated document.
class Builder {
public:
    PlistPtr value(const pugi::xml_node& node)
    {
        switch (kindOf(node)) {
        case Kind::Dict:
            return PlistValue::dictionary(dictionary(node));
        case Kind::Array: {
            PlistArray array;
            for (pugi::xml_node child = firstElement(node); child; child = nextElement(child.next_sibling()))
                array.push_back(value(child));
            return PlistValue::array(std::move(array));
        }
        case Kind::String:
        case Kind::Key:
            return PlistValue::string(std::string(textOf(node, m_scratch)));
        case Kind::Integer:
            return PlistValue::integer(parseInteger(textOf(node, m_scratch)).value_or(0));
        case Kind::Real:
            return PlistValue::real(parseReal(textOf(node, m_scratch)).value_or(0));
        case Kind::Date:
            return PlistValue::date(parseDate(textOf(node, m_scratch)).value_or(0));
        case Kind::Data: {
            const std::string_view text = textOf(node, m_scratch);
            return PlistValue::data(QByteArray::fromBase64(QByteArray(text.data(), qsizetype(text.size()))));
        }
        case Kind::True:
            return PlistValue::boolean(true);
        case Kind::False:
        case Kind::Unknown:
            break;
        }
        return PlistValue::boolean(false);
    }

    PlistDictionary dictionary(const pugi::xml_node& node)
    {
        PlistDictionary dictionary;
        for (pugi::xml_node key = firstElement(node); key; key = nextElement(key.next_sibling())) {
            const pugi::xml_node element = nextElement(key.next_sibling());
            dictionary.insert_or_assign(std::string(textOf(key, m_scratch)), value(element));
            key = element;
        }
        return dictionary;
    }

    std::string text(const pugi::xml_node& node) { return std::string(textOf(node, m_scratch)); }

private:
    std::string m_scratch;
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
        return parseInteger(textOf(rating, scratch)).value_or(0);
    case Kind::Real:
        return UnratedPhotoFilter::truncatedReal(parseReal(textOf(rating, scratch)).value_or(0));
    case Kind::True:
        return 1;
    case Kind::String:
        return UnratedPhotoFilter::leadingInteger(textOf(rating, scratch));
    default:
        return 0;
    }
}

bool isAccepted(const pugi::xml_node& entry, const UnratedPhotoFilter& filter)
{
    if (kindOf(entry) != Kind::Dict)
        return false;
    // One pass over the entry for the three keys that decide; the last of a repeated key counts.
    pugi::xml_node mediaType, rating, guid;
    std::string scratch;
    for (pugi::xml_node key = firstElement(entry); key; key = nextElement(key.next_sibling())) {
        const pugi::xml_node value = nextElement(key.next_sibling());
        const std::string_view name = textOf(key, scratch);
        if (name == "MediaType")
            mediaType = value;
        else if (name == "Rating")
            rating = value;
        else if (name == "GUID")
            guid = value;
        key = value;
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
    Validator validator;
    if (!validator.check(m_document->root, 1)) {
        if (errorText)
            *errorText = validator.error;
        return nullptr;
    }
    return Builder().value(m_document->root);
}

std::optional<PlistArray> XmlPropertyList::findUnratedAlbums(const UnratedPhotoFilter& filter,
                                                             std::string* errorText) const
{
    const pugi::xml_node root = m_document->root;
    if (kindOf(root) != Kind::Dict)
        return PlistArray();
    const pugi::xml_node master = valueForKey(root, "Master Image List");
    const pugi::xml_node albums = valueForKey(root, "List of Albums");
    if (kindOf(master) != Kind::Dict || kindOf(albums) != Kind::Array)
        return PlistArray();

    // Keys split by CDATA need storage of their own; the rest point into the parsed buffer.
    std::vector<std::unique_ptr<std::string>> joinedKeys;
    std::unordered_map<std::string_view, pugi::xml_node> entries;
    std::string scratch;
    for (pugi::xml_node key = firstElement(master); key; key = nextElement(key.next_sibling())) {
        const pugi::xml_node entry = nextElement(key.next_sibling());
        std::string_view name = textOf(key, scratch);
        if (name.data() == scratch.data()) {
            joinedKeys.push_back(std::make_unique<std::string>(scratch));
            name = *joinedKeys.back();
        }
        entries.insert_or_assign(name, entry);
        key = entry;
    }

    Validator validator;
    Builder builder;
    PlistArray result;
    for (pugi::xml_node album = firstElement(albums); album; album = nextElement(album.next_sibling())) {
        if (kindOf(album) != Kind::Dict)
            continue;
        const pugi::xml_node keyList = valueForKey(album, "KeyList");
        if (kindOf(keyList) != Kind::Array)
            continue;
        PlistArray items;
        for (pugi::xml_node key = firstElement(keyList); key; key = nextElement(key.next_sibling())) {
            if (kindOf(key) != Kind::String)
                continue;
            const std::string_view name = textOf(key, scratch);
            const auto found = entries.find(name);
            if (found == entries.end() || !isAccepted(found->second, filter))
                continue;
            // Only what is handed on is built, so only that needs checking; the depth of an entry
            // inside the file is at least three (root, list, entry).
            if (!validator.check(found->second, 3)) {
                if (errorText)
                    *errorText = validator.error;
                return std::nullopt;
            }
            PlistDictionary record = builder.dictionary(found->second);
            record.insert_or_assign("qm_ItemKey", PlistValue::string(std::string(name)));
            items.push_back(PlistValue::dictionary(std::move(record)));
        }
        if (items.empty())
            continue;
        const pugi::xml_node name = valueForKey(album, "AlbumName");
        PlistDictionary record;
        record.emplace("name", PlistValue::string(kindOf(name) == Kind::String ? builder.text(name) : ""));
        record.emplace("items", PlistValue::array(std::move(items)));
        result.push_back(PlistValue::dictionary(std::move(record)));
    }
    return result;
}
