#include "platform/foundation/XmlPlistBuilder.h"

#include "platform/foundation/XmlPlistScalars.h"

#include <QByteArray>
#include <cstring>

using Kind = XmlPlistBuilder::Kind;

namespace {
// Keeps a whitespace-only <string> as it is written; whitespace between elements is skipped.
// The text of an element is kept in the element itself rather than in a child node of its own:
// that halves the nodes of an album data file, which makes both the parse and every later walk
// over the entries faster. Text after a CDATA section still comes as child nodes.
constexpr unsigned parseOptions =
    pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_embed_pcdata;

bool isText(const pugi::xml_node& node)
{
    const pugi::xml_node_type type = node.type();
    return type == pugi::node_pcdata || type == pugi::node_cdata;
}

// The offset of the first character reference to NUL ("&#0;", "&#x00;"), which XML forbids and
// the parser would turn into the end of the text, silently cutting it short; -1 when there is none.
qsizetype nulReference(const char* bytes, size_t size)
{
    const char* end = bytes + size;
    // memchr, not memmem: a search for one byte runs several times faster over a large file.
    for (const char* at = bytes; (at = static_cast<const char*>(std::memchr(at, '&', size_t(end - at))));
         ++at) {
        const char* next = at + 1;
        if (next == end || *next != '#')
            continue;
        ++next;
        if (next != end && (*next == 'x' || *next == 'X'))
            ++next;
        const char* digits = next;
        while (next != end && *next == '0')
            ++next;
        if (next != digits && next != end && *next == ';')
            return at - bytes;
    }
    return -1;
}

const PlistPtr& placeholder()
{
    static const PlistPtr value = PlistValue::boolean(true);
    return value;
}
} // namespace

pugi::xml_node XmlPlistBuilder::parseInPlace(pugi::xml_document& document, char* buffer, size_t size,
                                             std::string* errorText)
{
    const auto fail = [&](std::string text) {
        if (errorText)
            *errorText = std::move(text);
        return pugi::xml_node();
    };
    if (size == 0)
        return fail("The property list is empty.");
    if (const qsizetype at = nulReference(buffer, size); at >= 0)
        return fail("XML parse error at offset " + std::to_string(at) +
                    ": Character reference to NUL, which XML does not allow");
    const pugi::xml_parse_result result =
        document.load_buffer_inplace(buffer, size, parseOptions, pugi::encoding_auto);
    if (!result)
        return fail(std::string("XML parse error at offset ") + std::to_string(result.offset) + ": " +
                    result.description());
    const pugi::xml_node plist = document.document_element();
    if (std::strcmp(plist.name(), "plist") != 0)
        return fail("The document is no property list: its root element is not <plist>.");
    const pugi::xml_node root = firstElement(plist);
    if (!root)
        return fail("The property list is empty.");
    if (const pugi::xml_node second = nextElement(root.next_sibling()))
        return fail(describe(second, "More than one value at the top level"));
    return root;
}

std::string XmlPlistBuilder::check(const pugi::xml_node& root, const NodeSet* alreadyChecked)
{
    Builder builder;
    builder.checkOnly(alreadyChecked);
    builder.value(root, 1);
    return builder.error;
}

std::string XmlPlistBuilder::describe(const pugi::xml_node& node, const char* problem)
{
    return std::string(problem) + " (element <" + node.name() + "> at offset " +
           std::to_string(node.offset_debug()) + ")";
}

void XmlPlistBuilder::Fields::read(const pugi::xml_node& dict)
{
    m_fields.clear();
    m_joinedNames.clear();
    for (pugi::xml_node key = firstElement(dict); key;) {
        const pugi::xml_node value = nextElement(key.next_sibling());
        m_fields.push_back(field(key, value));
        key = value ? nextElement(value.next_sibling()) : pugi::xml_node();
    }
}

XmlPlistBuilder::Fields::Field XmlPlistBuilder::Fields::field(const pugi::xml_node& key,
                                                              const pugi::xml_node& value)
{
    if (!key.first_child())
        return {key, value, key.value(), true};
    std::string scratch;
    m_joinedNames.push_back(std::string(textOf(key, scratch)));
    return {key, value, m_joinedNames.back(), false};
}

PlistPtr XmlPlistBuilder::Builder::value(const pugi::xml_node& node, Kind kind, int depth)
{
    switch (kind) {
    case Kind::Dict:
        return nestingAllowed(node, depth) ? dictionary(node, depth) : nullptr;
    case Kind::Array:
        return nestingAllowed(node, depth) ? array(node, depth) : nullptr;
    case Kind::String:
    case Kind::Key:
        // Any text is a sound string; only its length would be left to find, and that is not needed.
        if (m_checkOnly)
            return !node.first_child() || isPlainText(node) ? placeholder() : nullptr;
        if (const auto text = plainText(node))
            return m_checkOnly ? placeholder() : string(std::string(*text));
        return nullptr;
    case Kind::Integer:
        return number(node, XmlPlistScalars::parseInteger, &PlistValueBatch::integer, &PlistValue::integer,
                      "Malformed integer");
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

bool XmlPlistBuilder::Builder::entries(const pugi::xml_node& node, const Fields& fields, int depth,
                                       std::vector<PlistDictionary::value_type>& entries)
{
    if (!m_checkOnly)
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
        if (!m_checkOnly)
            entries.emplace_back(std::string(field.name), std::move(built));
    }
    return true;
}

PlistPtr XmlPlistBuilder::Builder::string(std::string text)
{
    return scalar(&PlistValueBatch::string, &PlistValue::string, std::move(text));
}

bool XmlPlistBuilder::Builder::expect(const pugi::xml_node& node, bool condition, const char* problem)
{
    if (!condition && error.empty())
        error = describe(node, problem);
    return condition;
}

bool XmlPlistBuilder::Builder::nestingAllowed(const pugi::xml_node& node, int depth)
{
    return expect(node, depth <= maximumDepth, "Nested too deeply");
}

bool XmlPlistBuilder::Builder::isPlainText(const pugi::xml_node& node)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (!isText(child))
            return expect(child, false, "Unexpected element inside a value");
    }
    return true;
}

// The text of a value or key; none, and the problem noted, when an element sits inside.
std::optional<std::string_view> XmlPlistBuilder::Builder::plainText(const pugi::xml_node& node)
{
    // Nearly always a single piece, kept in the element itself.
    if (!node.first_child())
        return std::string_view(node.value());
    if (!isPlainText(node))
        return std::nullopt;
    return textOf(node, m_scratch);
}

template <typename T>
PlistPtr XmlPlistBuilder::Builder::scalar(PlistPtr (PlistValueBatch::*batched)(T), PlistPtr (*plain)(T),
                                          T value)
{
    if (m_checkOnly)
        return placeholder();
    return m_batch ? ((*m_batch).*batched)(std::move(value)) : plain(std::move(value));
}

template <typename Parse, typename T>
PlistPtr XmlPlistBuilder::Builder::number(const pugi::xml_node& node, Parse parse,
                                          PlistPtr (PlistValueBatch::*batched)(T), PlistPtr (*plain)(T),
                                          const char* problem)
{
    const auto text = plainText(node);
    if (!text)
        return nullptr;
    const auto parsed = parse(*text);
    return expect(node, parsed.has_value(), problem) ? scalar(batched, plain, T(*parsed)) : nullptr;
}

PlistPtr XmlPlistBuilder::Builder::data(const pugi::xml_node& node)
{
    const auto text = plainText(node);
    if (!text || !expect(node, XmlPlistScalars::isBase64(*text), "Malformed data"))
        return nullptr;
    if (m_checkOnly)
        return placeholder();
    return scalar(&PlistValueBatch::data, &PlistValue::data,
                  QByteArray::fromBase64(QByteArray(text->data(), qsizetype(text->size()))));
}

// The checks of entries(), pair by pair as the elements come, without gathering them first: the
// whole-file check visits every dictionary of the file and should cost little next to the parse.
bool XmlPlistBuilder::Builder::checkDictionary(const pugi::xml_node& node, int depth)
{
    for (pugi::xml_node key = firstElement(node); key;) {
        const pugi::xml_node item = nextElement(key.next_sibling());
        if (!expect(key, isNamed(key.name(), "key"), "Value without key"))
            return false;
        if (key.first_child() && !plainText(key))
            return false;
        if (!item)
            return expect(node, false, "Key without value");
        const Kind kind = kindOf(item);
        if (!expect(item, kind != Kind::Key, "Key without value"))
            return false;
        if (!value(item, kind, depth + 1))
            return false;
        key = nextElement(item.next_sibling());
    }
    return true;
}

PlistPtr XmlPlistBuilder::Builder::array(const pugi::xml_node& node, int depth)
{
    PlistArray items;
    for (pugi::xml_node child = firstElement(node); child; child = nextElement(child.next_sibling())) {
        if (!expect(child, kindOf(child) != Kind::Key, "Key outside a dictionary"))
            return nullptr;
        PlistPtr built = value(child, depth + 1);
        if (!built)
            return nullptr;
        if (!m_checkOnly)
            items.push_back(std::move(built));
    }
    return m_checkOnly ? placeholder() : PlistValue::array(std::move(items));
}

PlistPtr XmlPlistBuilder::Builder::dictionary(const pugi::xml_node& node, int depth)
{
    if (m_checkOnly) {
        if (m_alreadyChecked && m_alreadyChecked->count(node.internal_object()))
            return placeholder();
        return checkDictionary(node, depth) ? placeholder() : nullptr;
    }
    Fields fields;
    fields.read(node);
    std::vector<PlistDictionary::value_type> built;
    if (!entries(node, fields, depth, built))
        return nullptr;
    return m_checkOnly ? placeholder()
                       : PlistValue::dictionary(PlistDictionary::fromEntries(std::move(built)));
}
