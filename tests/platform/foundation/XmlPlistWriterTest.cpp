#include "platform/foundation/XmlPlistWriter.h"

#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/XmlPlistBuilder.h"

#include <QDateTime>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {
QByteArray body(const QByteArray& xml)
{
    const QByteArray start = "<plist version=\"1.0\">\n";
    const qsizetype at = xml.indexOf(start);
    return at < 0 ? xml : xml.mid(at + start.size()).chopped(int(sizeof "</plist>\n" - 1));
}

PlistPtr date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return PlistValue::date(QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC));
}
} // namespace

// Exactly what the tree holds, in its key order, with only what XML requires escaped.
TEST(XmlPlistWriterTest, writesTheTreeAsItIs)
{
    const auto tree = PlistValue::dictionary({
        {"Caption", PlistValue::string("Tom & Jerry <3> \"quoted\" 'single' caf\xc3\xa9\r\n")},
        {"Keywords",
         PlistValue::array({PlistValue::integer(-5), PlistValue::real(0.1), PlistValue::boolean(false)})},
        {"Empty", PlistValue::dictionary({})},
        {"Thumb", PlistValue::data(QByteArray("\x00\x01\xfe", 3))},
        {"a<b>", PlistValue::array({})},
    });
    const QByteArray xml = XmlPlistWriter::write(tree);
    EXPECT_TRUE(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist"));
    EXPECT_EQ(body(xml).toStdString(),
              "<dict>\n"
              "\t<key>Caption</key>\n"
              "\t<string>Tom &amp; Jerry &lt;3&gt; \"quoted\" 'single' caf\xc3\xa9&#13;\n</string>\n"
              "\t<key>Empty</key>\n"
              "\t<dict/>\n"
              "\t<key>Keywords</key>\n"
              "\t<array>\n"
              "\t\t<integer>-5</integer>\n"
              "\t\t<real>0.1</real>\n"
              "\t\t<false/>\n"
              "\t</array>\n"
              "\t<key>Thumb</key>\n"
              "\t<data>AAH+</data>\n"
              "\t<key>a&lt;b&gt;</key>\n"
              "\t<array/>\n"
              "</dict>\n");
    EXPECT_TRUE(PlistValue::equal(PropertyListSerialization::fromData(xml), tree));
}

// Dates far from now once came back as 1932-12-13.
TEST(XmlPlistWriterTest, datesOfAnyYearKeepTheirDay)
{
    const std::vector<std::pair<PlistPtr, std::string>> cases = {
        {date(1925, 6, 1, 12, 30, 5), "<date>1925-06-01T12:30:05Z</date>"},
        {date(2075, 12, 31, 23, 59, 59), "<date>2075-12-31T23:59:59Z</date>"},
        {date(1, 1, 1), "<date>0001-01-01T00:00:00Z</date>"},
        {date(9999, 12, 31, 23, 59, 59), "<date>9999-12-31T23:59:59Z</date>"},
        {date(2000, 2, 29, 1, 2, 3), "<date>2000-02-29T01:02:03Z</date>"},
        {PlistValue::date(-0.5), "<date>2000-12-31T23:59:59Z</date>"},
    };
    for (const auto& [value, expected] : cases) {
        const QByteArray xml = XmlPlistWriter::write(value);
        EXPECT_EQ(body(xml).toStdString(), expected + "\n");
        const PlistPtr back = PropertyListSerialization::fromData(xml);
        ASSERT_TRUE(back) << expected;
        EXPECT_EQ(*back->asDateSeconds(), std::floor(*value->asDateSeconds())) << expected;
    }
    Error error;
    // 10000-01-01T00:00:00Z.
    EXPECT_TRUE(XmlPlistWriter::write(PlistValue::date(252423993600.0), &error).isEmpty());
    EXPECT_EQ(error.code(), XmlPlistWriter::propertyListWriteInvalidError);
    EXPECT_TRUE(XmlPlistWriter::write(PlistValue::date(std::nan("")), &error).isEmpty());
}

TEST(XmlPlistWriterTest, numbersReadBackExactly)
{
    const PlistArray numbers = {PlistValue::integer(std::numeric_limits<int64_t>::min()),
                                PlistValue::integer(std::numeric_limits<int64_t>::max()),
                                PlistValue::real(0.1 + 0.2),
                                PlistValue::real(-2.5e-300),
                                PlistValue::real(5e-324),
                                PlistValue::real(3.0),
                                PlistValue::real(std::numeric_limits<double>::infinity()),
                                PlistValue::real(-std::numeric_limits<double>::infinity())};
    const PlistPtr back =
        PropertyListSerialization::fromData(XmlPlistWriter::write(PlistValue::array(numbers)));
    ASSERT_TRUE(back);
    EXPECT_TRUE(PlistValue::equal(back, PlistValue::array(numbers))) << back->description();
    const PlistPtr nan =
        PropertyListSerialization::fromData(XmlPlistWriter::write(PlistValue::real(std::nan(""))));
    ASSERT_TRUE(nan);
    EXPECT_TRUE(std::isnan(*nan->asReal()));
}

TEST(XmlPlistWriterTest, whatTheFormatCannotHoldIsAnError)
{
    std::vector<PlistPtr> cases = {nullptr, PlistValue::array({nullptr}),
                                   PlistValue::string(std::string("a\0b", 3)),
                                   PlistValue::dictionary({{std::string("k\0", 2), PlistValue::integer(1)}})};
    PlistPtr deep = PlistValue::array({});
    for (int level = 0; level < XmlPlistBuilder::maximumDepth; ++level)
        deep = PlistValue::array({deep});
    cases.push_back(deep);
    for (const PlistPtr& value : cases) {
        Error error;
        EXPECT_TRUE(XmlPlistWriter::write(value, &error).isEmpty());
        EXPECT_EQ(error.code(), XmlPlistWriter::propertyListWriteInvalidError);
        EXPECT_FALSE(error.localizedDescription().empty());
    }
}
