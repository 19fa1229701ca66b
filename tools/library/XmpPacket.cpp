#include "tools/library/XmpPacket.h"

#include "platform/foundation/HugePageBytes.h"
#include "tools/library/PugiArena.h"

#include <cstring>
#include <pugixml.hpp>
#include <string_view>
#include <vector>

namespace {
constexpr std::string_view metaNamespace = "adobe:ns:meta/";
constexpr std::string_view rdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view xmpNamespace = "http://ns.adobe.com/xap/1.0/";
constexpr std::string_view xmlNamespace = "http://www.w3.org/XML/1998/namespace";

struct QualifiedName {
    std::string_view prefix;
    std::string_view local;
};

QualifiedName split(const char* name)
{
    const std::string_view text(name);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return {{}, text};
    return {text.substr(0, colon), text.substr(colon + 1)};
}

// The namespace `prefix` stands for at `node` (the default namespace for no prefix); empty where
// it is bound to none.
std::string_view namespaceOf(pugi::xml_node node, std::string_view prefix)
{
    if (prefix == "xml")
        return xmlNamespace;
    const std::string binding = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    for (; node.type() == pugi::node_element; node = node.parent()) {
        if (const pugi::xml_attribute found = node.attribute(binding.c_str()))
            return found.value();
    }
    return {};
}

bool isElement(pugi::xml_node node, std::string_view space, std::string_view local)
{
    const QualifiedName name = split(node.name());
    return name.local == local && namespaceOf(node, name.prefix) == space;
}

bool isRating(pugi::xml_node owner, const pugi::xml_attribute& attribute)
{
    const QualifiedName name = split(attribute.name());
    // An attribute without a prefix is in no namespace.
    return name.local == "Rating" && !name.prefix.empty() && namespaceOf(owner, name.prefix) == xmpNamespace;
}

// Whether every attribute of a property element keeps its text the property's value: a language,
// a datatype, an identifier, or a namespace binding.
bool qualifiesTextOnly(pugi::xml_node element)
{
    for (const pugi::xml_attribute& attribute : element.attributes()) {
        const QualifiedName name = split(attribute.name());
        if (name.prefix == "xmlns" || (name.prefix.empty() && name.local == "xmlns"))
            continue;
        const std::string_view space = namespaceOf(element, name.prefix);
        const bool qualifier = (space == xmlNamespace && name.local == "lang") ||
                               (space == rdfNamespace && (name.local == "datatype" || name.local == "ID"));
        if (!qualifier)
            return false;
    }
    return true;
}

std::vector<pugi::xml_node> elementsOf(pugi::xml_node node)
{
    std::vector<pugi::xml_node> elements;
    for (const pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_element)
            elements.push_back(child);
    }
    return elements;
}

// The rdf:Description elements of a packet, or nothing when it is not XMP.
std::optional<std::vector<pugi::xml_node>> descriptionsOf(const pugi::xml_document& document)
{
    const std::vector<pugi::xml_node> roots = elementsOf(document);
    if (roots.size() != 1)
        return std::nullopt;
    pugi::xml_node rdf = roots.front();
    if (isElement(rdf, metaNamespace, "xmpmeta") || isElement(rdf, metaNamespace, "xapmeta")) {
        const std::vector<pugi::xml_node> held = elementsOf(rdf);
        if (held.size() != 1)
            return std::nullopt;
        rdf = held.front();
    }
    if (!isElement(rdf, rdfNamespace, "RDF"))
        return std::nullopt;
    std::vector<pugi::xml_node> descriptions = elementsOf(rdf);
    for (const pugi::xml_node description : descriptions) {
        if (!isElement(description, rdfNamespace, "Description"))
            return std::nullopt;
    }
    return descriptions;
}

// One past the '>' that ends the start tag whose name begins at `from`, minding quoted values.
qsizetype startTagEnd(const QByteArray& bytes, qsizetype from)
{
    char quote = 0;
    for (qsizetype at = from; at < bytes.size(); ++at) {
        const char c = bytes.at(at);
        if (quote)
            quote = c == quote ? 0 : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else if (c == '>')
            return at + 1;
    }
    return -1;
}
} // namespace

XmpPacket::XmpPacket(const QByteArray& bytes)
    : m_bytes(bytes)
{
    if (bytes.trimmed().isEmpty()) {
        m_kind = Kind::Empty;
        return;
    }
    // Parsed in place in a copy: the copy's offsets are the original's, which stays as it was.
    QByteArray buffer = HugePageBytes::uninitialized(bytes.size());
    std::memcpy(buffer.data(), bytes.constData(), size_t(bytes.size()));
    readStructure(buffer.data(), size_t(buffer.size()));
}

void XmpPacket::readStructure(char* buffer, size_t size)
{
    // The nodes of a packet take about its size again where properties are dense, more where
    // elements are. A small packet's nodes are better served by the heap: an import reads
    // thousands of them, and a huge page for each would cost more than its faults.
    std::optional<PugiArena> arena;
    if (qsizetype(size) >= HugePageBytes::fromBytes)
        arena.emplace(2 * size);
    pugi::xml_document document;
    if (!document.load_buffer_inplace(buffer, size, pugi::parse_default, pugi::encoding_utf8))
        return;
    const auto descriptions = descriptionsOf(document);
    if (!descriptions)
        return;
    m_kind = Kind::Xmp;
    const auto offsetOf = [&](const char* text) {
        return text >= buffer && text <= buffer + size ? qsizetype(text - buffer) : qsizetype(-1);
    };
    int found = 0;
    pugi::xml_attribute attribute;
    pugi::xml_node element;
    for (const pugi::xml_node description : *descriptions) {
        for (const pugi::xml_attribute each : description.attributes()) {
            if (isRating(description, each)) {
                ++found;
                attribute = each;
            }
        }
        for (const pugi::xml_node each : elementsOf(description)) {
            if (isElement(each, xmpNamespace, "Rating")) {
                ++found;
                element = each;
            }
        }
    }
    if (found > 1)
        return;
    if (found == 0) {
        m_rating = Rating::Absent;
        if (descriptions->empty())
            return;
        const pugi::xml_node first = descriptions->front();
        // A prefix bound to the namespace there, else one bound to none and used nowhere, whose
        // binding of our own then gives no other name a meaning.
        for (const char* prefix : {"xmp", "xap", "xmpRating"}) {
            const std::string_view bound = namespaceOf(first, prefix);
            if (bound == xmpNamespace || (bound.empty() && !m_bytes.contains(QByteArray(prefix) + ':'))) {
                m_prefix = prefix;
                m_bindsPrefix = bound.empty();
                break;
            }
        }
        if (m_prefix.isEmpty())
            return;
        const qsizetype name = offsetOf(first.name());
        const qsizetype end = name < 0 ? -1 : startTagEnd(m_bytes, name);
        if (end < 0)
            return;
        m_from = m_to = m_bytes.at(end - 2) == '/' ? end - 2 : end - 1;
        m_insertion = true;
        return;
    }
    if (attribute) {
        const qsizetype from = offsetOf(attribute.value());
        const char quote = from > 0 ? m_bytes.at(from - 1) : 0;
        if (quote != '"' && quote != '\'')
            return;
        m_from = from;
        m_to = m_bytes.indexOf(quote, from);
        m_ratingText = attribute.value();
    } else {
        // Plain text alone: no markup, no comment, and only attributes that qualify the text
        // rather than make the element something else (a resource, a structure, a literal).
        const pugi::xml_node text = element.first_child();
        if (!qualifiesTextOnly(element) || text.type() != pugi::node_pcdata || text.next_sibling())
            return;
        m_from = offsetOf(text.value());
        m_to = m_from < 0 ? -1 : m_bytes.indexOf('<', m_from);
        const QByteArray endTag = "</" + QByteArray(element.name());
        if (m_to < 0 || m_to + endTag.size() >= m_bytes.size() ||
            !QByteArrayView(m_bytes).sliced(m_to).startsWith(endTag))
            return;
        const char after = m_bytes.at(m_to + endTag.size());
        if (after != '>' && after != ' ' && after != '\t' && after != '\n' && after != '\r')
            return;
        m_ratingText = text.value();
    }
    if (m_to >= m_from && m_from >= 0)
        m_rating = Rating::Plain;
}

std::optional<XmpPacket::Edit> XmpPacket::ratingEdit(int rating) const
{
    if (m_kind != Kind::Xmp)
        return std::nullopt;
    const QByteArray value = QByteArray::number(rating);
    if (m_rating == Rating::Plain)
        return Edit{m_from, m_to, value};
    if (m_rating != Rating::Absent || !m_insertion)
        return std::nullopt;
    QByteArray property = " ";
    if (m_bindsPrefix)
        property += "xmlns:" + m_prefix + "=\"" +
                    QByteArray(xmpNamespace.data(), qsizetype(xmpNamespace.size())) + "\" ";
    property += m_prefix + ":Rating=\"" + value + "\"";
    return Edit{m_from, m_from, property};
}
