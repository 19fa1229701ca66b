#include "app/Automation.h"

#include "app/AppDelegate.h"
#include "rating/FlowController.h"
#include "support/RecordingController.h"
#include "ui/HostView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {
class AutomationTest : public testing::Test {
protected:
    AutomationTest()
    {
        AppDelegate::Services services = AppDelegate::defaultServices();
        services.quitApplication = [] {};
        delegate = std::make_unique<AppDelegate>(services);
        delegate->setLayerHost(&view);
        delegate->awakeFromNib();
        view.show();
        automation =
            std::make_unique<Automation>(*delegate, view, [this](const QString& line) { answers << line; });
    }

    void runUntilAnswers(qsizetype count)
    {
        QElapsedTimer guard;
        guard.start();
        while (answers.size() < count && guard.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    HostView view;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<Automation> automation;
    QStringList answers;
};
} // namespace

TEST_F(AutomationTest, TreeListsControllersBottomFirstAndOnlyVisibleTexts)
{
    auto log = std::make_shared<RecordingController::Log>();
    view.pushController(std::make_shared<RecordingController>("A", log));
    const QJsonObject tree = QJsonDocument::fromJson(automation->treeJson().toUtf8()).object();
    const QJsonArray controllers = tree["controllers"].toArray();
    ASSERT_EQ(controllers.size(), 2);
    EXPECT_EQ(controllers[0].toString(), "RootController");
    EXPECT_EQ(controllers[1].toString(), "RecordingController");
    // The root screen's text left the tree with its layer.
    EXPECT_TRUE(tree["texts"].toArray().isEmpty());
}

TEST_F(AutomationTest, CommandsWaitForARunningWait)
{
    automation->submit("wait 0.05");
    automation->submit("press Up");
    EXPECT_EQ(answers.size(), 0);
    runUntilAnswers(2);
    EXPECT_EQ(answers, QStringList({"ok", "ok"}));
}

TEST_F(AutomationTest, KeysReachTheCurrentControllerAsButtons)
{
    auto log = std::make_shared<RecordingController::Log>();
    view.pushController(std::make_shared<RecordingController>("A", log));
    log->clear();
    for (const char* key :
         {"Up", "Down", "Left", "Right", "Return", "Enter", "Escape", "Backspace", "Delete", "Menu"})
        automation->submit(QString("key ") + key);
    EXPECT_EQ(*log, (RecordingController::Log{"A buttonUp", "A buttonDown", "A buttonLeft", "A buttonRight",
                                              "A buttonSelect", "A buttonSelect", "A buttonMenu",
                                              "A buttonMenu", "A buttonMenu", "A buttonMenu"}));
}

TEST_F(AutomationTest, TreeFollowsARatingPass)
{
    auto log = std::make_shared<RecordingController::Log>();
    view.pushController(std::make_shared<RecordingController>("A", log));
    EXPECT_FALSE(QJsonDocument::fromJson(automation->treeJson().toUtf8()).object().contains("screen"));

    PlistArray items;
    for (const char* key : {"11", "12", "13"})
        items.push_back(PlistValue::dictionary({{"qm_ItemKey", PlistValue::string(key)}}));
    view.pushController(std::make_shared<FlowController>(RateSet::rateSetWithItems(items)));
    automation->submit("press Up");
    view.layer()->layoutIfNeeded();
    const QJsonObject screen =
        QJsonDocument::fromJson(automation->treeJson().toUtf8()).object()["screen"].toObject();
    EXPECT_EQ(screen["position"].toInt(), 1);
    EXPECT_EQ(screen["count"].toInt(), 3);
    const QJsonArray photos = screen["photos"].toArray();
    ASSERT_FALSE(photos.isEmpty());
    EXPECT_EQ(photos.first().toObject(), (QJsonObject{{"index", 0}, {"id", "11"}, {"status", 1}}));
}

TEST_F(AutomationTest, ALineTooLongIsAnsweredOnceAndTheNextLineRuns)
{
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    automation->start(pipeEnds[0]);
    constexpr qsizetype limit = 64 * 1024;
    // A command padded to the limit still runs; one byte more, or many, is one error each.
    const QByteArray input = "press Up" + QByteArray(limit - 8, ' ') + "\n" + QByteArray(limit + 1, 'x') +
                             "\n" + QByteArray(5 * limit, 'y') + "\npress Down\n";
    // The writing end does not block, so one thread feeds the pipe and runs the reader.
    ASSERT_EQ(::fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK), 0);
    QElapsedTimer guard;
    guard.start();
    for (qsizetype written = 0; answers.size() < 4 && guard.elapsed() < 10000;) {
        const ssize_t count = ::write(pipeEnds[1], input.constData() + written, input.size() - written);
        written += std::max<ssize_t>(count, 0);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    automation.reset();
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    const QString tooLong = "error: a line holds at most 65536 bytes";
    EXPECT_EQ(answers, QStringList({"ok", tooLong, tooLong, "ok"}));
}
