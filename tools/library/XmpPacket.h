#pragma once

#include <QByteArray>
#include <cstddef>
#include <optional>
#include <string>

// What a sidecar's bytes say about xmp:Rating, learned in one linear pass of an XML parser
// (pugixml), so that a sidecar of any size costs time in proportion to its size.
//
// The bytes are XMP when their root is x:xmpmeta (namespace adobe:ns:meta/) holding rdf:RDF, or
// rdf:RDF itself, and every element rdf:RDF holds is an rdf:Description; names are resolved
// through their namespace bindings, never by their prefixes. Anything else is not ours to write:
// some other program's XML that happens to mention the RDF namespace.
//
// Where the packet holds exactly one xmp:Rating directly under an rdf:Description, as an
// attribute or as an element of plain text, its value's bytes are known; where it holds none, the
// first rdf:Description's start tag can take one. A change there edits those bytes alone. Other
// forms (several ratings, a rating with attributes or markup) are left to the metadata library.
//
// Any thread.
class XmpPacket {
public:
    enum class Kind { Empty, Xmp, NotXmp };
    enum class Rating { Absent, Plain, Other };

    explicit XmpPacket(const QByteArray& bytes);

    Kind kind() const { return m_kind; }
    // Meaningful for Kind::Xmp alone.
    Rating rating() const { return m_rating; }
    // The rating's text, entities decoded, where rating() is Plain.
    const std::string& ratingText() const { return m_ratingText; }

    // A change of the packet's bytes: [from, to) give way to `text`.
    struct Edit {
        qsizetype from = 0;
        qsizetype to = 0;
        QByteArray text;
    };
    // The edit that sets the rating to `rating`: the value's text replaced, or the property added
    // to the first rdf:Description's start tag. Nothing where that cannot be done soundly. Told
    // rather than made, so a large packet is written around it instead of being copied first.
    std::optional<Edit> ratingEdit(int rating) const;

private:
    void readStructure(char* buffer, size_t size);

    QByteArray m_bytes;
    Kind m_kind = Kind::NotXmp;
    Rating m_rating = Rating::Other;
    std::string m_ratingText;
    // Bytes [m_from, m_to) give way to the new value; an insertion where m_from == m_to.
    qsizetype m_from = -1;
    qsizetype m_to = -1;
    bool m_insertion = false;
    QByteArray m_prefix;        // of the inserted property
    bool m_bindsPrefix = false; // the insertion also binds m_prefix
};
