#include "platform/foundation/XmlPlistStream.h"

#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/RegularFileStream.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

namespace {
using Item = XmlPlistStream::Item;
using Kind = XmlPlistStream::Kind;

// The bytes handed over `pieceSize` at a time, so every element falls across the ends of pieces.
XmlPlistStream::Source piecesOf(const QByteArray& bytes, size_t pieceSize)
{
    return [bytes, pieceSize, offset = qsizetype(0)](char* into, size_t capacity) mutable {
        const auto count = std::min({qsizetype(capacity), qsizetype(pieceSize), bytes.size() - offset});
        std::memcpy(into, bytes.constData() + offset, size_t(count));
        offset += count;
        return int64_t(count);
    };
}

PlistPtr build(XmlPlistStream& stream, const Item& item)
{
    switch (item.kind) {
    case Kind::Dict: {
        std::vector<PlistDictionary::value_type> entries;
        Item key;
        while (item.isOpen() && stream.nextKey(key)) {
            std::string name(stream.text(key));
            entries.emplace_back(std::move(name), build(stream, stream.nextValue()));
        }
        return PlistValue::dictionary(PlistDictionary::fromEntries(std::move(entries)));
    }
    case Kind::Array: {
        PlistArray items;
        Item element;
        while (item.isOpen() && stream.nextInArray(element))
            items.push_back(build(stream, element));
        return PlistValue::array(std::move(items));
    }
    case Kind::Integer:
        return PlistValue::integer(item.integer);
    case Kind::Real:
        return PlistValue::real(item.number);
    case Kind::Date:
        return PlistValue::date(item.number);
    case Kind::True:
    case Kind::False:
        return PlistValue::boolean(item.kind == Kind::True);
    case Kind::Data: {
        const std::string_view text = stream.text(item);
        return PlistValue::data(QByteArray::fromBase64(QByteArray(text.data(), qsizetype(text.size()))));
    }
    default:
        return PlistValue::string(std::string(stream.text(item)));
    }
}

// The whole list as the stream reads it; nullptr when it is unsure.
PlistPtr readAll(const QByteArray& bytes, size_t pieceSize)
{
    XmlPlistStream stream(piecesOf(bytes, pieceSize), pieceSize);
    try {
        PlistPtr tree = build(stream, stream.begin());
        stream.finish();
        return tree;
    } catch (const XmlPlistStream::Unsure&) {
        return nullptr;
    }
}

QByteArray plist(const QByteArray& value)
{
    return "<plist version=\"1.0\">" + value + "</plist>";
}
} // namespace

TEST(XmlPlistStreamTest, readsTheSpellingsOfWrittenListsAsTheOneReaderDoes)
{
    const QByteArray bytes =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"PropertyList-1.0.dtd\">\n"
        "<!-- written > by hand -->\n<plist version=\"1.0\">\n<dict>\n"
        "\t<key>caf\xC3\xA9 &amp; &lt;tea&gt;</key><string>&#x41;&#66;&quot;&apos;&#x1F600;</string>\n"
        "\t<key>lines</key><string>a\r\nb\rc</string>\n"
        "\t<key>blank</key><string>  \t</string>\n"
        "\t<key>M<![CDATA[edia]]>Type</key><string><![CDATA[a<b>]]> tail</string>\n"
        "\t<key>pieces</key><string>a<!-- c --> <![CDATA[b]]> </string>\n"
        "\t<key>kept</key><string>a<!-- c --> </string>\n"
        "\t<key>dropped</key><string> <!-- c -->b</string>\n"
        "\t<key>numbers</key><array><integer> -12 </integer><integer>+3</integer><real>2.5e3</real>"
        "<real>-0</real><date>1925-06-01T12:00:00Z</date><true/><false></false><true><!-- c "
        "--></true></array>\n"
        "\t<key>data</key><data>AAEC\n  AwQ=</data><key>empty</key><data/>\n"
        "\t<key>nested</key><dict><key>x</key><array><dict/><array/><string/></array></dict>\n"
        "\t<key>twice</key><string>first</string><key>twice</key><string>last</string>\n"
        "</dict>\n</plist>\n<!-- after -->\n";
    const PlistPtr expected = PropertyListSerialization::fromData(bytes);
    ASSERT_TRUE(expected);
    for (const size_t pieceSize : {size_t(1), size_t(2), size_t(7), size_t(64), size_t(1) << 20}) {
        const PlistPtr read = readAll(bytes, pieceSize);
        ASSERT_TRUE(read) << "pieces of " << pieceSize;
        EXPECT_TRUE(PlistValue::equal(read, expected)) << read->description() << "\n"
                                                       << expected->description();
    }
}

// Whatever the stream is unsure of is left to the one reader, which accepts some of these and
// refuses the others; the stream never decides them itself.
TEST(XmlPlistStreamTest, leavesEverySpellingItDoesNotTakeToTheOneReader)
{
    const QByteArray good = "<dict><key>a</key><string>x</string></dict>";
    QByteArray deep;
    for (int level = 0; level < XmlPlistBuilder::maximumDepth; ++level)
        deep += "<array>";
    deep += "<array/>";
    for (int level = 0; level < XmlPlistBuilder::maximumDepth; ++level)
        deep += "</array>";
    const std::vector<QByteArray> unsure = {
        // Read by the one reader, but not in the spelling taken here.
        plist("<dict><key>a</key><string>&bogus;</string></dict>"),
        plist("<dict><key>a</key><string>a & b</string></dict>"),
        plist("<dict><key>a</key><string>&#X41;</string></dict>"),
        plist("<dict><key>a</key><string x=\"1\">x</string></dict>"),
        plist("<dict>text<key>a</key><string>x</string></dict>"),
        plist("<dict><key>a</key><string>x<?pi?></string></dict>"),
        plist("<dict><key>a</key><string><![CDATA[&#0;]]></string></dict>"),
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + plist(good),
        "<!DOCTYPE plist [<!ENTITY e \"x\">]>" + plist(good),
        plist(good) + "<other/>",
        // Refused by the one reader.
        plist(good + good),
        plist(""),
        "<plist/>",
        "bplist00",
        plist(good).chopped(8),
        plist("<dict><key>a</key></dict>"),
        plist("<dict><string>a</string><string>x</string></dict>"),
        plist("<array><key>a</key></array>"),
        plist("<dict><key>a</key><integer>0x10</integer></dict>"),
        plist("<dict><key>a</key><real>1e999</real></dict>"),
        plist("<dict><key>a</key><date>2001-01-01T00:00:00.5Z</date></dict>"),
        plist("<dict><key>a</key><data>!!</data></dict>"),
        plist("<dict><key>a</key><true> </true></dict>"),
        plist("<dict><key>a</key><true><![CDATA[]]></true></dict>"),
        plist("<dict><key>a</key><string>x&#0;y</string></dict>"),
        plist("<dict><key>a</key><string>x</string></dict><!-- &#x00; -->"),
        plist("<dict><key>a</key><string>xNy</string></dict>").replace('N', '\0'),
        plist("<dict><key>a</key><blob/></dict>"),
        plist("<dict><key>a</key><string>x</strin></dict>"),
        plist(deep),
    };
    for (const QByteArray& bytes : unsure) {
        for (const size_t pieceSize : {size_t(3), size_t(1) << 20})
            EXPECT_FALSE(readAll(bytes, pieceSize)) << bytes.left(200).toStdString();
    }
    // As deep as the one reader allows is read.
    EXPECT_TRUE(readAll(plist(deep.mid(7, deep.size() - 15)), 4096));
    EXPECT_TRUE(readAll(plist(good), 3));
}

TEST(XmlPlistStreamTest, aFileThatChangesWhileReadFailsTheRead)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("AlbumData.xml");
    const auto write = [&](const QByteArray& bytes, QIODevice::OpenMode mode) {
        QFile file(path);
        ASSERT_TRUE(file.open(mode));
        ASSERT_EQ(file.write(bytes), bytes.size());
    };
    write(QByteArray(1000, 'x'), QIODevice::WriteOnly);
    char buffer[4096];

    auto reader = RegularFileStream::open(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->size(), 1000);
    EXPECT_EQ(reader->read(buffer, 600), 600);
    EXPECT_EQ(reader->read(buffer, 4096), 400);
    EXPECT_EQ(reader->read(buffer, 4096), 0);

    reader = RegularFileStream::open(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->read(buffer, 600), 600);
    write("more", QIODevice::Append);
    EXPECT_EQ(reader->read(buffer, 4096), -1) << "grown";

    reader = RegularFileStream::open(path);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(QFile::resize(path, 10));
    EXPECT_EQ(reader->read(buffer, 4096), 10);
    EXPECT_EQ(reader->read(buffer, 4096), -1) << "cut short";

    Error error;
    EXPECT_FALSE(RegularFileStream::open(path, &error, {}, 5));
    EXPECT_NE(error.localizedDescription().find("larger than"), std::string::npos) << error.description();
    EXPECT_FALSE(RegularFileStream::open(folder.path(), &error));
    EXPECT_NE(error.localizedDescription().find("folder"), std::string::npos) << error.description();
}
