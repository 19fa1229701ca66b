#include "PlistDifferential.h"

#include "library/AlbumInfo.h"
#include "library/StreamedAlbumData.h"
#include "library/UnratedPhotoFilter.h"
#include "library/XmlPropertyList.h"
#include "platform/foundation/PropertyListSerialization.h"

#include <QHash>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {
using Random = std::mt19937_64;

size_t below(Random& random, size_t bound)
{
    return bound == 0 ? 0 : size_t(random() % bound);
}

// Deep equality in which NaN equals NaN: a file holding <real>nan</real> reads the same each time.
bool same(const PlistPtr& a, const PlistPtr& b)
{
    if (!a || !b || a->type() != b->type())
        return a == b;
    if (a->isReal() && std::isnan(*a->asReal()))
        return std::isnan(*b->asReal());
    if (const PlistArray* items = a->asArray()) {
        const PlistArray& others = *b->asArray();
        if (items->size() != others.size())
            return false;
        for (size_t index = 0; index < items->size(); ++index) {
            if (!same((*items)[index], others[index]))
                return false;
        }
        return true;
    }
    if (const PlistDictionary* entries = a->asDictionary()) {
        const PlistDictionary& others = *b->asDictionary();
        if (entries->size() != others.size())
            return false;
        for (auto entry = entries->begin(), other = others.begin(); entry != entries->end();
             ++entry, ++other) {
            if (entry->first != other->first || !same(entry->second, other->second))
                return false;
        }
        return true;
    }
    return *a == *b;
}

template <typename T> const T& pick(Random& random, const std::vector<T>& choices)
{
    return choices[below(random, choices.size())];
}

// Whitespace between elements, sometimes none, sometimes a comment.
std::string gap(Random& random)
{
    static const std::vector<std::string> gaps = {"", "\n", "\n\t", "  ", "\r\n", "<!-- note -->", "\n\t\t"};
    return pick(random, gaps);
}

std::string key(Random& random, const std::string& name)
{
    switch (below(random, 8)) {
    case 0:
        return "<key><![CDATA[" + name + "]]></key>";
    case 1:
        return name.size() > 1 ? "<key>" + name.substr(0, 1) + "<![CDATA[" + name.substr(1) + "]]></key>"
                               : "<key>" + name + "</key>";
    default:
        return "<key>" + name + "</key>";
    }
}

std::string rating(Random& random)
{
    static const std::vector<std::string> ratings = {"<integer>0</integer>",
                                                     "<integer>3</integer>",
                                                     "<integer>-1</integer>",
                                                     "<integer> 0 </integer>",
                                                     "<integer>+2</integer>",
                                                     "<real>0.9</real>",
                                                     "<real>0</real>",
                                                     "<real>nan</real>",
                                                     "<real>-0.5</real>",
                                                     "<string>0</string>",
                                                     "<string> 3x</string>",
                                                     "<string></string>",
                                                     "<true/>",
                                                     "<false/>",
                                                     "<integer>9223372036854775807</integer>",
                                                     "<date>2001-01-01T00:00:00Z</date>",
                                                     "<array/>",
                                                     "<dict/>"};
    return pick(random, ratings);
}

std::string scalar(Random& random)
{
    static const std::vector<std::string> values = {
        "<string>caf\xc3\xa9 &amp; &lt;tea&gt; &#x41;&#66;</string>",
        "<string>  </string>",
        "<string><![CDATA[a<b>]]> tail</string>",
        "<string>line\nbreak</string>",
        "<date>1925-06-01T12:00:00Z</date>",
        "<date>2075-12-31T23:59:59Z</date>",
        "<date>0001-01-01T00:00:00Z</date>",
        "<real>1.5</real>",
        "<real>-2.5e300</real>",
        "<real>+infinity</real>",
        "<integer>-9223372036854775808</integer>",
        "<data>AAEC\n  AwQ=</data>",
        "<data></data>",
        "<true/>",
        "<array><string>a</string><integer>1</integer></array>",
        "<dict><key>x</key><string>y</string></dict>",
    };
    return pick(random, values);
}

std::string photo(Random& random, int index)
{
    std::vector<std::string> fields;
    if (below(random, 10) != 0)
        fields.push_back(key(random, "MediaType") +
                         (below(random, 5) == 0 ? "<string>Movie</string>" : "<string>Image</string>"));
    if (below(random, 6) != 0)
        fields.push_back(key(random, "Rating") + rating(random));
    if (below(random, 8) != 0)
        fields.push_back(key(random, "GUID") + "<string>G" + std::to_string(index % 7) + "</string>");
    fields.push_back(key(random, "ImagePath") + "<string>/photos/" + std::to_string(index) + ".jpg</string>");
    fields.push_back(key(random, "Aspect Ratio") + "<real>1.5</real>");
    for (size_t extra = below(random, 4); extra > 0; --extra)
        fields.push_back(key(random, "Extra" + std::to_string(below(random, 3))) + scalar(random));
    std::shuffle(fields.begin(), fields.end(), random);
    std::string out = "<dict>";
    for (const std::string& field : fields)
        out += gap(random) + field;
    return out + gap(random) + "</dict>";
}

const std::vector<std::string> tokens = {
    "&#0;",
    "&#x0;",
    "&#00;",
    "</plist>",
    "<plist>",
    "<dict>",
    "</dict>",
    "<array>",
    "</array>",
    "<key>",
    "</key>",
    "<string>",
    "</string>",
    "<integer>0x1F</integer>",
    "<date>2001-01-01T00:00:00.5Z</date>",
    "\xEF\xBB\xBF",
    "<!DOCTYPE plist>",
    "<![CDATA[",
    "]]>",
    "&amp;",
    "&bogus;",
    "<!-- c -->",
    "<true/>",
    "<false>x</false>",
    "<real>1e999</real>",
    "<integer>99999999999999999999</integer>",
    "<blob/>",
    "<",
    ">",
    "&",
    "\x00",
    "\xff\xfe",
    "<?xml version=\"1.0\"?>",
    "<date>1925-01-01T00:00:00Z</date>",
    "\r",
};
} // namespace

std::optional<PlistArray> PlistDifferential::readInOnePass(const QByteArray& bytes)
{
    // Fed in small pieces of a size the bytes choose, so elements and text fall across the ends
    // of pieces.
    const size_t pieceSize = 1 + size_t(qHash(bytes) % 97);
    qsizetype offset = 0;
    XmlPlistStream stream(
        [&](char* into, size_t capacity) {
            const auto count = std::min(qsizetype(capacity), bytes.size() - offset);
            std::memcpy(into, bytes.constData() + offset, size_t(count));
            offset += count;
            return int64_t(count);
        },
        pieceSize);
    const UnratedPhotoFilter::GuidSet rated;
    return StreamedAlbumData::findUnratedAlbums(stream, UnratedPhotoFilter(rated));
}

QByteArray PlistDifferential::generate(uint64_t seed)
{
    Random random(seed);
    std::string out;
    if (below(random, 6) == 0)
        out += "\xEF\xBB\xBF";
    if (below(random, 3) != 0)
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (below(random, 2) == 0)
        out += "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
    out += "<plist version=\"1.0\">" + gap(random);
    const int photos = int(below(random, 6)) + 1;
    std::string master = "<dict>";
    for (int index = 1; index <= photos; ++index)
        master += gap(random) + key(random, std::to_string(index)) + gap(random) + photo(random, index);
    master += gap(random) + "</dict>";
    std::string albums = "<array>";
    for (size_t album = below(random, 4) + 1; album > 0; --album) {
        albums += "<dict>" + key(random, "AlbumName") + "<string>Album " + std::to_string(album) +
                  "</string>" + key(random, "KeyList") + "<array>";
        for (size_t entry = below(random, 6); entry > 0; --entry)
            albums +=
                gap(random) + "<string>" + std::to_string(below(random, size_t(photos) + 2)) + "</string>";
        albums += "</array></dict>" + gap(random);
    }
    albums += "</array>";
    std::vector<std::string> top = {key(random, "Master Image List") + gap(random) + master,
                                    key(random, "List of Albums") + gap(random) + albums,
                                    key(random, "Application Version") + "<string>9.0</string>"};
    std::shuffle(top.begin(), top.end(), random);
    out += "<dict>";
    for (const std::string& entry : top)
        out += gap(random) + entry;
    out += gap(random) + "</dict>" + gap(random) + "</plist>\n";
    return QByteArray::fromStdString(out);
}

QByteArray PlistDifferential::mutate(const QByteArray& original, uint64_t seed)
{
    Random random(seed ^ 0x9e3779b97f4a7c15ull);
    QByteArray bytes = original;
    for (size_t changes = below(random, 3) + 1; changes > 0 && !bytes.isEmpty(); --changes) {
        const qsizetype at = qsizetype(below(random, size_t(bytes.size())));
        const qsizetype length = qsizetype(below(random, 12)) + 1;
        switch (below(random, 5)) {
        case 0:
            bytes[at] = char(random());
            break;
        case 1:
            bytes.remove(at, length);
            break;
        case 2:
            bytes.insert(at, bytes.mid(qsizetype(below(random, size_t(bytes.size()))), length));
            break;
        default: {
            const std::string& token = pick(random, tokens);
            bytes.insert(at, QByteArray(token.data(), qsizetype(token.size())));
            break;
        }
        }
    }
    return bytes;
}

QByteArray PlistDifferential::caseFor(uint64_t seed)
{
    const QByteArray generated = generate(seed);
    return seed % 2 == 0 ? generated : mutate(generated, seed);
}

std::string PlistDifferential::disagreement(const QByteArray& bytes)
{
    // PropertyListSerialization, as the library tool reads.
    Error serializationError;
    const PlistPtr serialized = PropertyListSerialization::fromData(bytes, &serializationError);

    // The full reader of a reload.
    QByteArray fullBuffer = bytes;
    fullBuffer.detach();
    std::string fullError;
    PlistPtr full;
    if (const auto xml =
            XmlPropertyList::parseInPlace(fullBuffer.data(), size_t(fullBuffer.size()), &fullError))
        full = xml->toTree(&fullError);

    // The fast path of a reload.
    QByteArray fastBuffer = bytes;
    fastBuffer.detach();
    std::string fastError;
    std::optional<PlistArray> fast;
    const UnratedPhotoFilter::GuidSet rated;
    if (const auto xml =
            XmlPropertyList::parseInPlace(fastBuffer.data(), size_t(fastBuffer.size()), &fastError))
        fast = xml->findUnratedAlbums(UnratedPhotoFilter(rated), &fastError);

    const std::optional<PlistArray> streamed = readInOnePass(bytes);

    const auto verdict = [](bool accepted) { return accepted ? "accepted" : "refused"; };
    if (streamed && !fast)
        return "the one-pass reader accepted what the fast path refused (" + fastError + ")";
    if (streamed && !same(PlistValue::array(*streamed), PlistValue::array(*fast)))
        return "different albums from the one-pass reader:\n" + PlistValue::array(*fast)->description() +
               "\n" + PlistValue::array(*streamed)->description();
    if (bool(serialized) != bool(full))
        return std::string("PropertyListSerialization ") + verdict(bool(serialized)) + " (" +
               serializationError.localizedDescription() + "), the full reader " + verdict(bool(full)) +
               " (" + fullError + ")";
    if (!full) {
        if (serializationError.localizedDescription() != fullError)
            return "different reasons: \"" + serializationError.localizedDescription() + "\" and \"" +
                   fullError + "\"";
        if (serializationError.code() != 259)
            return "refused with code " + std::to_string(serializationError.code());
        if (fast)
            return "the fast path accepted what the full reader refused (" + fullError + ")";
        if (fastError != fullError)
            return "different reasons: fast \"" + fastError + "\", full \"" + fullError + "\"";
        return {};
    }
    if (!same(serialized, full))
        return "different values:\n" + serialized->description() + "\n" + full->description();
    if (!full->isDictionary())
        return fast ? "the fast path accepted a root that is no dictionary" : std::string();
    if (!fast)
        return "the fast path refused (" + fastError + ") what the full reader accepted";
    const AlbumInfo albumInfo;
    const PlistPtr expected = PlistValue::array(albumInfo.findUnratedAlbums(full));
    const PlistPtr found = PlistValue::array(*fast);
    if (!same(expected, found))
        return "different albums:\n" + expected->description() + "\n" + found->description();

    // What we write reads back as it was, in both formats.
    for (const auto format :
         {PropertyListSerialization::Format::Xml, PropertyListSerialization::Format::Binary}) {
        Error error;
        const QByteArray written = PropertyListSerialization::toData(full, format, &error);
        // The binary writer keeps dates of 1932 to 2069 only and text that is valid UTF-8; it
        // refuses the rest rather than write it damaged.
        if (written.isEmpty() && format == PropertyListSerialization::Format::Binary &&
            (error.localizedDescription().find("date") != std::string::npos ||
             error.localizedDescription().find("UTF-8") != std::string::npos))
            continue;
        if (written.isEmpty())
            return "could not write what was read: " + error.description();
        const PlistPtr reread = PropertyListSerialization::fromData(written, &error);
        if (!same(reread, full))
            return std::string("a written ") +
                   (format == PropertyListSerialization::Format::Xml ? "XML" : "binary") +
                   " list reads back differently: " + (reread ? reread->description() : error.description());
    }
    return {};
}
