#pragma once

#include "platform/foundation/PlistValueBatch.h"
#include "platform/foundation/PropertyList.h"

#include <deque>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// The one reader of XML property lists: every XML list the program and its tools read is parsed
// and judged here, so a file one of them accepts, all accept with the same values, and a file one
// refuses, all refuse with the same reason.
//
// parseInPlace() checks the XML (pugixml, in place) and its frame: one <plist> holding one value,
// no character reference to NUL. Builder then builds values from the nodes and checks, in the
// same walk, that they are a sound property list: known elements, keys paired with values, values
// that read as their type, bounded nesting. It stops at the first problem in file order, so the
// problem reported is the same whichever part of the file is built; check() walks the whole tree
// with the same rules without building it, for readers that build only part of it.
//
// One builder per thread; parsed documents are not shared between threads.
class XmlPlistBuilder {
public:
    // Containers nested deeper than this are refused (the root is level 1), as in binary lists.
    static constexpr int maximumDepth = 512;

    enum class Kind { Dict, Array, String, Key, Integer, Real, True, False, Date, Data, Unknown };

    // Parses `size` bytes at `buffer` into `document` in place: the buffer is modified and must
    // outlive the document. The top-level value, or a null node with the reason in `errorText`.
    static pugi::xml_node parseInPlace(pugi::xml_document& document, char* buffer, size_t size,
                                       std::string* errorText);

    using NodeSet = std::unordered_set<const pugi::xml_node_struct*>;

    // The first problem of the tree at `root` in file order; empty when it is sound. Builds nothing.
    // The dictionaries in `alreadyChecked` (checked as they were built) are passed over.
    static std::string check(const pugi::xml_node& root, const NodeSet* alreadyChecked = nullptr);

    // Whether the C string `name` is `expected`. Compared here rather than by strcmp: element
    // names are compared hundreds of thousands of times a reload, and this stops at the first
    // difference without reading past the end of a shorter name.
    template <size_t Size> static bool isNamed(const char* name, const char (&expected)[Size])
    {
        for (size_t index = 0; index < Size; ++index) {
            if (name[index] != expected[index])
                return false;
        }
        return true;
    }

    // Defined here, to be inlined: a reload calls these for every node of the file.
    static Kind kindOf(const pugi::xml_node& node)
    {
        const char* name = node.name();
        switch (name[0]) {
        case 'd':
            return isNamed(name, "dict")   ? Kind::Dict
                   : isNamed(name, "date") ? Kind::Date
                   : isNamed(name, "data") ? Kind::Data
                                           : Kind::Unknown;
        case 'a':
            return isNamed(name, "array") ? Kind::Array : Kind::Unknown;
        case 's':
            return isNamed(name, "string") ? Kind::String : Kind::Unknown;
        case 'k':
            return isNamed(name, "key") ? Kind::Key : Kind::Unknown;
        case 'i':
            return isNamed(name, "integer") ? Kind::Integer : Kind::Unknown;
        case 'r':
            return isNamed(name, "real") ? Kind::Real : Kind::Unknown;
        case 't':
            return isNamed(name, "true") ? Kind::True : Kind::Unknown;
        case 'f':
            return isNamed(name, "false") ? Kind::False : Kind::Unknown;
        default:
            return Kind::Unknown;
        }
    }

    // The element's text. Usually one piece, kept in the element and in the parsed buffer; text
    // split by CDATA sections continues in child nodes and is joined in `scratch`.
    static std::string_view textOf(const pugi::xml_node& node, std::string& scratch)
    {
        const char* embedded = node.value();
        pugi::xml_node piece = node.first_child();
        if (!piece)
            return embedded;
        scratch.assign(embedded);
        for (; piece; piece = piece.next_sibling())
            scratch += piece.value();
        return scratch;
    }

    static pugi::xml_node nextElement(pugi::xml_node node)
    {
        while (node && node.type() != pugi::node_element)
            node = node.next_sibling();
        return node;
    }

    static pugi::xml_node firstElement(const pugi::xml_node& node) { return nextElement(node.first_child()); }
    // "problem (element <name> at offset N)".
    static std::string describe(const pugi::xml_node& node, const char* problem);

    // The elements of a <dict> taken pairwise in file order, whatever they are, with the text of
    // each first element read once: deciding about a record and building it both need it.
    class Fields {
    public:
        struct Field {
            pugi::xml_node key;
            // Null when the dictionary ends after `key`.
            pugi::xml_node value;
            std::string_view name;
            // Whether `key` holds one piece of text at most, so `name` needs no further check.
            bool isSimple;
        };

        void read(const pugi::xml_node& dict);
        const std::vector<Field>& list() const { return m_fields; }

    private:
        Field field(const pugi::xml_node& key, const pugi::xml_node& value);

        std::vector<Field> m_fields;
        // Names split by CDATA sections, joined; a deque, so the names stay where they are.
        std::deque<std::string> m_joinedNames;
    };

    class Builder {
    public:
        std::string error;

        // nullptr when `node` (at nesting level `depth`, the root being 1) is unsound.
        PlistPtr value(const pugi::xml_node& node, int depth) { return value(node, kindOf(node), depth); }
        PlistPtr value(const pugi::xml_node& node, Kind kind, int depth);

        // Appends the entries of the <dict> `node`, read into `fields`, in file order; false when
        // one of them is unsound.
        bool entries(const pugi::xml_node& node, const Fields& fields, int depth,
                     std::vector<PlistDictionary::value_type>& entries);

        std::string text(const pugi::xml_node& node) { return std::string(textOf(node, m_scratch)); }
        PlistPtr string(std::string text);

        // From now on, scalar values share allocations of `capacity` values (see PlistValueBatch).
        void startBatch(size_t capacity) { m_batch.emplace(capacity); }
        // From now on, nothing is built: every sound value gives one shared placeholder. The
        // dictionaries in `alreadyChecked`, when given, count as sound without a look.
        void checkOnly(const NodeSet* alreadyChecked = nullptr)
        {
            m_checkOnly = true;
            m_alreadyChecked = alreadyChecked;
        }

    private:
        bool expect(const pugi::xml_node& node, bool condition, const char* problem);
        bool nestingAllowed(const pugi::xml_node& node, int depth);
        bool isPlainText(const pugi::xml_node& node);
        std::optional<std::string_view> plainText(const pugi::xml_node& node);
        template <typename T>
        PlistPtr scalar(PlistPtr (PlistValueBatch::*batched)(T), PlistPtr (*plain)(T), T value);
        template <typename Parse, typename T>
        PlistPtr number(const pugi::xml_node& node, Parse parse, PlistPtr (PlistValueBatch::*batched)(T),
                        PlistPtr (*plain)(T), const char* problem);
        PlistPtr data(const pugi::xml_node& node);
        PlistPtr array(const pugi::xml_node& node, int depth);
        PlistPtr dictionary(const pugi::xml_node& node, int depth);
        bool checkDictionary(const pugi::xml_node& node, int depth);

        std::string m_scratch;
        std::optional<PlistValueBatch> m_batch;
        bool m_checkOnly = false;
        const NodeSet* m_alreadyChecked = nullptr;
    };
};
