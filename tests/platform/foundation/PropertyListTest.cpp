#include "platform/foundation/PropertyList.h"

#include <QTimeZone>
#include <cmath>
#include <gtest/gtest.h>

TEST(PropertyListTest, integersIncludeWholeRealsOnly)
{
    EXPECT_EQ(PlistValue::real(3.0)->asInteger(), 3);
    EXPECT_EQ(PlistValue::real(-0.0)->asInteger(), 0);
    EXPECT_FALSE(PlistValue::real(3.5)->asInteger());
    EXPECT_FALSE(PlistValue::real(1e19)->asInteger());
    EXPECT_FALSE(PlistValue::real(NAN)->asInteger());
    EXPECT_EQ(PlistValue::real(-9223372036854775808.0)->asInteger(), INT64_MIN);
}

TEST(PropertyListTest, datesCountFromTheReferenceDate)
{
    const QDateTime moment(QDate(2008, 3, 1), QTime(12, 30, 15), QTimeZone::utc());
    const auto date = PlistValue::date(moment);
    EXPECT_EQ(date->asDate(), moment);
    EXPECT_EQ(PlistValue::date(0.0)->asDate(), PlistValue::referenceDate());
    EXPECT_EQ(PlistValue::date(QDateTime())->asDateSeconds(), 0.0);
}

TEST(PropertyListTest, lookupAndDeepEquality)
{
    const auto photo = [](int64_t rating) {
        return PlistValue::dictionary(
            {{"Rating", PlistValue::integer(rating)}, {"GUID", PlistValue::string("g")}});
    };
    const auto tree =
        PlistValue::dictionary({{"Master Image List", PlistValue::dictionary({{"7", photo(0)}})}});
    EXPECT_EQ(tree->objectForKey("Master Image List")->objectForKey("7")->objectForKey("Rating")->asInteger(),
              0);
    EXPECT_EQ(tree->objectForKey("List of Albums"), nullptr);

    EXPECT_TRUE(PlistValue::equal(photo(1), photo(1)));
    EXPECT_FALSE(PlistValue::equal(photo(1), photo(2)));
    EXPECT_FALSE(PlistValue::equal(PlistValue::integer(1), PlistValue::real(1.0)));
    EXPECT_TRUE(PlistValue::equal(PlistValue::real(NAN), PlistValue::real(NAN)));
    EXPECT_FALSE(PlistValue::equal(PlistValue::real(NAN), PlistValue::real(0)));
    EXPECT_FALSE(PlistValue::equal(PlistValue::array({}), nullptr));
    EXPECT_TRUE(PlistValue::equal(nullptr, nullptr));
}

TEST(PropertyListTest, descriptionIsReadable)
{
    const auto album = PlistValue::dictionary({
        {"name", PlistValue::string("My \"best\" photos")},
        {"items",
         PlistValue::array({PlistValue::integer(1), PlistValue::real(0.5), PlistValue::boolean(false)})},
        {"data", PlistValue::data(QByteArray("\x01\xab", 2))},
    });
    EXPECT_EQ(album->description(),
              "{ data = <01ab>; items = (1, 0.5, NO); name = \"My \\\"best\\\" photos\"; }");
}
