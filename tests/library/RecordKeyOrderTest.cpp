#include "library/RecordKeyOrder.h"

#include "platform/foundation/PropertyList.h"

#include <gtest/gtest.h>

namespace {
std::vector<PlistDictionary::value_type> entries(const std::vector<std::pair<std::string, int64_t>>& list)
{
    std::vector<PlistDictionary::value_type> result;
    for (const auto& [key, value] : list)
        result.emplace_back(key, PlistValue::integer(value));
    return result;
}

std::string describe(const PlistDictionary& dictionary)
{
    return PlistValue::dictionary(dictionary)->description();
}
} // namespace

TEST(RecordKeyOrderTest, eachRecordComesOutInKeyOrderWhateverItsLayout)
{
    RecordKeyOrder order;
    // The same layout twice, then the same keys in another order, then other keys of the same
    // number, then a key given twice.
    const std::vector<std::vector<std::pair<std::string, int64_t>>> records = {
        {{"b", 1}, {"a", 2}, {"c", 3}}, {{"b", 4}, {"a", 5}, {"c", 6}}, {{"c", 7}, {"b", 8}, {"a", 9}},
        {{"z", 1}, {"y", 2}, {"x", 3}}, {{"z", 1}, {"y", 2}, {"z", 3}}, {{"z", 4}, {"y", 5}, {"z", 6}},
    };
    std::vector<std::string> described;
    for (const auto& record : records) {
        auto list = entries(record);
        described.push_back(describe(order.arrange(list)));
    }
    EXPECT_EQ(described, (std::vector<std::string>{"{ a = 2; b = 1; c = 3; }", "{ a = 5; b = 4; c = 6; }",
                                                   "{ a = 9; b = 8; c = 7; }", "{ x = 3; y = 2; z = 1; }",
                                                   "{ y = 2; z = 3; }", "{ y = 5; z = 6; }"}));
}
