#include "app/AppDelegate.h"

#include "platform/foundation/Resources.h"
#include "rating/RootController.h"
#include "support/RecordingController.h"
#include "ui/Cursor.h"
#include "ui/HostView.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>

using testing::ElementsAre;

namespace {
// Records what start-up and shutdown ask of the world; the work queue can be held open.
struct FakeWorld {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::promise<void> releaseWork;
    std::shared_future<void> workReleased = releaseWork.get_future().share();
    bool rated = false;
    bool bridgeRequired = false;
    bool released = false;

    void record(const std::string& call)
    {
        std::lock_guard lock(mutex);
        calls.push_back(call);
    }

    void release()
    {
        std::lock_guard lock(mutex);
        if (!released)
            releaseWork.set_value();
        released = true;
    }

    std::vector<std::string> recorded()
    {
        std::lock_guard lock(mutex);
        return calls;
    }

    AppDelegate::Services services()
    {
        AppDelegate::Services services;
        services.finishWork = [this] {
            record("finishWork");
            workReleased.wait();
        };
        services.didRateItems = [this] {
            record("didRateItems");
            return rated;
        };
        services.activateLibrary = [this] { record("activateLibrary"); };
        services.isIRBridgeInstallationRequired = [this] { return bridgeRequired; };
        services.quitApplication = [this] { record("quit"); };
        return services;
    }
};

class AppDelegateTest : public testing::Test {
protected:
    void start()
    {
        delegate = std::make_unique<AppDelegate>(world.services());
        delegate->setLayerHost(&view);
        delegate->awakeFromNib();
    }

    // Runs the event loop until the shutdown has replied (the work queue was released first).
    void finishShutdown()
    {
        world.release();
        QElapsedTimer guard;
        guard.start();
        while (!delegate->hasRepliedToTermination() && guard.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(delegate->hasRepliedToTermination());
    }

    void TearDown() override
    {
        // A shutdown left waiting must not keep the delegate's thread from ending.
        world.release();
    }

    FakeWorld world;
    HostView view;
    std::unique_ptr<AppDelegate> delegate;
};
} // namespace

TEST_F(AppDelegateTest, StartUpPushesTheRootControllerAndStartsTheRemote)
{
    start();
    ASSERT_EQ(view.controllers().size(), 1u);
    EXPECT_EQ(view.currentController(), delegate->rootController());
    EXPECT_TRUE(view.isRemoteActive());
    EXPECT_EQ(delegate->rootController()->status(), 0);
    EXPECT_FALSE(delegate->isTerminating());
    EXPECT_EQ(ApplicationDelegate::shared(), delegate.get());
}

TEST_F(AppDelegateTest, BridgeRequirementLeavesTheRemoteOffAndSaysSo)
{
    world.bridgeRequired = true;
    start();
    EXPECT_FALSE(view.isRemoteActive());
    EXPECT_EQ(delegate->rootController()->status(), -3);
}

TEST_F(AppDelegateTest, QuitDuringAStagePopsToTheRootAndWaitsForTheQueue)
{
    start();
    auto log = std::make_shared<RecordingController::Log>();
    auto stage = std::make_shared<RecordingController>("S", log);
    auto flow = std::make_shared<RecordingController>("F", log);
    view.pushController(stage);
    view.pushController(flow);
    log->clear();

    delegate->terminate();
    EXPECT_TRUE(delegate->isTerminating());
    EXPECT_FALSE(view.isRemoteActive());
    EXPECT_EQ(view.currentController(), delegate->rootController());
    EXPECT_THAT(*log, ElementsAre("S layerWillAppear", "F layerWillDisappear", "F layerDidDisappear",
                                  "S layerDidAppear", "S layerWillDisappear", "S layerDidDisappear"));
    EXPECT_EQ(delegate->rootController()->status(), 1);
    // Nothing ends while ratings are still being written.
    QCoreApplication::processEvents();
    EXPECT_FALSE(delegate->hasRepliedToTermination());

    delegate->terminate(); // a second request changes nothing
    finishShutdown();
    EXPECT_THAT(world.recorded(), ElementsAre("finishWork", "didRateItems", "quit"));
}

TEST_F(AppDelegateTest, QuitAfterRatingActivatesTheLibrary)
{
    world.rated = true;
    start();
    delegate->terminate();
    finishShutdown();
    EXPECT_THAT(world.recorded(), ElementsAre("finishWork", "didRateItems", "activateLibrary", "quit"));
}

TEST_F(AppDelegateTest, ClosingTheWindowQuitsThroughTheShutdown)
{
    start();
    view.show();
    EXPECT_FALSE(view.close());
    EXPECT_TRUE(delegate->isTerminating());
    EXPECT_EQ(delegate->rootController()->status(), 1);
    finishShutdown();
    EXPECT_FALSE(view.isVisible());
}

TEST_F(AppDelegateTest, MenuOnTheRootScreenQuits)
{
    start();
    view.performButton(ButtonMenu);
    EXPECT_TRUE(delegate->isTerminating());
    finishShutdown();
}

TEST_F(AppDelegateTest, FullScreenToggleHidesAndShowsThePointer)
{
    start();
    view.show();
    delegate->toggleFullScreen();
    EXPECT_TRUE(view.isInFullScreenMode());
    EXPECT_FALSE(Cursor::isVisible());
    delegate->toggleFullScreen();
    EXPECT_FALSE(view.isInFullScreenMode());
    EXPECT_TRUE(Cursor::isVisible());
}

TEST_F(AppDelegateTest, MinimisedWhileFullScreenComesBackOnTheNextTurn)
{
    start();
    view.show();
    delegate->toggleFullScreen();
    view.setWindowState(view.windowState() | Qt::WindowMinimized);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.windowState().testFlag(Qt::WindowMinimized));
    EXPECT_TRUE(view.isInFullScreenMode());
    delegate->toggleFullScreen();

    view.setWindowState(view.windowState() | Qt::WindowMinimized);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(view.windowState().testFlag(Qt::WindowMinimized));
}

TEST_F(AppDelegateTest, MenuCommandsLiveOnTheViewAndTheHelpPageShips)
{
    start();
    QStringList texts;
    for (QAction* action : view.actions())
        texts << action->text();
    EXPECT_EQ(texts, QStringList({"Toggle Full Screen", "Zuzire Help", "Quit Zuzire"}));
    EXPECT_TRUE(QFileInfo::exists(Resources::path("help.html")));

    view.actions().last()->trigger();
    EXPECT_TRUE(delegate->isTerminating());
    finishShutdown();
}
