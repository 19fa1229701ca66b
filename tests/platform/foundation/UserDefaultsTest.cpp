#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Preferences.h"
#include "support/TemporaryConfigHome.h"

#include <gtest/gtest.h>
#include <limits>

namespace {
class UserDefaultsTest : public testing::Test {
protected:
    void SetUp() override { UserDefaults::setArgumentsForTesting({}); }
    void TearDown() override { UserDefaults::setArgumentsForTesting({}); }

    void store(const std::string& key, PlistPtr value)
    {
        ASSERT_TRUE(UserDefaults::standard().setObject(key, std::move(value)));
    }
    static bool boolFor(const std::string& key) { return UserDefaults::standard().boolForKey(key); }
    static int64_t integerFor(const std::string& key) { return UserDefaults::standard().integerForKey(key); }

    TemporaryConfigHome m_home;
};
} // namespace

TEST_F(UserDefaultsTest, absentKeysAreFalseAndZero)
{
    EXPECT_EQ(UserDefaults::standard().objectForKey("LaunchFullScreen"), nullptr);
    EXPECT_FALSE(boolFor("LaunchFullScreen"));
    EXPECT_EQ(integerFor("NumberOfStages"), 0);
}

TEST_F(UserDefaultsTest, fileValuesAreReadAndArgumentsOverrideThemWithoutBeingWritten)
{
    store("LaunchFullScreen", PlistValue::boolean(false));
    store("NumberOfStages", PlistValue::integer(3));
    EXPECT_FALSE(boolFor("LaunchFullScreen"));
    EXPECT_EQ(integerFor("NumberOfStages"), 3);

    UserDefaults::setArgumentsForTesting({"-LaunchFullScreen", "YES", "-NumberOfStages", "2"});
    EXPECT_TRUE(boolFor("LaunchFullScreen"));
    EXPECT_EQ(integerFor("NumberOfStages"), 2);
    EXPECT_EQ(Preferences::copyValue("NumberOfStages", Preferences::applicationDomain)->asInteger(), 3);

    // The argument still wins after the file changes.
    store("NumberOfStages", PlistValue::integer(1));
    EXPECT_EQ(integerFor("NumberOfStages"), 2);
}

TEST_F(UserDefaultsTest, argumentValuesAreLiteralsWhenTheyReadAsOne)
{
    const auto domain = UserDefaults::parseArguments(
        {"-A", "YES", "-B", "NO", "-C", "7", "-D", "text with spaces", "-E", "-2.5", "-F", "7th"});
    EXPECT_EQ(domain.at("A")->asBoolean(), true);
    EXPECT_EQ(domain.at("B")->asBoolean(), false);
    EXPECT_EQ(domain.at("C")->asInteger(), 7);
    EXPECT_EQ(*domain.at("D")->asString(), "text with spaces");
    EXPECT_EQ(domain.at("E")->asReal(), -2.5);
    EXPECT_EQ(*domain.at("F")->asString(), "7th");
}

TEST_F(UserDefaultsTest, programOptionsAndDanglingKeysAreNotDefaults)
{
    const auto domain =
        UserDefaults::parseArguments({"--automation", "-NumberOfStages", "2", "plain", "-Dangling"});
    EXPECT_EQ(domain.size(), 1u);
    EXPECT_EQ(domain.at("NumberOfStages")->asInteger(), 2);
}

TEST_F(UserDefaultsTest, boolCoercions)
{
    const std::pair<PlistPtr, bool> cases[] = {
        {PlistValue::boolean(true), true}, {PlistValue::integer(0), false},
        {PlistValue::integer(-1), true},   {PlistValue::real(0.5), true},
        {PlistValue::string("yes"), true}, {PlistValue::string("TRUE"), true},
        {PlistValue::string("1"), true},   {PlistValue::string("no"), false},
        {PlistValue::string("0"), false},  {PlistValue::string("maybe"), false},
        {PlistValue::array({}), false},
    };
    for (const auto& [value, expected] : cases) {
        store("Flag", value);
        EXPECT_EQ(boolFor("Flag"), expected) << value->description();
    }
}

TEST_F(UserDefaultsTest, integerCoercions)
{
    const std::pair<PlistPtr, int64_t> cases[] = {
        {PlistValue::integer(-2), -2},
        {PlistValue::real(3.9), 3},
        {PlistValue::real(-3.9), -3},
        {PlistValue::real(1e300), std::numeric_limits<int64_t>::max()},
        {PlistValue::boolean(true), 1},
        {PlistValue::string(" 12abc"), 12},
        {PlistValue::string("3.9"), 3},
        {PlistValue::string("-4"), -4},
        {PlistValue::string("99999999999999999999999"), std::numeric_limits<int64_t>::max()},
        {PlistValue::string("four"), 0},
        {PlistValue::dictionary({}), 0},
    };
    for (const auto& [value, expected] : cases) {
        store("Count", value);
        EXPECT_EQ(integerFor("Count"), expected) << value->description();
    }
}
