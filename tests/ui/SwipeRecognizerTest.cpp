#include "ui/SwipeRecognizer.h"

#include "support/NativeGestures.h"

#include <gtest/gtest.h>

namespace {
// One gesture on `recognizer`: begin, the pans, end; the swipe the end hands over.
std::optional<SwipeRecognizer::Swipe> swipe(SwipeRecognizer& recognizer, std::initializer_list<QPointF> pans)
{
    EXPECT_FALSE(recognizer.handle(nativeGesture(Qt::BeginNativeGesture)));
    for (QPointF pan : pans)
        EXPECT_FALSE(recognizer.handle(nativeGesture(Qt::PanNativeGesture, pan)));
    return recognizer.handle(nativeGesture(Qt::EndNativeGesture));
}
} // namespace

// Gestures in a row on one recogniser, as the host view receives them.
TEST(SwipeRecognizerTest, DominantDirectionOfTheWholeGestureWins)
{
    SwipeRecognizer recognizer;
    // Fingers moving up the pad (screen y decreasing) are a swipe up.
    auto up = swipe(recognizer, {{3, -10}, {2, -30}});
    ASSERT_TRUE(up);
    EXPECT_EQ(up->dx, 0);
    EXPECT_EQ(up->dy, 1);

    auto right = swipe(recognizer, {{20, 5}, {40, -10}});
    ASSERT_TRUE(right);
    EXPECT_EQ(right->dx, -1);
    EXPECT_EQ(right->dy, 0);

    auto left = swipe(recognizer, {{-60, 0}});
    ASSERT_TRUE(left);
    EXPECT_EQ(left->dx, 1);
    EXPECT_EQ(left->dy, 0);

    auto down = swipe(recognizer, {{10, 10}}); // a tie goes to the vertical
    ASSERT_TRUE(down);
    EXPECT_EQ(down->dx, 0);
    EXPECT_EQ(down->dy, -1);
}

TEST(SwipeRecognizerTest, EachGestureStartsFromNothing)
{
    SwipeRecognizer recognizer;
    // A gesture's movement ends with it and does not count towards the next one.
    ASSERT_TRUE(swipe(recognizer, {{-300, 0}, {200, 0}}));
    auto right = swipe(recognizer, {{40, 0}});
    ASSERT_TRUE(right);
    EXPECT_EQ(right->dx, -1);

    // A gesture the desktop never ended: the next beginning drops its movement.
    EXPECT_FALSE(recognizer.handle(nativeGesture(Qt::BeginNativeGesture)));
    EXPECT_FALSE(recognizer.handle(nativeGesture(Qt::PanNativeGesture, {-500, 0})));
    auto down = swipe(recognizer, {{3, 20}});
    ASSERT_TRUE(down);
    EXPECT_EQ(down->dx, 0);
    EXPECT_EQ(down->dy, -1);

    // Nor does a pan that came after an end count towards the next gesture.
    EXPECT_FALSE(recognizer.handle(nativeGesture(Qt::PanNativeGesture, {0, -500})));
    auto left = swipe(recognizer, {{-30, 2}});
    ASSERT_TRUE(left);
    EXPECT_EQ(left->dx, 1);
    EXPECT_EQ(left->dy, 0);
}

TEST(SwipeRecognizerTest, NoSwipeWithoutMovementOrWithoutABeginning)
{
    SwipeRecognizer recognizer;
    EXPECT_FALSE(swipe(recognizer, {}));
    EXPECT_FALSE(swipe(recognizer, {{0.3, -0.2}}));
    EXPECT_FALSE(recognizer.handle(nativeGesture(Qt::PanNativeGesture, {50, 0})));
    EXPECT_FALSE(recognizer.handle(nativeGesture(Qt::EndNativeGesture)));
    // A second end of the same gesture hands over nothing more.
    ASSERT_TRUE(swipe(recognizer, {{0, 40}}));
    EXPECT_FALSE(recognizer.handle(nativeGesture(Qt::EndNativeGesture)));
}
