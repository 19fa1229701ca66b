#include "platform/foundation/PropertyListSerialization.h"

#include "platform/foundation/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace {
using Format = PropertyListSerialization::Format;

PlistPtr everyType()
{
    PlistArray numbers{PlistValue::integer(0),
                       PlistValue::integer(-5),
                       PlistValue::integer(42),
                       PlistValue::integer(std::numeric_limits<int64_t>::max()),
                       PlistValue::integer(std::numeric_limits<int64_t>::min()),
                       PlistValue::real(0.1),
                       PlistValue::real(-2.5e300),
                       PlistValue::real(3.0)};
    PlistDictionary entries{
        {"string", PlistValue::string("caf\xc3\xa9 <&> \"quoted\"")},
        {"empty string", PlistValue::string("")},
        {"numbers", PlistValue::array(std::move(numbers))},
        {"yes", PlistValue::boolean(true)},
        {"no", PlistValue::boolean(false)},
        {"date", PlistValue::date(123456789.0)},
        {"data", PlistValue::data(QByteArray("\x00\x01\xfe\xff", 4))},
        {"empty array", PlistValue::array({})},
        {"empty dictionary", PlistValue::dictionary({})},
        {"nested", PlistValue::dictionary({{"GUID", PlistValue::string("abc")}})},
    };
    return PlistValue::dictionary(std::move(entries));
}

QByteArray nestedXml(int depth)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    for (int i = 0; i < depth; ++i)
        xml += "<array>";
    for (int i = 0; i < depth; ++i)
        xml += "</array>";
    return xml + "</plist>";
}

void appendBigEndian(QByteArray& out, uint64_t value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

// A binary list of `count` objects where object i (a one-element array) holds object i + 1, the last
// one empty: one nesting level per object.
QByteArray nestedBinary(int count, bool cyclic = false)
{
    QByteArray data = "bplist00";
    std::vector<uint64_t> offsets;
    for (int i = 0; i < count; ++i) {
        offsets.push_back(data.size());
        if (i + 1 < count || cyclic) {
            data += static_cast<char>(0xA1);
            appendBigEndian(data, cyclic && i + 1 == count ? 0 : i + 1, 4);
        } else {
            data += static_cast<char>(0xA0);
        }
    }
    const uint64_t table = data.size();
    for (const auto offset : offsets)
        appendBigEndian(data, offset, 8);
    data += QByteArray(6, '\0');
    data += static_cast<char>(8);
    data += static_cast<char>(4);
    appendBigEndian(data, count, 8);
    appendBigEndian(data, 0, 8);
    appendBigEndian(data, table, 8);
    return data;
}

// Each level is an array holding the next level twice: 2^levels leaves from a few hundred bytes.
QByteArray sharedBinary(int levels)
{
    QByteArray data = "bplist00";
    std::vector<uint64_t> offsets;
    for (int i = 0; i < levels; ++i) {
        offsets.push_back(data.size());
        data += static_cast<char>(0xA2);
        appendBigEndian(data, i + 1, 2);
        appendBigEndian(data, i + 1, 2);
    }
    offsets.push_back(data.size());
    data += static_cast<char>(0x09);
    const uint64_t table = data.size();
    for (const auto offset : offsets)
        appendBigEndian(data, offset, 4);
    data += QByteArray(6, '\0');
    data += static_cast<char>(4);
    data += static_cast<char>(2);
    appendBigEndian(data, offsets.size(), 8);
    appendBigEndian(data, 0, 8);
    appendBigEndian(data, table, 8);
    return data;
}

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void expectCorrupt(const QByteArray& data)
{
    Error error;
    EXPECT_EQ(PropertyListSerialization::fromData(data, &error), nullptr);
    EXPECT_EQ(error.domain(), Error::cocoaDomain);
    EXPECT_EQ(error.code(), 259);
    EXPECT_FALSE(error.localizedDescription().empty());
}
} // namespace

TEST(PropertyListSerializationTest, everyTypeSurvivesXmlAndBinary)
{
    const auto original = everyType();
    for (const auto format : {Format::Xml, Format::Binary}) {
        Error error;
        const QByteArray bytes = PropertyListSerialization::toData(original, format, &error);
        ASSERT_FALSE(bytes.isEmpty()) << error.description();
        const auto copy = PropertyListSerialization::fromData(bytes, &error);
        ASSERT_NE(copy, nullptr) << error.description();
        EXPECT_TRUE(PlistValue::equal(original, copy)) << original->description() << "\n"
                                                       << copy->description();
    }
}

TEST(PropertyListSerializationTest, binaryDatesKeepFractionsXmlDatesWholeSeconds)
{
    const auto date = PlistValue::array({PlistValue::date(-12.25)});
    const auto binary =
        PropertyListSerialization::fromData(PropertyListSerialization::toData(date, Format::Binary));
    EXPECT_EQ(binary->asArray()->front()->asDateSeconds(), -12.25);
    const auto xml =
        PropertyListSerialization::fromData(PropertyListSerialization::toData(date, Format::Xml));
    ASSERT_NE(xml, nullptr);
    EXPECT_NEAR(*xml->asArray()->front()->asDateSeconds(), -12.25, 1.0);
}

TEST(PropertyListSerializationTest, readsAHandWrittenXmlFile)
{
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>iPhotoRecentDatabases</key>
	<array>
		<string>file://localhost/home/me/Pictures/Library/AlbumData.xml</string>
	</array>
	<key>Aspect Ratio</key><real>1.5</real>
	<key>Rating</key><integer>-3</integer>
	<key>Empty</key><array/>
</dict>
</plist>)";
    const auto root = PropertyListSerialization::fromData(xml);
    ASSERT_NE(root, nullptr);
    const auto list = root->objectForKey("iPhotoRecentDatabases");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->asArray()->size(), 1u);
    EXPECT_EQ(*list->asArray()->front()->asString(),
              "file://localhost/home/me/Pictures/Library/AlbumData.xml");
    EXPECT_EQ(root->objectForKey("Aspect Ratio")->asReal(), 1.5);
    EXPECT_EQ(root->objectForKey("Rating")->asInteger(), -3);
    EXPECT_TRUE(root->objectForKey("Empty")->asArray()->empty());
}

TEST(PropertyListSerializationTest, malformedEmptyAndTruncatedDataAreErrors)
{
    expectCorrupt(QByteArray());
    expectCorrupt("not a property list at all");
    expectCorrupt("<plist version=\"1.0\"><dict><key>a</key><string>b</dict></plist>");
    expectCorrupt("bplist00");
    expectCorrupt(QByteArray("bplist00") + QByteArray(40, '\xff'));

    const QByteArray xml = PropertyListSerialization::toData(everyType(), Format::Xml);
    const QByteArray binary = PropertyListSerialization::toData(everyType(), Format::Binary);
    for (const qsizetype length : {qsizetype(1), qsizetype(20), xml.size() / 2, xml.size() - 12})
        expectCorrupt(xml.left(length));
    for (qsizetype length = 1; length < binary.size(); length += 7)
        expectCorrupt(binary.left(length));
}

TEST(PropertyListSerializationTest, damagedBinaryTrailersAndReferencesAreErrors)
{
    const QByteArray good = PropertyListSerialization::toData(everyType(), Format::Binary);
    const qsizetype trailer = good.size() - 32;
    for (const qsizetype at : {trailer + 6, trailer + 7, trailer + 15, trailer + 23}) {
        QByteArray damaged = good;
        damaged[at] = '\x7f';
        EXPECT_EQ(PropertyListSerialization::fromData(damaged), nullptr) << "byte " << at;
    }
    // Every byte flipped in turn: a whole value that writes and reads back as itself, or error 259
    // with a reason; never a crash.
    for (qsizetype at = 8; at < good.size(); ++at) {
        QByteArray damaged = good;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5a);
        Error error;
        const PlistPtr value = PropertyListSerialization::fromData(damaged, &error);
        if (!value) {
            EXPECT_EQ(error.code(), 259) << "byte " << at;
            EXPECT_FALSE(error.localizedDescription().empty()) << "byte " << at;
            continue;
        }
        const QByteArray again = PropertyListSerialization::toData(value, Format::Binary, &error);
        if (!again.isEmpty()) {
            // Dates keep whole microseconds only, so compare as written out (to the millisecond).
            const PlistPtr reread = PropertyListSerialization::fromData(again);
            ASSERT_TRUE(reread) << "byte " << at;
            EXPECT_EQ(reread->description(), value->description()) << "byte " << at;
        } else
            EXPECT_EQ(error.code(), 3851) << "byte " << at;
    }
}

TEST(PropertyListSerializationTest, deepNestingIsRefusedWithoutExhaustingTheStack)
{
    EXPECT_NE(PropertyListSerialization::fromData(nestedXml(100)), nullptr);
    expectCorrupt(nestedXml(PropertyListSerialization::maximumDepth + 1));
    expectCorrupt(nestedXml(300000));

    EXPECT_NE(PropertyListSerialization::fromData(nestedBinary(100)), nullptr);
    expectCorrupt(nestedBinary(PropertyListSerialization::maximumDepth + 1));
    expectCorrupt(nestedBinary(300000));
}

TEST(PropertyListSerializationTest, cyclesAndExplosiveSharingInBinaryAreRefused)
{
    expectCorrupt(nestedBinary(3, true));
    expectCorrupt(nestedBinary(1, true));
    EXPECT_NE(PropertyListSerialization::fromData(sharedBinary(8)), nullptr);
    expectCorrupt(sharedBinary(40));
}

TEST(PropertyListSerializationTest, valuesTheFormatCannotHoldAreWriteErrors)
{
    Error error;
    EXPECT_TRUE(
        PropertyListSerialization::toData(PlistValue::array({nullptr}), Format::Xml, &error).isEmpty());
    EXPECT_EQ(error.code(), 3851);
    EXPECT_TRUE(PropertyListSerialization::toData(nullptr, Format::Binary).isEmpty());
    EXPECT_TRUE(
        PropertyListSerialization::toData(PlistValue::string(std::string("a\0b", 3)), Format::Xml).isEmpty());
    EXPECT_TRUE(PropertyListSerialization::toData(PlistValue::date(1e12), Format::Binary).isEmpty());
}

TEST(PropertyListSerializationTest, fileErrorsCarryTheFileUrl)
{
    QTemporaryDir folder;
    const QString missing = folder.filePath("missing.plist");
    Error error;
    EXPECT_EQ(PropertyListSerialization::readFile(missing, &error), nullptr);
    EXPECT_EQ(error.domain(), Error::cocoaDomain);
    EXPECT_EQ(error.code(), 260);
    EXPECT_EQ(error.url(), QUrl::fromLocalFile(missing));
    EXPECT_NE(error.description().find("UserInfo={ NSFilePath = " + missing.toStdString()), std::string::npos)
        << error.description();

    EXPECT_EQ(PropertyListSerialization::readFile(folder.path(), &error), nullptr);
    EXPECT_EQ(error.code(), 256);

    const QString garbage = folder.filePath("garbage.plist");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<plist><dict><key>x</key>");
    file.close();
    EXPECT_EQ(PropertyListSerialization::readFile(garbage, &error), nullptr);
    EXPECT_EQ(error.code(), 259);
    EXPECT_EQ(error.url(), QUrl::fromLocalFile(garbage));

    const QString empty = folder.filePath("empty.plist");
    QFile emptyFile(empty);
    ASSERT_TRUE(emptyFile.open(QIODevice::WriteOnly));
    emptyFile.close();
    EXPECT_EQ(PropertyListSerialization::readFile(empty, &error), nullptr);
    EXPECT_EQ(error.code(), 259);
}

TEST(PropertyListSerializationTest, writeFileReplacesWholeAndLeavesNoHalfFile)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("values.plist");
    const auto entries = [&] { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); };
    ASSERT_TRUE(PropertyListSerialization::writeFile(path, everyType(), Format::Binary));
    EXPECT_TRUE(PlistValue::equal(PropertyListSerialization::readFile(path), everyType()));

    // A reader that opened the old file keeps reading the old file whole: the new one is a new
    // file renamed over the name, never the old one rewritten in place.
    QFile reader(path);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    const QByteArray oldBytes = contentsOf(path);
    const auto replacement = PlistValue::dictionary({{"only", PlistValue::integer(1)}});
    ASSERT_TRUE(PropertyListSerialization::writeFile(path, replacement, Format::Xml));
    EXPECT_EQ(reader.readAll(), oldBytes);
    EXPECT_TRUE(PlistValue::equal(PropertyListSerialization::readFile(path), replacement));
    const QByteArray current = PropertyListSerialization::toData(replacement, Format::Xml);

    // A failed encoding leaves the old file untouched and nothing beside it.
    Error error;
    EXPECT_FALSE(
        PropertyListSerialization::writeFile(path, PlistValue::array({nullptr}), Format::Xml, &error));
    EXPECT_EQ(error.code(), 3851);
    EXPECT_TRUE(PlistValue::equal(PropertyListSerialization::readFile(path), replacement));
    EXPECT_EQ(entries(), QStringList{"values.plist"});

    // Each step of the write failing part-way, in both formats: the old file stays as it was, no
    // temporary file is left, and the error names the file.
    using Step = AtomicFile::Step;
    for (const auto format : {Format::Xml, Format::Binary}) {
        for (const Step step : {Step::Open, Step::Write, Step::Sync, Step::Close, Step::Rename}) {
            for (const int code : {ENOSPC, EIO, EACCES}) {
                AtomicFile::setFaultForTesting(AtomicFile::Fault{step, code});
                Error failure;
                EXPECT_FALSE(PropertyListSerialization::writeFile(path, everyType(), format, &failure));
                AtomicFile::setFaultForTesting(std::nullopt);
                EXPECT_EQ(contentsOf(path), current) << int(step) << " " << code;
                EXPECT_EQ(entries(), QStringList{"values.plist"}) << int(step);
                EXPECT_NE(failure.failureReason().find(path.toStdString()), std::string::npos)
                    << failure.description();
                EXPECT_EQ(failure.code(), code == ENOSPC   ? AtomicFile::writeOutOfSpaceError
                                          : code == EACCES ? AtomicFile::writeNoPermissionError
                                                           : AtomicFile::writeUnknownError);
            }
        }
    }
}
