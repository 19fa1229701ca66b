#include "app/DisplayCheck.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
QProcessEnvironment environment(std::initializer_list<std::pair<QString, QString>> variables)
{
    QProcessEnvironment result;
    for (const auto& [name, value] : variables)
        result.insert(name, value);
    return result;
}

// A listening Unix socket at `path`, closed with the object.
struct Listener {
    explicit Listener(const QByteArray& path)
    {
        fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 1) == 0;
    }
    ~Listener() { ::close(fd); }
    int fd;
    bool ok;
};
} // namespace

TEST(DisplayCheckTest, NoDisplayIsOneLineWithTheWayOut)
{
    const QString problem = DisplayCheck::problem({}, environment({}));
    EXPECT_EQ(problem, "zuzire: no display to show the window on (DISPLAY is not set); to run without a "
                       "screen: xvfb-run -a zuzire");
    EXPECT_FALSE(problem.contains('\n'));
    EXPECT_EQ(DisplayCheck::problem("xcb", environment({{"WAYLAND_DISPLAY", "nowhere-987"}})), problem);
}

TEST(DisplayCheckTest, ADisplayNobodyAnswersIsNamed)
{
    const QString problem = DisplayCheck::problem({}, environment({{"DISPLAY", ":987"}}));
    EXPECT_TRUE(problem.startsWith("zuzire: cannot open the display \":987\"")) << problem.toStdString();
    EXPECT_TRUE(problem.endsWith("xvfb-run -a zuzire"));
    EXPECT_FALSE(DisplayCheck::canConnectToX("not a display"));
    EXPECT_FALSE(DisplayCheck::canConnectToX("unix:987.0"));
}

TEST(DisplayCheckTest, PlatformsWithoutADisplayNeedNone)
{
    EXPECT_TRUE(DisplayCheck::problem("offscreen", environment({})).isEmpty());
    EXPECT_TRUE(DisplayCheck::problem({}, environment({{"QT_QPA_PLATFORM", "offscreen"}})).isEmpty());
    // -platform wins over the environment.
    EXPECT_FALSE(DisplayCheck::problem("xcb", environment({{"QT_QPA_PLATFORM", "offscreen"}})).isEmpty());
}

TEST(DisplayCheckTest, AListeningSocketCounts)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("X0");
    Listener listener(path.toLocal8Bit());
    ASSERT_TRUE(listener.ok);
    EXPECT_TRUE(DisplayCheck::canConnectToX(path + ":0"));
    EXPECT_TRUE(DisplayCheck::problem({}, environment({{"DISPLAY", path + ":0"}})).isEmpty());
    EXPECT_TRUE(DisplayCheck::canConnectToWayland("X0", folder.path()));
    EXPECT_TRUE(DisplayCheck::problem(
                    "wayland", environment({{"WAYLAND_DISPLAY", "X0"}, {"XDG_RUNTIME_DIR", folder.path()}}))
                    .isEmpty());
}
