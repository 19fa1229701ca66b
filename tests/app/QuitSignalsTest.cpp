#include "app/QuitSignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <mutex>

namespace {
std::mutex warningsMutex;
QStringList warnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    std::lock_guard lock(warningsMutex);
    if (type == QtWarningMsg)
        warnings << message;
}

class QuitSignalsTest : public testing::Test {
protected:
    QuitSignalsTest() { previousHandler = qInstallMessageHandler(recordWarning); }
    ~QuitSignalsTest() override { qInstallMessageHandler(previousHandler); }

    std::unique_ptr<QuitSignals> make(std::size_t pending)
    {
        return std::make_unique<QuitSignals>(
            QuitSignals::Actions{[this] { ++quits; }, [pending] { return pending; },
                                 [this](int status) { exited.set_value(status); }});
    }

    // Runs the event loop until the quit path ran `count` times, for at most five seconds.
    void runUntilQuits(int count)
    {
        QElapsedTimer guard;
        guard.start();
        while (quits < count && guard.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    QtMessageHandler previousHandler;
    int quits = 0;
    std::promise<int> exited;
};
} // namespace

TEST_F(QuitSignalsTest, FirstSignalQuitsNormallyAndASecondEndsAtOnceSayingWhatIsLost)
{
    auto quitSignals = make(3);
    std::future<int> status = exited.get_future();
    std::raise(SIGTERM);
    runUntilQuits(1);
    EXPECT_EQ(quits, 1);
    EXPECT_NE(status.wait_for(std::chrono::milliseconds(50)), std::future_status::ready);

    std::raise(SIGINT);
    ASSERT_EQ(status.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(status.get(), 128 + SIGINT);
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 1);
    std::lock_guard lock(warningsMutex);
    EXPECT_TRUE(warnings.contains("Quitting at once on a second signal: 3 queued ratings were not written"))
        << warnings.join('\n').toStdString();
}

TEST_F(QuitSignalsTest, HangupQuitsAndOneQueuedRatingReadsRight)
{
    auto quitSignals = make(1);
    std::future<int> status = exited.get_future();
    std::raise(SIGHUP);
    runUntilQuits(1);
    EXPECT_EQ(quits, 1);
    std::raise(SIGHUP);
    ASSERT_EQ(status.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(status.get(), 128 + SIGHUP);
    std::lock_guard lock(warningsMutex);
    EXPECT_TRUE(warnings.contains("Quitting at once on a second signal: 1 queued rating was not written"));
}
