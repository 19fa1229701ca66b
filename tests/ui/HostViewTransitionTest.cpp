#include "platform/graphics/ManualAnimationClock.h"
#include "platform/graphics/ScopedTransaction.h"
#include "support/RecordingController.h"
#include "ui/HostView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QWindow>
#include <gtest/gtest.h>

namespace {
// Mean grey level of a frame, 0 (black) to 255 (white).
double brightness(const QImage& frame)
{
    const QImage grey = frame.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            sum += line[x];
    }
    return sum / (double(grey.width()) * grey.height());
}

// Counts its layouts, as the album picker lays out only while on a host view's stack.
class HostedLayoutController : public RecordingController {
public:
    using RecordingController::RecordingController;
    void layoutSublayersOfLayer(Layer& /*layer*/) override { ++(hostView() ? hosted : unhosted); }
    int hosted = 0;
    int unhosted = 0;
};

class HostViewTransitionTest : public testing::Test {
protected:
    HostViewTransitionTest()
    {
        view.resize(160, 120);
        view.show();
        white->layer()->setBackgroundColor(Color::white(1, 1));
        grey->layer()->setBackgroundColor(Color::white(0.5, 1));
        view.pushController(white);
        settle();
    }

    QImage frame() { return view.grab().toImage(); }

    // Waits, five seconds at most, until the window can be painted; then paints a frame into it.
    bool paintOnScreen()
    {
        QElapsedTimer timer;
        timer.start();
        while (!(view.windowHandle() && view.windowHandle()->isExposed()) && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!view.windowHandle() || !view.windowHandle()->isExposed())
            return false;
        view.repaint();
        return true;
    }

    // Draws a frame (the tree is on screen from then on) and lets any fade end.
    void settle()
    {
        frame();
        clock.advance(1);
        frame();
    }

    // The brightness of frames every 20 ms from the change through the end of its fade.
    std::vector<double> framesThroughTheChange()
    {
        std::vector<double> frames;
        for (int step = 0; step <= 20; ++step) {
            frames.push_back(brightness(frame()));
            clock.advance(0.02);
        }
        return frames;
    }

    ManualAnimationClock clock;
    std::shared_ptr<RecordingController::Log> log = std::make_shared<RecordingController::Log>();
    std::shared_ptr<RecordingController> white = std::make_shared<RecordingController>("W", log);
    std::shared_ptr<RecordingController> grey = std::make_shared<RecordingController>("G", log);
    HostView view;
};
} // namespace

TEST_F(HostViewTransitionTest, PushAndPopCrossFadeWithoutPassingThroughBlack)
{
    const double whiteLevel = brightness(frame());
    view.pushController(grey);
    const std::vector<double> pushFrames = framesThroughTheChange();
    const double greyLevel = pushFrames.back();
    EXPECT_NEAR(whiteLevel, 255, 1);
    EXPECT_NEAR(greyLevel, 127.5, 2);
    // Each frame lies between the two screens: the old picture shows under the fading new one.
    for (size_t i = 0; i < pushFrames.size(); ++i) {
        EXPECT_GE(pushFrames[i], greyLevel - 2) << "push, frame " << i;
        EXPECT_LE(pushFrames[i], whiteLevel + 2) << "push, frame " << i;
    }
    EXPECT_GT(pushFrames[2], greyLevel + 10) << "the change is a fade, not a cut";

    view.popController();
    const std::vector<double> popFrames = framesThroughTheChange();
    for (size_t i = 0; i < popFrames.size(); ++i)
        EXPECT_GE(popFrames[i], greyLevel - 2) << "pop, frame " << i;
    EXPECT_NEAR(popFrames.back(), whiteLevel, 1);
}

TEST_F(HostViewTransitionTest, AChangeDuringAFadeStartsFromWhatIsOnScreen)
{
    view.pushController(grey);
    frame();
    clock.advance(0.1);
    frame();
    // Back before the first fade ended: no frame falls below the darker screen.
    view.popController();
    for (double level : framesThroughTheChange())
        EXPECT_GE(level, 125);
}

TEST_F(HostViewTransitionTest, TheFadeStartsFromTheFrameOnScreenNotFromTheTree)
{
    ASSERT_TRUE(paintOnScreen());
    {
        // A change not painted yet: the screen still shows white.
        ScopedTransaction transaction;
        transaction.setDisableActions(true);
        white->layer()->setBackgroundColor(Color::white(0, 1));
    }
    view.pushController(grey);
    EXPECT_NEAR(brightness(view.transitionPictureForTesting()), 255, 1);
    EXPECT_NEAR(brightness(frame()), 255, 1) << "the fade's first frame is the old screen";
    clock.advance(1);
    EXPECT_NEAR(brightness(frame()), 127.5, 2);
}

TEST_F(HostViewTransitionTest, TwoSwapsBetweenTwoFramesFadeOnceFromTheFirstScreen)
{
    auto dark = std::make_shared<RecordingController>("D", log);
    dark->layer()->setBackgroundColor(Color::white(0, 1));
    view.pushController(grey);
    settle();
    ASSERT_TRUE(paintOnScreen());
    // As Select on the album picker does: the picker goes, and its screen pushes the next at once.
    view.popController();
    const QImage& picture = view.transitionPictureForTesting();
    const qint64 first = picture.cacheKey();
    EXPECT_NEAR(brightness(picture), 127.5, 2);
    view.pushController(dark);
    EXPECT_EQ(view.transitionPictureForTesting().cacheKey(), first) << "one picture per shown frame";
    EXPECT_NEAR(brightness(frame()), 127.5, 2);

    // Once a frame has been painted, the next swap takes the screen anew.
    clock.advance(0.1);
    view.repaint();
    const double midFade = brightness(frame());
    view.popController();
    EXPECT_NE(view.transitionPictureForTesting().cacheKey(), first);
    EXPECT_NEAR(brightness(view.transitionPictureForTesting()), midFade, 2);
}

TEST_F(HostViewTransitionTest, LeavingAScreenJustResizedPicturesItWhileItIsStillHosted)
{
    auto picker = std::make_shared<HostedLayoutController>("P", log);
    view.pushController(picker);
    settle();
    // The window's new size reaches the screen's own layers at the next frame; none came yet.
    view.resize(200, 150);
    ASSERT_TRUE(picker->layer()->needsLayout());
    picker->hosted = 0;
    view.popController();
    EXPECT_EQ(picker->unhosted, 0);
    EXPECT_GT(picker->hosted, 0) << "the picture of the old screen lays it out at its new size";
}
