#include "ui/SwipeRecognizer.h"

#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <gtest/gtest.h>

namespace {
QNativeGestureEvent gesture(Qt::NativeGestureType type, QPointF delta = {})
{
    return QNativeGestureEvent(type, QPointingDevice::primaryPointingDevice(), 3, QPointF(), QPointF(),
                               QPointF(), 0, delta);
}

// One gesture: begin, the pans, end; the swipe the end hands over.
std::optional<SwipeRecognizer::Swipe> swipe(std::initializer_list<QPointF> pans)
{
    SwipeRecognizer recognizer;
    EXPECT_FALSE(recognizer.handle(gesture(Qt::BeginNativeGesture)));
    for (QPointF pan : pans)
        EXPECT_FALSE(recognizer.handle(gesture(Qt::PanNativeGesture, pan)));
    return recognizer.handle(gesture(Qt::EndNativeGesture));
}
} // namespace

TEST(SwipeRecognizerTest, DominantDirectionOfTheWholeGestureWins)
{
    // Fingers moving up the pad (screen y decreasing) are a swipe up.
    auto up = swipe({{3, -10}, {2, -30}});
    ASSERT_TRUE(up);
    EXPECT_EQ(up->dx, 0);
    EXPECT_EQ(up->dy, 1);

    auto right = swipe({{20, 5}, {40, -10}});
    ASSERT_TRUE(right);
    EXPECT_EQ(right->dx, -1);
    EXPECT_EQ(right->dy, 0);

    auto left = swipe({{-60, 0}});
    ASSERT_TRUE(left);
    EXPECT_EQ(left->dx, 1);

    auto down = swipe({{10, 10}}); // a tie goes to the vertical
    ASSERT_TRUE(down);
    EXPECT_EQ(down->dy, -1);
}

TEST(SwipeRecognizerTest, NoSwipeWithoutMovementOrWithoutABeginning)
{
    EXPECT_FALSE(swipe({}));
    EXPECT_FALSE(swipe({{0.3, -0.2}}));
    SwipeRecognizer recognizer;
    EXPECT_FALSE(recognizer.handle(gesture(Qt::PanNativeGesture, {50, 0})));
    EXPECT_FALSE(recognizer.handle(gesture(Qt::EndNativeGesture)));
}
