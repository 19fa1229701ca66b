#include "platform/foundation/PlistDictionary.h"

#include "platform/foundation/PropertyList.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {
std::vector<std::string> keysOf(const PlistDictionary& dictionary)
{
    std::vector<std::string> keys;
    for (const auto& [key, value] : dictionary)
        keys.push_back(key);
    return keys;
}

int64_t integerAt(const PlistDictionary& dictionary, std::string_view key)
{
    return *dictionary.at(key)->asInteger();
}
} // namespace

TEST(PlistDictionaryTest, entriesStayInByteOrderHoweverTheyAreAdded)
{
    PlistDictionary dictionary;
    dictionary.insert_or_assign("b", PlistValue::integer(1));
    dictionary.try_emplace("a", PlistValue::integer(2));
    dictionary["c"] = PlistValue::integer(3);
    dictionary.emplace("B", PlistValue::integer(4));
    dictionary.insert_or_assign("ab", PlistValue::integer(5));
    EXPECT_EQ(keysOf(dictionary), (std::vector<std::string>{"B", "a", "ab", "b", "c"}));
    EXPECT_EQ(dictionary.size(), 5u);
}

TEST(PlistDictionaryTest, assigningReplacesAndEmplacingKeeps)
{
    PlistDictionary dictionary{{"k", PlistValue::integer(1)}};
    EXPECT_FALSE(dictionary.try_emplace("k", PlistValue::integer(2)).second);
    EXPECT_FALSE(dictionary.emplace("k", PlistValue::integer(2)).second);
    EXPECT_EQ(integerAt(dictionary, "k"), 1);
    EXPECT_FALSE(dictionary.insert_or_assign("k", PlistValue::integer(3)).second);
    EXPECT_EQ(integerAt(dictionary, "k"), 3);
    dictionary["k"] = PlistValue::integer(4);
    EXPECT_EQ(integerAt(dictionary, "k"), 4);
    EXPECT_EQ(dictionary.size(), 1u);
}

TEST(PlistDictionaryTest, lookupAndRemoval)
{
    PlistDictionary dictionary{{"a", PlistValue::integer(1)}, {"c", PlistValue::integer(3)}};
    EXPECT_EQ(dictionary.find("b"), dictionary.end());
    EXPECT_EQ(dictionary.find("d"), dictionary.end());
    EXPECT_TRUE(dictionary.contains("c"));
    EXPECT_EQ(dictionary.count("a"), 1u);
    EXPECT_THROW(dictionary.at("b"), std::out_of_range);
    EXPECT_EQ(dictionary.erase("b"), 0u);
    EXPECT_EQ(dictionary.erase("a"), 1u);
    EXPECT_EQ(keysOf(dictionary), (std::vector<std::string>{"c"}));
    EXPECT_EQ(dictionary.eraseIf([](const auto& entry) { return entry.first == "c"; }), 1u);
    EXPECT_TRUE(dictionary.empty());
}

TEST(PlistDictionaryTest, ofARepeatedKeyTheListKeepsTheFirstAndEntriesTheLast)
{
    const PlistDictionary listed{
        {"k", PlistValue::integer(1)}, {"j", PlistValue::integer(0)}, {"k", PlistValue::integer(2)}};
    EXPECT_EQ(keysOf(listed), (std::vector<std::string>{"j", "k"}));
    EXPECT_EQ(integerAt(listed, "k"), 1);

    const PlistDictionary built = PlistDictionary::fromEntries(
        {{"k", PlistValue::integer(1)}, {"j", PlistValue::integer(0)}, {"k", PlistValue::integer(2)}});
    EXPECT_EQ(keysOf(built), (std::vector<std::string>{"j", "k"}));
    EXPECT_EQ(integerAt(built, "k"), 2);
}

TEST(PlistDictionaryTest, aLargeUnorderedBuildKeepsTheLastOfEachRepeatedKey)
{
    // More entries than are sorted by insertion, each key three times, in falling order.
    std::vector<PlistDictionary::value_type> entries;
    for (int round = 0; round < 3; ++round) {
        for (int key = 99; key >= 0; --key)
            entries.emplace_back(std::to_string(key), PlistValue::integer(round * 1000 + key));
    }
    const PlistDictionary dictionary = PlistDictionary::fromEntries(std::move(entries));
    ASSERT_EQ(dictionary.size(), 100u);
    EXPECT_EQ(dictionary.begin()->first, "0");
    EXPECT_EQ(integerAt(dictionary, "57"), 2057);
    EXPECT_TRUE(std::is_sorted(dictionary.begin(), dictionary.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));
}
