#include "ui/MenuController.h"

#include "platform/graphics/TextLayer.h"
#include "support/FailureOf.h"
#include "ui/HostView.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {
class MenuControllerTest : public testing::Test {
protected:
    MenuControllerTest() { view.pushController(opener); }

    std::shared_ptr<MenuController> show(QStringList choices)
    {
        auto menu = std::make_shared<MenuController>(std::move(choices));
        view.pushController(menu);
        view.layer()->layoutIfNeeded();
        return menu;
    }

    void press(int button)
    {
        view.performButton(button);
        view.layer()->layoutIfNeeded();
    }

    static const TextLayer& row(const MenuController& menu, std::size_t index)
    {
        return static_cast<const TextLayer&>(*menu.groupLayerForTesting().sublayers().at(index));
    }

    HostView view;
    std::shared_ptr<Raroderavarav> opener = std::make_shared<Raroderavarav>();
};
} // namespace

// The view is 960 × 720: the choices' area is (120, 90, 720, 540).
TEST_F(MenuControllerTest, AShortMenuFillsTheUpperRowsOfSixWithTheFirstChoiceFramed)
{
    ASSERT_EQ(view.layer()->bounds(), Rect(0, 0, 960, 720));
    auto menu = show({"Toggle fullscreen", "Finish this level", "Exit rating"});
    EXPECT_EQ(menu->layer()->backgroundColor(), Color::white(1, 1));
    EXPECT_EQ(menu->chosenIndex(), 0u);
    EXPECT_EQ(menu->groupLayerForTesting().frame(), Rect(120, 90, 720, 540));
    // Rows of 540 / 6 = 90 from the top: the three choices fill the upper half.
    EXPECT_EQ(row(*menu, 0).frame(), Rect(0, 450, 720, 90));
    EXPECT_EQ(row(*menu, 1).frame(), Rect(0, 360, 720, 90));
    EXPECT_EQ(row(*menu, 2).frame(), Rect(0, 270, 720, 90));
    EXPECT_DOUBLE_EQ(row(*menu, 2).fontSize(), double(0.7f) * 90);
    EXPECT_EQ(row(*menu, 1).string(), "Finish this level");
    EXPECT_EQ(row(*menu, 1).foregroundColor(), Color::black());
    EXPECT_EQ(row(*menu, 1).alignmentMode(), TextLayer::AlignmentMode::Center);
    // A choice wider than its row ends in an ellipsis.
    EXPECT_EQ(row(*menu, 1).truncationMode(), TextLayer::TruncationMode::End);

    const Layer& selector = menu->selectorLayerForTesting();
    EXPECT_FALSE(selector.isHidden());
    EXPECT_EQ(selector.borderWidth(), 1.0);
    EXPECT_EQ(selector.frame(), Rect(120, 540, 720, 90));
    // Below the choices, so it never covers their text.
    EXPECT_EQ(menu->layer()->sublayers().front().get(), &selector);
}

TEST_F(MenuControllerTest, EightChoicesFillTheAreaAndScaleWithTheWindow)
{
    auto menu = show({"1", "2", "3", "4", "5", "6", "7", "8"});
    EXPECT_EQ(row(*menu, 7).frame(), Rect(0, 0, 720, 68)); // 67.5 rounded outward
    EXPECT_DOUBLE_EQ(row(*menu, 0).fontSize(), double(0.7f) * 67.5);

    view.show();
    view.resize(1920, 1080);
    QCoreApplication::processEvents();
    view.layer()->layoutIfNeeded();
    EXPECT_EQ(menu->groupLayerForTesting().frame(), Rect(240, 135, 1440, 810));
    EXPECT_DOUBLE_EQ(row(*menu, 0).fontSize(), double(0.7f) * 810 / 8);
}

TEST_F(MenuControllerTest, UpAndDownMoveTheFrameAndStopAtTheEnds)
{
    auto menu = show({"a", "b", "c"});
    press(ButtonUp);
    EXPECT_EQ(menu->chosenIndex(), 0u);
    EXPECT_FALSE(menu->layer()->needsLayout());

    press(ButtonDown);
    EXPECT_EQ(menu->chosenIndex(), 1u);
    EXPECT_EQ(menu->selectorLayerForTesting().frame(), Rect(120, 450, 720, 90));
    press(ButtonDown);
    EXPECT_EQ(menu->selectorLayerForTesting().frame(), Rect(120, 360, 720, 90));
    // The last entry: no wrap, and nothing to lay out again.
    view.performButton(ButtonDown);
    EXPECT_EQ(menu->chosenIndex(), 2u);
    EXPECT_FALSE(menu->layer()->needsLayout());
    press(ButtonUp);
    EXPECT_EQ(menu->chosenIndex(), 1u);
    // Left and Right do nothing.
    press(ButtonLeft);
    press(ButtonRight);
    EXPECT_EQ(menu->chosenIndex(), 1u);
    EXPECT_EQ(view.currentController(), menu.get());
}

TEST_F(MenuControllerTest, SelectKeepsTheChoiceAndMenuGivesNone)
{
    auto menu = show({"a", "b", "c"});
    press(ButtonDown);
    press(ButtonSelect);
    EXPECT_EQ(view.currentController(), opener.get());
    EXPECT_EQ(menu->chosenIndex(), 1u);
    EXPECT_EQ(menu->hostView(), nullptr);

    menu = show({"a", "b", "c"});
    press(ButtonDown);
    press(ButtonMenu);
    EXPECT_EQ(view.currentController(), opener.get());
    EXPECT_EQ(menu->chosenIndex(), MenuController::noChoice);
    EXPECT_EQ(static_cast<long>(menu->chosenIndex()), -1);
}

TEST_F(MenuControllerTest, AChoiceOutsideTheListShowsNoFrame)
{
    auto menu = show({"a", "b"});
    menu->setChosenIndex(MenuController::noChoice);
    menu->layer()->layoutIfNeeded();
    EXPECT_TRUE(menu->selectorLayerForTesting().isHidden());
    // Up from there is no move back into the list.
    press(ButtonUp);
    EXPECT_EQ(menu->chosenIndex(), MenuController::noChoice);
}

TEST_F(MenuControllerTest, ItLaysOutItsOwnLayerOnly)
{
    auto menu = show({"a"});
    auto stranger = Layer::create();
    EXPECT_EQ(failureOf([&] { menu->layoutSublayersOfLayer(*stranger); }), "Layout own layer only");
}
