#include "app/AppDelegate.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/Resources.h"
#include "platform/foundation/UserDefaults.h"
#include "rating/RootController.h"
#include "support/RecordingController.h"
#include "support/WaitUntil.h"
#include "ui/Cursor.h"
#include "ui/HostView.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <atomic>
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
    std::vector<double> minimumLoadSeconds;

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
        services.setMinimumLoadSeconds = [this](double seconds) {
            minimumLoadSeconds.push_back(seconds);
            return seconds <= 10;
        };
        return services;
    }
};

class AppDelegateTest : public testing::Test {
protected:
    // `firstFrameLimitMs`: how long the held work waits for a first frame that does not come.
    void start(int firstFrameLimitMs = AppDelegate::firstFrameLimitMs)
    {
        delegate = std::make_unique<AppDelegate>(world.services());
        delegate->setFirstFrameLimitForTesting(firstFrameLimitMs);
        delegate->setLayerHost(&view);
        delegate->awakeFromNib();
    }

    // Turns the event loop for the remote's start; the view is not shown, so no frame comes.
    bool remoteStartsWithoutAFrame()
    {
        return processEventsUntil([this] { return view.isRemoteActive(); }, std::chrono::milliseconds(2000));
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

    // Reloads of the album data begun so far (they run on the work queue).
    int reloads() const { return *m_reloads; }
    // Lets every queued operation run (a reload hands its result to the main thread before it
    // ends), so a reload already asked for has begun.
    static bool drainWorkQueue()
    {
        return processEventsUntil(
            [] { return AlbumInfo::sharedAlbumInfo()->workQueue().operationCount() == 0; });
    }

    void SetUp() override
    {
        Cursor::resetForTesting();
        ASSERT_TRUE(drainWorkQueue());
        AlbumInfo::sharedAlbumInfo()->setReloadHookForTesting([reloads = m_reloads] { ++*reloads; });
    }

    void TearDown() override
    {
        ASSERT_TRUE(drainWorkQueue());
        AlbumInfo::sharedAlbumInfo()->setReloadHookForTesting({});
        // A shutdown left waiting must not keep the delegate's thread from ending.
        world.release();
        delegate.reset();
        // A button hides the pointer until the mouse moves: the next test starts with it shown.
        Cursor::resetForTesting();
    }

    std::shared_ptr<std::atomic<int>> m_reloads = std::make_shared<std::atomic<int>>(0);
    FakeWorld world;
    HostView view;
    std::unique_ptr<AppDelegate> delegate;
};
} // namespace

namespace {
// Counts a widget's paints.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

TEST_F(AppDelegateTest, StartUpPushesTheRootControllerAndReadsAndListensOnceTheFirstFrameIsPainted)
{
    PaintCounter counter;
    view.installEventFilter(&counter);
    start(60000);
    ASSERT_EQ(view.controllers().size(), 1u);
    EXPECT_EQ(view.currentController(), delegate->rootController());
    EXPECT_EQ(delegate->rootController()->status(), 0);
    EXPECT_FALSE(delegate->isTerminating());
    EXPECT_EQ(ApplicationDelegate::shared(), delegate.get());
    // Not before the first frame: reading the library and looking for receivers would hold it up.
    QCoreApplication::processEvents();
    ASSERT_TRUE(drainWorkQueue());
    EXPECT_EQ(reloads(), 0);
    EXPECT_FALSE(view.isRemoteActive());

    view.show();
    ASSERT_TRUE(processEventsUntil([this] { return view.isRemoteActive(); }));
    EXPECT_GE(counter.paints, 1);
    ASSERT_TRUE(drainWorkQueue());
    EXPECT_EQ(reloads(), 1);
    // The test's configuration names no library.
    EXPECT_EQ(delegate->rootController()->status(), -2);
    view.hide();
}

TEST_F(AppDelegateTest, TheMinimumLoadingWaitComesFromTheDefaults)
{
    start();
    EXPECT_TRUE(world.minimumLoadSeconds.empty()) << "nothing set when the default is absent";
    delegate.reset();
    for (const char* text : {"0.25", "0", "12", "soon"}) {
        UserDefaults::setArgumentsForTesting({"-MinimumLoadSeconds", text});
        start();
        delegate.reset();
    }
    UserDefaults::setArgumentsForTesting({});
    // "soon" is no number and never reaches the setter; 12 is refused by it and only warned about.
    EXPECT_THAT(world.minimumLoadSeconds, ElementsAre(0.25, 0.0, 12.0));
}

TEST_F(AppDelegateTest, WithoutAFrameTheLibraryIsReadAndTheRemoteStartsAfterTheLimit)
{
    start(0);
    EXPECT_FALSE(view.isRemoteActive());
    EXPECT_TRUE(remoteStartsWithoutAFrame());
    ASSERT_TRUE(drainWorkQueue());
    EXPECT_EQ(reloads(), 1);
}

TEST_F(AppDelegateTest, AShutdownBeforeTheFirstFrameNeitherReadsNorListens)
{
    start(0);
    delegate->terminate();
    EXPECT_FALSE(remoteStartsWithoutAFrame());
    finishShutdown();
    EXPECT_FALSE(view.isRemoteActive());
    ASSERT_TRUE(drainWorkQueue());
    EXPECT_EQ(reloads(), 0);
}

TEST_F(AppDelegateTest, BridgeRequirementLeavesTheRemoteOffAndSaysSo)
{
    world.bridgeRequired = true;
    start(0);
    EXPECT_FALSE(view.isRemoteActive());
    EXPECT_EQ(delegate->rootController()->status(), -3);
    EXPECT_FALSE(remoteStartsWithoutAFrame());
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

TEST_F(AppDelegateTest, EveryMenuKeyIsBoundOnceAndTheUsualKeysAreThere)
{
    start();
    QList<QKeySequence> all;
    for (QAction* action : view.actions()) {
        for (const QKeySequence& sequence : action->shortcuts()) {
            // Qt ignores a key bound twice as ambiguous, so it must appear once only.
            EXPECT_FALSE(all.contains(sequence)) << sequence.toString().toStdString();
            all.append(sequence);
        }
    }
    const QList<QAction*> actions = view.actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[0]->shortcuts().contains(QKeySequence(Qt::Key_F11)));
    EXPECT_TRUE(actions[1]->shortcuts().contains(QKeySequence(Qt::Key_F1)));
    EXPECT_TRUE(actions[2]->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Q)));
}

TEST_F(AppDelegateTest, StandardKeysAlreadyOursAreNotAddedAgain)
{
    const QKeySequence quit(Qt::CTRL | Qt::Key_Q);
    const QList<QKeySequence> standard = QKeySequence::keyBindings(QKeySequence::Quit);
    const QList<QKeySequence> keys = AppDelegate::menuShortcuts(QKeySequence::Quit, {quit});
    EXPECT_EQ(keys.count(quit), 1);
    for (const QKeySequence& sequence : standard)
        EXPECT_TRUE(keys.contains(sequence));
}

TEST_F(AppDelegateTest, PointerComesBackHoweverFullScreenEnds)
{
    start();
    view.show();
    delegate->toggleFullScreen();
    EXPECT_FALSE(Cursor::isVisible());
    // The window manager's own key leaves full screen behind our back.
    view.showNormal();
    EXPECT_TRUE(Cursor::isVisible());
    // ...and enters it again: hidden, and our toggle then balances that hide.
    view.showFullScreen();
    EXPECT_FALSE(Cursor::isVisible());
    delegate->toggleFullScreen();
    EXPECT_FALSE(view.isInFullScreenMode());
    EXPECT_TRUE(Cursor::isVisible());
    // A toggle after the window manager left full screen enters it, and one more leaves it.
    delegate->toggleFullScreen();
    view.showNormal();
    delegate->toggleFullScreen();
    delegate->toggleFullScreen();
    EXPECT_TRUE(Cursor::isVisible());
}

TEST_F(AppDelegateTest, PointerShowsWhileMinimisedAndHidesAgainWhenFullScreenReturns)
{
    start();
    view.show();
    delegate->toggleFullScreen();
    view.setWindowState(view.windowState() | Qt::WindowMinimized);
    EXPECT_TRUE(Cursor::isVisible());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(view.isInFullScreenMode());
    EXPECT_FALSE(Cursor::isVisible());
}

TEST_F(AppDelegateTest, ADelegateEndingInFullScreenGivesThePointerBack)
{
    start();
    view.show();
    delegate->toggleFullScreen();
    EXPECT_FALSE(Cursor::isVisible());
    delegate.reset();
    EXPECT_TRUE(Cursor::isVisible());
}

namespace {
QStringList warnings;
void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

// Collects the warnings logged during its life.
struct WarningRecorder {
    WarningRecorder()
    {
        warnings.clear();
        previous = qInstallMessageHandler(recordWarning);
    }
    ~WarningRecorder() { qInstallMessageHandler(previous); }
    QtMessageHandler previous;
};

bool runUntil(const std::function<bool()>& condition)
{
    QElapsedTimer guard;
    guard.start();
    while (!condition() && guard.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}
} // namespace

TEST_F(AppDelegateTest, FocusIsCheckedOnceTheWindowIsActiveAndALossIsReported)
{
    start();
    WarningRecorder recorder;
    // At launch the window is not active yet: its focus means nothing until it is.
    delegate->applicationDidFinishLaunching();
    delegate->toggleFullScreen();
    view.show();
    view.activateWindow();
    ASSERT_TRUE(runUntil([this] { return view.isActiveWindow(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(warnings.contains("Not first responder!")) << warnings.join('\n').toStdString();

    // Leaving full screen gives the view the keyboard back.
    delegate->toggleFullScreen();
    EXPECT_FALSE(warnings.contains("Not first responder!"));

    // Something else in the window has the keyboard: a real loss, reported.
    QWidget other(&view);
    other.setFocusPolicy(Qt::StrongFocus);
    other.show();
    other.setFocus();
    ASSERT_TRUE(runUntil([&other] { return other.hasFocus(); }));
    delegate->toggleFullScreen();
    EXPECT_TRUE(warnings.contains("Not first responder!"));
}

TEST_F(AppDelegateTest, ActivationRunsTheToolEvenWhenItsPathHasAQuoteAndASpace)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString folder = root.filePath("Bob's tools/bin");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString marker = root.filePath("arguments");
    const QString tool = folder + "/zuzire-library";
    QFile script(tool);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\n").arg(marker).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    AppDelegate::defaultServices(tool).activateLibrary();
    ASSERT_TRUE(runUntil([&marker] { return QFileInfo(marker).size() > 0; }));
    QFile written(marker);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "activate\n");
}
