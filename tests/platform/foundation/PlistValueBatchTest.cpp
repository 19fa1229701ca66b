#include "platform/foundation/PlistValueBatch.h"

#include <gtest/gtest.h>

TEST(PlistValueBatchTest, valuesAreThoseOfTheFactories)
{
    PlistValueBatch batch(8);
    EXPECT_EQ(*batch.string("text"), *PlistValue::string("text"));
    EXPECT_EQ(*batch.integer(-7), *PlistValue::integer(-7));
    EXPECT_EQ(*batch.real(2.5), *PlistValue::real(2.5));
    EXPECT_EQ(*batch.boolean(true), *PlistValue::boolean(true));
    EXPECT_EQ(*batch.date(86400.0), *PlistValue::date(86400.0));
    EXPECT_EQ(*batch.data(QByteArray("\x00\x01", 2)), *PlistValue::data(QByteArray("\x00\x01", 2)));
    EXPECT_TRUE(batch.date(1.0)->isDate());
}

TEST(PlistValueBatchTest, aValueOutlivesItsBatchAndItsNeighbours)
{
    PlistPtr kept;
    PlistPtr overflow;
    {
        // Room for two: the third value starts another allocation.
        PlistValueBatch batch(2);
        PlistPtr first = batch.string(std::string(100, 'a'));
        kept = batch.string(std::string(100, 'b'));
        overflow = batch.string(std::string(100, 'c'));
    }
    EXPECT_EQ(*kept->asString(), std::string(100, 'b'));
    kept.reset();
    EXPECT_EQ(*overflow->asString(), std::string(100, 'c'));
}

TEST(PlistValueBatchTest, aBatchedValueCanBeSharedLikeAnyOther)
{
    PlistValueBatch batch(4);
    const PlistPtr name = batch.string("n");
    const PlistPtr tree = PlistValue::dictionary({{"name", name}, {"copy", name}});
    EXPECT_EQ(tree->objectForKey("copy"), tree->objectForKey("name"));
    EXPECT_EQ(tree->description(), "{ copy = n; name = n; }");
}
