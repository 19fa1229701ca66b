#include "app/FirstFrameReport.h"

#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QWidget>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace {
long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

bool readable(int descriptor)
{
    pollfd entry{descriptor, POLLIN, 0};
    return poll(&entry, 1, 0) == 1;
}
} // namespace

TEST(FirstFrameReportTest, DescriptorsAreWholeNonNegativeNumbers)
{
    EXPECT_EQ(FirstFrameReport::descriptorFrom("3"), 3);
    EXPECT_EQ(FirstFrameReport::descriptorFrom("0"), 0);
    for (const char* refused : {"", "-1", "three", "3x", "1e3"})
        EXPECT_EQ(FirstFrameReport::descriptorFrom(refused), -1) << refused;
}

TEST(FirstFrameReportTest, NothingWatchesWithoutTheVariable)
{
    qunsetenv("ZUZIRE_FIRST_FRAME_FD");
    QWidget widget;
    FirstFrameReport::installIfRequested(&widget);
    EXPECT_TRUE(widget.children().isEmpty());
}

TEST(FirstFrameReportTest, TheFirstPaintIsReportedOnceWithTheMonotonicTime)
{
    int report[2];
    ASSERT_EQ(pipe2(report, O_CLOEXEC | O_NONBLOCK), 0);
    qputenv("ZUZIRE_FIRST_FRAME_FD", QByteArray::number(report[1]));
    const long long before = monotonicNs();
    {
        QWidget widget;
        widget.resize(200, 100);
        FirstFrameReport::installIfRequested(&widget);
        qunsetenv("ZUZIRE_FIRST_FRAME_FD");
        widget.show();
        ASSERT_TRUE(processEventsUntil([&] { return readable(report[0]); }));
        char line[64] = {};
        ASSERT_GT(read(report[0], line, sizeof line - 1), 0);
        long long reported = 0;
        ASSERT_EQ(std::sscanf(line, "first-frame %lld\n", &reported), 1) << line;
        EXPECT_GE(reported, before);
        EXPECT_LE(reported, monotonicNs());

        // Later frames say nothing more.
        widget.repaint();
        QCoreApplication::processEvents();
        EXPECT_FALSE(readable(report[0]));
    }
    close(report[0]);
    close(report[1]);
}
