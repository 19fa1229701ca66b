#include "platform/foundation/XmlPlistScalars.h"

#include <gtest/gtest.h>

TEST(XmlPlistScalarsTest, NumbersReadWholeWithOptionalSignAndSpace)
{
    EXPECT_EQ(XmlPlistScalars::parseInteger(" +42\n"), 42);
    EXPECT_EQ(XmlPlistScalars::parseInteger("-9223372036854775808"), INT64_MIN);
    EXPECT_FALSE(XmlPlistScalars::parseInteger("9223372036854775808"));
    EXPECT_FALSE(XmlPlistScalars::parseInteger("4 2"));
    EXPECT_FALSE(XmlPlistScalars::parseInteger(""));
    EXPECT_EQ(XmlPlistScalars::parseReal("1.5"), 1.5);
    EXPECT_EQ(XmlPlistScalars::parseReal("-2e3"), -2000.0);
    EXPECT_FALSE(XmlPlistScalars::parseReal("1.5x"));
}

TEST(XmlPlistScalarsTest, DatesCountFromTheReferenceDate)
{
    EXPECT_EQ(XmlPlistScalars::parseDate("2001-01-01T00:00:00Z"), 0.0);
    EXPECT_EQ(XmlPlistScalars::parseDate("2001-01-02T01:00:01Z"), 86400.0 + 3600 + 1);
    EXPECT_EQ(XmlPlistScalars::parseDate("1970-01-01T00:00:00Z"), -978307200.0);
    EXPECT_EQ(XmlPlistScalars::parseDate("2004-02-29T00:00:00Z"), 99705600.0);
    EXPECT_FALSE(XmlPlistScalars::parseDate("2001-13-01T00:00:00Z"));
    EXPECT_FALSE(XmlPlistScalars::parseDate("2001-01-01 00:00:00Z"));
    EXPECT_FALSE(XmlPlistScalars::parseDate("2001-01-01T00:00:00"));
}

TEST(XmlPlistScalarsTest, Base64AllowsLineBreaksButNothingElse)
{
    EXPECT_TRUE(XmlPlistScalars::isBase64("AAEC\n  AwQ="));
    EXPECT_FALSE(XmlPlistScalars::isBase64("AAEC*"));
}
