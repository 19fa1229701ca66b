#include "platform/foundation/InternalInconsistency.h"

#include <gtest/gtest.h>

namespace {
struct Widgetish {
    void check(bool ok) { QM_ASSERT(ok, "Widget is broken"); }
    void checkParameter(int value) { QM_PARAMETER_ASSERT(value > 0, "value > 0"); }
};
} // namespace

TEST(InternalInconsistencyTest, CarriesDescriptionOperationObjectAndFile)
{
    Widgetish widget;
    try {
        widget.check(false);
        FAIL() << "expected a failure";
    } catch (const InternalInconsistency& failure) {
        EXPECT_STREQ(failure.what(), "Widget is broken");
        EXPECT_EQ(failure.operation(), "check");
        EXPECT_EQ(failure.object(), "(anonymous namespace)::Widgetish");
        EXPECT_EQ(failure.file(), "InternalInconsistencyTest.cpp");
    }
    EXPECT_NO_THROW(widget.check(true));
}

TEST(InternalInconsistencyTest, ParameterChecksQuoteTheConditionText)
{
    Widgetish widget;
    try {
        widget.checkParameter(0);
        FAIL() << "expected a failure";
    } catch (const InternalInconsistency& failure) {
        EXPECT_EQ(failure.description(), "Invalid parameter not satisfying: value > 0");
    }
}
