#include "library/AlbumInfo.h"
#include "library/PhotoDecoder.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/RegularFile.h"
#include "support/SteppedAlbumInfoClock.h"
#include "support/TemporaryConfigHome.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <new>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Album data and photos replaced by things that are not files: each must be refused at once with a
// message that says what was found, and a reload must still end in its announcement.
namespace {
// Longer than any of these cases may take; only reached when a read blocks, and then it fails
// the test instead of hanging it.
constexpr int hangLimitMilliseconds = 20000;

struct OddFile {
    std::string kind;
    QString path;
    // Words the error's description must hold.
    std::string expected;
};

class OddFiles {
public:
    OddFiles()
    {
        const QString fifo = m_folder.filePath(QStringLiteral("fifo"));
        EXPECT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString folder = m_folder.filePath(QStringLiteral("folder"));
        EXPECT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
        m_socketPath = m_folder.filePath(QStringLiteral("socket"));
        m_socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(m_socketPath);
        std::memcpy(address.sun_path, name.constData(),
                    std::min<size_t>(size_t(name.size()), sizeof address.sun_path - 1));
        EXPECT_EQ(::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const QString loop = m_folder.filePath(QStringLiteral("loop"));
        EXPECT_TRUE(QFile::link(loop + QStringLiteral("2"), loop));
        EXPECT_TRUE(QFile::link(loop, loop + QStringLiteral("2")));
        m_files = {{"FIFO", fifo, "named pipe"},
                   {"device", QStringLiteral("/dev/zero"), "device"},
                   {"socket", m_socketPath, "socket"},
                   {"folder", folder, "folder"},
                   {"link loop", loop, "loop"}};
    }
    ~OddFiles()
    {
        ::close(m_socket);
        releaseFifo();
    }

    const std::vector<OddFile>& files() const { return m_files; }

    // Unblocks a reader stuck on the FIFO, so a failing test ends.
    void releaseFifo() const
    {
        const int fd = ::open(QFile::encodeName(m_files.front().path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }

private:
    QTemporaryDir m_folder;
    QString m_socketPath;
    int m_socket = -1;
    std::vector<OddFile> m_files;
};

class AlbumInfoOddFilesTest : public testing::Test {
protected:
    void setLibrary(const QString& path)
    {
        ASSERT_TRUE(Preferences::setValue(
            "iPhotoRecentDatabases",
            PlistValue::array({PlistValue::string(QUrl::fromLocalFile(path).toString().toStdString())}),
            Preferences::libraryDomain));
    }

    // The error a queued reload announces; fails the test if none comes within the limit.
    std::optional<Error> announcedError(const std::shared_ptr<AlbumInfo>& albumInfo)
    {
        std::optional<Notification> received;
        QEventLoop loop;
        ObserverToken token = NotificationCenter::defaultCenter().addObserver(
            AlbumInfo::didReloadNotification, albumInfo.get(), [&](const Notification& notification) {
                received = notification;
                loop.quit();
            });
        albumInfo->reload();
        QTimer::singleShot(hangLimitMilliseconds, &loop, &QEventLoop::quit);
        loop.exec();
        NotificationCenter::defaultCenter().removeObserver(token);
        if (!received) {
            m_odd.releaseFifo();
            ADD_FAILURE() << "the reload never announced its end";
            albumInfo->finish();
            return std::nullopt;
        }
        albumInfo->finish();
        const Error* error = received->errorForKey(AlbumInfo::errorKey);
        EXPECT_TRUE(error);
        return error ? std::optional<Error>(*error) : std::nullopt;
    }

    TemporaryConfigHome m_home;
    OddFiles m_odd;
    SteppedAlbumInfoClock m_clock;
};
} // namespace

TEST_F(AlbumInfoOddFilesTest, oddFilesAsAlbumDataEndTheReloadInAnError)
{
    for (const OddFile& odd : m_odd.files()) {
        setLibrary(odd.path);
        auto albumInfo = std::make_shared<AlbumInfo>(m_clock.clock());
        const auto error = announcedError(albumInfo);
        ASSERT_TRUE(error) << odd.kind;
        // Not the program's own domain, which would read "No photos need rating.".
        EXPECT_EQ(error->domain(), Error::cocoaDomain) << odd.kind;
        EXPECT_NE(error->localizedDescription().find(odd.expected), std::string::npos)
            << odd.kind << ": " << error->description();
        EXPECT_EQ(error->url(), QUrl::fromLocalFile(odd.path)) << odd.kind;
        EXPECT_FALSE(AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(odd.path))) << odd.kind;
        EXPECT_FALSE(PropertyListSerialization::readFile(odd.path)) << odd.kind;
    }
}

TEST_F(AlbumInfoOddFilesTest, oddFilesAsPhotosGiveNoImage)
{
    AlbumInfo albumInfo(m_clock.clock());
    for (const OddFile& odd : m_odd.files()) {
        const auto item = PlistValue::dictionary({{"ImagePath", PlistValue::string(odd.path.toStdString())},
                                                  {"ThumbPath", PlistValue::string(odd.path.toStdString())}});
        for (const unsigned size : {100u, 2000u, 0u})
            EXPECT_TRUE(albumInfo.imageForItem(item, size).isNull()) << odd.kind;
        Error error;
        EXPECT_TRUE(PhotoDecoder::decode(odd.path, 100, &error).isNull());
        EXPECT_NE(error.localizedDescription().find(odd.expected), std::string::npos)
            << odd.kind << ": " << error.description();
        EXPECT_FALSE(PhotoDecoder::displayedSize(odd.path).isValid()) << odd.kind;
    }
}

TEST_F(AlbumInfoOddFilesTest, aFileOverTheLimitIsRefusedBeforeItIsRead)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("AlbumData.xml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<plist><dict/></plist>");
    file.close();
    Error error;
    EXPECT_FALSE(RegularFile::read(path, &error, {}, 10));
    EXPECT_NE(error.localizedDescription().find("larger than 2 GB"), std::string::npos)
        << error.description();
    EXPECT_NE(error.localizedDescription().find("AlbumData.xml"), std::string::npos);
    EXPECT_EQ(RegularFile::read(path)->size(), 22);

    // Sparse: takes no space, but reports more than the limit.
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(RegularFile::maximumSize + 1));
    file.close();
    setLibrary(path);
    auto albumInfo = std::make_shared<AlbumInfo>(m_clock.clock());
    const auto announced = announcedError(albumInfo);
    ASSERT_TRUE(announced);
    EXPECT_NE(announced->localizedDescription().find("larger than 2 GB"), std::string::npos);
}

TEST_F(AlbumInfoOddFilesTest, aReloadThatThrowsStillAnnouncesItsError)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("AlbumData.xml"));
    ASSERT_TRUE(PropertyListSerialization::writeFile(path, PlistValue::dictionary({}),
                                                     PropertyListSerialization::Format::Xml));
    setLibrary(path);
    auto albumInfo = std::make_shared<AlbumInfo>(m_clock.clock());
    int thrown = 0;
    albumInfo->setReloadHookForTesting([&thrown] {
        if (thrown++ == 0)
            throw std::bad_alloc();
        throw std::runtime_error("disk on fire");
    });
    for (const std::string expected : {"bad_alloc", "disk on fire"}) {
        const auto error = announcedError(albumInfo);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), Error::cocoaDomain);
        EXPECT_NE(error->failureReason().find(expected), std::string::npos) << error->description();
    }
}

TEST_F(AlbumInfoOddFilesTest, aRootThatIsNoDictionaryIsNoLibrary)
{
    QTemporaryDir folder;
    for (const auto format :
         {PropertyListSerialization::Format::Xml, PropertyListSerialization::Format::Binary}) {
        const QString path = folder.filePath(QStringLiteral("AlbumData.xml"));
        ASSERT_TRUE(
            PropertyListSerialization::writeFile(path, PlistValue::array({PlistValue::integer(1)}), format));
        setLibrary(path);
        Error error;
        EXPECT_FALSE(AlbumInfo(m_clock.clock()).reload(&error));
        EXPECT_EQ(error.domain(), Error::cocoaDomain);
        EXPECT_EQ(error.code(), 259);
        EXPECT_NE(error.localizedDescription().find("no dictionary"), std::string::npos);
    }
}

TEST_F(AlbumInfoOddFilesTest, aDamagedPreferenceFileIsTheCauseToldNotAMissingLibrary)
{
    const QString preference = Preferences::domainFilePath(Preferences::libraryDomain);
    ASSERT_TRUE(QDir().mkpath(Preferences::directoryPath()));
    struct Case {
        std::string kind;
        std::function<void()> make;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"empty",
         [&] {
             QFile file(preference);
             file.open(QIODevice::WriteOnly);
         },
         "is empty"},
        {"link loop",
         [&] {
             QFile::remove(preference);
             QFile::link(preference + QStringLiteral(".other"), preference);
             QFile::link(preference, preference + QStringLiteral(".other"));
         },
         "loop"},
        {"folder",
         [&] {
             QFile::remove(preference);
             QDir().mkpath(preference);
         },
         "folder"},
    };
    for (const Case& odd : cases) {
        odd.make();
        Error error;
        EXPECT_FALSE(AlbumInfo(m_clock.clock()).reload(&error)) << odd.kind;
        EXPECT_NE(error.localizedDescription().find(odd.expected), std::string::npos)
            << odd.kind << ": " << error.description();
        EXPECT_NE(error.localizedDescription().find("com.apple.iApps.plist"), std::string::npos)
            << odd.kind << ": " << error.description();
        // Nor is the damaged file replaced when a setting is written.
        EXPECT_FALSE(
            Preferences::setValue("Other", PlistValue::integer(1), Preferences::libraryDomain, &error));
    }
}
