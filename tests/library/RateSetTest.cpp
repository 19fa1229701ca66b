#include "library/RateSet.h"

#include "platform/foundation/InternalInconsistency.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {
PlistPtr item(const std::string& key)
{
    return PlistValue::dictionary({{"qm_ItemKey", PlistValue::string(key)}});
}

std::vector<std::string> keys(const PlistArray& items)
{
    std::vector<std::string> result;
    for (const PlistPtr& record : items)
        result.push_back(*record->objectForKey("qm_ItemKey")->asString());
    return result;
}

const ItemStatus allStatuses[] = {ItemStatusNeutral, ItemStatusUp, ItemStatusDown, ItemStatusPassed};
} // namespace

TEST(RateSetTest, AnEmptySetHasNoItemsOfAnyStatus)
{
    const auto set = RateSet::rateSetWithItems({});
    EXPECT_EQ(set->count(), 0u);
    for (const ItemStatus status : allStatuses)
        EXPECT_TRUE(set->itemsWithStatus(status).empty());
    EXPECT_THROW(set->itemStatusAtIndex(0), InternalInconsistency);
}

TEST(RateSetTest, ANewSetIsAllNeutralInItsOrder)
{
    const RateSet set({item("a"), item("b"), item("c")});
    ASSERT_EQ(set.count(), 3u);
    for (std::size_t i = 0; i < set.count(); ++i)
        EXPECT_EQ(set.itemStatusAtIndex(i), ItemStatusNeutral);
    EXPECT_EQ(keys(set.itemsWithStatus(ItemStatusNeutral)), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(*set.itemAtIndex(1)->objectForKey("qm_ItemKey")->asString(), "b");
}

TEST(RateSetTest, ItemsWithAStatusComeInTheOrderOfThePassAndStayAsTheyWere)
{
    RateSet set({item("a"), item("b"), item("c")});
    set.setItemStatus(ItemStatusUp, 2);
    set.setItemStatus(ItemStatusDown, 1);
    set.setItemStatus(ItemStatusUp, 0);
    const PlistArray up = set.itemsWithStatus(ItemStatusUp);
    EXPECT_EQ(keys(up), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(keys(set.itemsWithStatus(ItemStatusDown)), (std::vector<std::string>{"b"}));
    EXPECT_TRUE(set.itemsWithStatus(ItemStatusNeutral).empty());
    EXPECT_TRUE(set.itemsWithStatus(ItemStatusPassed).empty());

    set.setItemStatus(ItemStatusPassed, 0);
    set.setItemStatus(ItemStatusUp, 1);
    EXPECT_EQ(keys(up), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(keys(set.itemsWithStatus(ItemStatusUp)), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(keys(set.itemsWithStatus(ItemStatusPassed)), (std::vector<std::string>{"a"}));
    EXPECT_EQ(set.itemStatusAtIndex(0), ItemStatusPassed);
}

TEST(RateSetTest, AnIndexPastTheEndIsAFailureThatChangesNothing)
{
    RateSet set({item("a"), item("b"), item("c")});
    set.setItemStatus(ItemStatusDown, 2);
    try {
        set.itemStatusAtIndex(3);
        ADD_FAILURE() << "no failure";
    } catch (const InternalInconsistency& failure) {
        EXPECT_EQ(failure.description(), "Index out of range (3 >= 3)");
        EXPECT_EQ(failure.operation(), "itemStatusAtIndex");
        EXPECT_EQ(failure.object(), "RateSet");
        EXPECT_EQ(failure.file(), "RateSet.cpp");
    }
    try {
        set.setItemStatus(ItemStatusUp, 7);
        ADD_FAILURE() << "no failure";
    } catch (const InternalInconsistency& failure) {
        EXPECT_EQ(failure.description(), "Index out of range (7 >= 3)");
        EXPECT_EQ(failure.operation(), "setItemStatus");
    }
    EXPECT_THROW(set.itemAtIndex(3), std::out_of_range);
    EXPECT_EQ(set.itemStatusAtIndex(0), ItemStatusNeutral);
    EXPECT_EQ(set.itemStatusAtIndex(1), ItemStatusNeutral);
    EXPECT_EQ(set.itemStatusAtIndex(2), ItemStatusDown);
    EXPECT_TRUE(set.itemsWithStatus(ItemStatusUp).empty());
}

TEST(RateSetTest, TheCallersArrayIsNotTheSets)
{
    PlistArray items{item("a"), item("b")};
    const RateSet set(items);
    items.push_back(item("c"));
    items[0] = item("z");
    EXPECT_EQ(set.count(), 2u);
    EXPECT_EQ(keys(set.itemsWithStatus(ItemStatusNeutral)), (std::vector<std::string>{"a", "b"}));
}
