#include "platform/ipc/SessionBus.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A listening socket at `path`, as the session's bus has in the runtime folder.
bool listenAt(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (fd < 0 || name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::copy(name.begin(), name.end(), address.sun_path);
    // The file stays when the socket closes, which is all the lookup sees.
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

QProcessEnvironment environmentOf(const QString& given, const QString& runtimeFolder)
{
    QProcessEnvironment environment;
    if (!given.isNull())
        environment.insert("DBUS_SESSION_BUS_ADDRESS", given);
    if (!runtimeFolder.isNull())
        environment.insert("XDG_RUNTIME_DIR", runtimeFolder);
    return environment;
}
} // namespace

TEST(SessionBusTest, OnlyABusThatRunsIsEverAnAddress)
{
    QTemporaryDir withBus(QDir::tempPath() + "/bus dir~XXXXXX");
    QTemporaryDir withFile;
    QTemporaryDir empty;
    ASSERT_TRUE(listenAt(withBus.filePath("bus")));
    QFile file(withFile.filePath("bus"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString escaped = QString::fromLatin1(QFile::encodeName(withBus.filePath("bus")))
                                .replace(" ", "%20")
                                .replace("~", "%7E");
    const struct {
        const char* what;
        QString given;
        QString runtimeFolder;
        QString expected;
    } cases[] = {
        {"given", "unix:path=/run/user/1/bus", withBus.path(), "unix:path=/run/user/1/bus"},
        {"given, launching entries left out",
         "autolaunch:;tcp:host=h,port=1;autolaunch:scope=x",
         {},
         "tcp:host=h,port=1"},
        {"only launching: the runtime folder's", "autolaunch:", withBus.path(), "unix:path=" + escaped},
        {"none, already turned off", SessionBus::noBus, empty.path(), ""},
        {"the runtime folder's socket", {}, withBus.path(), "unix:path=" + escaped},
        {"a file that is no socket", {}, withFile.path(), ""},
        {"no socket", {}, empty.path(), ""},
        {"no runtime folder", {}, {}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SessionBus::address(environmentOf(c.given, c.runtimeFolder)).toStdString(),
                  c.expected.toStdString())
            << c.what;
}
