#include "library/AlbumInfo.h"

#include "library/AlbumInfoOperation.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/LibraryFolderTest.h"
#include "support/ReleaseProbe.h"
#include "support/SampleLibrary.h"
#include "support/SteppedAlbumInfoClock.h"
#include "support/TimeLimit.h"
#include "support/WaitUntil.h"
#include "tools/library/ExifOrientation.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

namespace {
using namespace SampleLibrary;

QByteArray jpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

// Left half red, right half blue: tells which way an image was turned.
QImage halves(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 2; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    return image;
}
} // namespace

class AlbumInfoTest : public LibraryFolderTest {
protected:
    QString writeLibrary(const QString& name, const PlistPtr& tree,
                         PropertyListSerialization::Format format = PropertyListSerialization::Format::Xml)
    {
        EXPECT_TRUE(PropertyListSerialization::writeFile(path(name), tree, format));
        return path(name);
    }

    static void setDatabases(const std::vector<std::string>& urls)
    {
        PlistArray array;
        for (const auto& url : urls)
            array.push_back(PlistValue::string(url));
        ASSERT_TRUE(Preferences::setValue("iPhotoRecentDatabases", PlistValue::array(std::move(array)),
                                          Preferences::libraryDomain));
    }

    static std::string fileUrl(const QString& file)
    {
        return QUrl::fromLocalFile(file).toString().toStdString();
    }
};

TEST_F(AlbumInfoTest, TheFirstOfTwoLibrariesIsTheCurrentOne)
{
    const QString first = writeLibrary("first.xml", library());
    setDatabases({"file://localhost" + first.toStdString(), fileUrl(path("second.xml"))});
    EXPECT_EQ(AlbumInfo::defaultAlbumInfoURL()->path(), first);

    AlbumInfo albumInfo;
    Error error;
    const auto albums = albumInfo.reload(&error);
    ASSERT_TRUE(albums) << error.description();
    EXPECT_EQ(albums->size(), 2u);
}

TEST_F(AlbumInfoTest, NoLibraryIsTheNotFoundErrorNotAnEmptyList)
{
    for (const auto& urls : {std::vector<std::string>{}, std::vector<std::string>{"::no url::"}}) {
        setDatabases(urls);
        AlbumInfo albumInfo;
        Error error;
        EXPECT_FALSE(albumInfo.reload(&error));
        EXPECT_EQ(error.domain(), Error::cocoaDomain);
        EXPECT_EQ(error.code(), 260);
        EXPECT_EQ(error.localizedDescription(), "Could not find current iPhoto library");
        EXPECT_EQ(error.failureReason(),
                  "No iPhoto data was found. Please make sure that an iPhoto library has "
                  "been properly configured");
    }
}

TEST_F(AlbumInfoTest, UnreadableAndMalformedFilesAreErrorsWithTheirUrl)
{
    QFile(path("broken.xml")).open(QIODevice::WriteOnly);
    const std::vector<std::pair<QString, QByteArray>> cases = {
        {"truncated.xml", "<?xml version=\"1.0\"?><plist><dict><key>List of Albums</key><array>"},
        {"notplist.xml", "<html><body/></html>"},
        {"unknown.xml", "<plist><dict><key>a</key><blob/></dict></plist>"},
        {"dangling.xml", "<plist><dict><key>a</key></dict></plist>"},
        {"empty.xml", ""},
        {"binary.plist", QByteArray("bplist00\x01\x02\x03", 11)},
    };
    for (const auto& [name, bytes] : cases) {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const QUrl url = QUrl::fromLocalFile(path(name));
        Error error;
        EXPECT_FALSE(AlbumInfo::readAlbumInfo(url, &error)) << name.toStdString();
        EXPECT_EQ(error.code(), 259) << name.toStdString();
        EXPECT_FALSE(error.localizedDescription().empty());
        EXPECT_EQ(error.url(), url);

        // A reload judges only the parts it reads (see the next test); these fail before that.
        if (name == "unknown.xml" || name == "dangling.xml")
            continue;
        setDatabases({fileUrl(path(name))});
        Error reloadError;
        EXPECT_FALSE(AlbumInfo().reload(&reloadError));
        EXPECT_EQ(reloadError.code(), 259) << name.toStdString();
    }
    Error error;
    EXPECT_FALSE(AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(path("absent.xml")), &error));
    EXPECT_EQ(error.code(), 260);
    EXPECT_EQ(error.url(), QUrl::fromLocalFile(path("absent.xml")));
}

TEST_F(AlbumInfoTest, MissingPartsAreSkippedButAMalformedPhotoHandedOnIsAnError)
{
    const QByteArray master = "<key>Master Image List</key><dict><key>1</key><dict><key>MediaType</key>"
                              "<string>Image</string><key>Caption</key>";
    const std::vector<std::pair<QByteArray, std::optional<int>>> cases = {
        {"<plist><dict/></plist>", std::nullopt},
        // A root that is no dictionary is no library at all, not one without unrated photos.
        {"<plist><array/></plist>", 259},
        {"<plist><dict>" + master + "<string>x</string></dict></dict></dict></plist>", std::nullopt},
        {"<plist><dict>" + master +
             "<integer>x</integer></dict></dict><key>List of Albums</key><array><dict>"
             "<key>KeyList</key><array><string>1</string></array></dict></array></dict></plist>",
         259},
    };
    for (const auto& [bytes, code] : cases) {
        QFile file(path("library.xml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        setDatabases({fileUrl(path("library.xml"))});
        Error error;
        const auto albums = AlbumInfo().reload(&error);
        EXPECT_EQ(albums.has_value(), !code) << bytes.toStdString();
        if (albums)
            EXPECT_TRUE(albums->empty());
        else
            EXPECT_EQ(error.code(), *code);
    }
    Error error;
    EXPECT_FALSE(AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(path("library.xml")), &error));
    EXPECT_EQ(error.code(), 259);
    EXPECT_NE(error.localizedDescription().find("integer"), std::string::npos);
}

TEST_F(AlbumInfoTest, DeeplyNestedXmlIsRefusedNotRecursedInto)
{
    QByteArray bytes = "<plist>";
    for (int i = 0; i < 100000; ++i)
        bytes += "<array>";
    QFile file(path("deep.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes + "</plist>");
    file.close();
    Error error;
    EXPECT_FALSE(AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(path("deep.xml")), &error));
    EXPECT_EQ(error.code(), 259);
}

TEST_F(AlbumInfoTest, XmlValuesOfEveryKindSurviveTheReader)
{
    QFile file(path("kinds.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist>\n<plist version=\"1.0\">\n<dict>\n"
        "  <key>s</key><string>a &amp; <![CDATA[<b>]]></string>\n  <key>w</key><string> </string>\n"
        "  <key>i</key><integer>-42</integer>\n  <key>r</key><real>2.5</real>\n"
        "  <key>t</key><true/>\n  <key>f</key><false/>\n  <key>d</key><date>2001-01-02T00:00:01Z</date>\n"
        "  <key>b</key><data>\n  AAEC\n  </data>\n  <key>e</key><array>\n</array>\n</dict>\n</plist>\n");
    file.close();
    const PlistPtr tree = AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(path("kinds.xml")));
    ASSERT_TRUE(tree);
    EXPECT_EQ(*tree->objectForKey("s")->asString(), "a & <b>");
    EXPECT_EQ(*tree->objectForKey("w")->asString(), " ");
    EXPECT_EQ(tree->objectForKey("i")->asInteger(), -42);
    EXPECT_EQ(tree->objectForKey("r")->asReal(), 2.5);
    EXPECT_EQ(tree->objectForKey("t")->asBoolean(), true);
    EXPECT_EQ(tree->objectForKey("f")->asBoolean(), false);
    EXPECT_EQ(tree->objectForKey("d")->asDateSeconds(), 86401.0);
    EXPECT_EQ(*tree->objectForKey("b")->asData(), QByteArray("\x00\x01\x02", 3));
    EXPECT_TRUE(tree->objectForKey("e")->asArray()->empty());
}

TEST_F(AlbumInfoTest, ContentInsideAnEmptyElementIsRefused)
{
    QFile file(path("content.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<plist><dict><key>t</key><true> </true></dict></plist>");
    file.close();
    Error error;
    EXPECT_FALSE(AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(path("content.xml")), &error));
    EXPECT_NE(error.localizedDescription().find("Unexpected content"), std::string::npos);
}

class AlbumInfoReloadTest : public AlbumInfoTest {
protected:
    // Runs one queued reload while the work queue is held, stepping the clock by `workSeconds`
    // between the request and the work, and returns what was announced.
    Notification reloadTaking(double workSeconds, double minimumSeconds = AlbumInfo::minimumReloadSeconds)
    {
        auto albumInfo = std::make_shared<AlbumInfo>(m_clock.clock());
        EXPECT_TRUE(albumInfo->setMinimumReloadSeconds(minimumSeconds));
        std::mutex gate;
        gate.lock();
        albumInfo->workQueue().addOperation(AlbumInfoOperation::create([&] { std::lock_guard hold(gate); }));
        albumInfo->reload();
        m_clock.advance(workSeconds);
        gate.unlock();

        Notification received;
        QEventLoop loop;
        ObserverToken token = NotificationCenter::defaultCenter().addObserver(
            AlbumInfo::didReloadNotification, albumInfo.get(), [&](const Notification& notification) {
                received = notification;
                loop.quit();
            });
        loop.exec();
        albumInfo->finish();
        return received;
    }

    SteppedAlbumInfoClock m_clock;
};

TEST_F(AlbumInfoReloadTest, AFastReloadWaitsForTheRestOfTheSecond)
{
    setDatabases({fileUrl(writeLibrary("library.xml", library()))});
    const Notification notification = reloadTaking(0.2);
    ASSERT_EQ(m_clock.sleeps.size(), 1u);
    EXPECT_NEAR(m_clock.sleeps.front(), 0.8, 1e-9);
    const PlistPtr albums = notification.plistForKey(AlbumInfo::unratedAlbumsKey);
    ASSERT_TRUE(albums);
    EXPECT_EQ(albums->asArray()->size(), 2u);
    EXPECT_EQ(notification.userInfo.size(), 1u);
}

TEST_F(AlbumInfoReloadTest, AnotherMinimumWaitIsKeptToTheSame)
{
    setDatabases({fileUrl(writeLibrary("library.xml", library()))});
    reloadTaking(0.2, 0.5);
    ASSERT_EQ(m_clock.sleeps.size(), 1u);
    EXPECT_NEAR(m_clock.sleeps.front(), 0.3, 1e-9);
    m_clock.sleeps.clear();
    reloadTaking(0.2, 0);
    EXPECT_TRUE(m_clock.sleeps.empty());
}

TEST(AlbumInfoMinimumWaitTest, OnlyWaitsFromNoneToTenSecondsAreTaken)
{
    AlbumInfo albumInfo;
    EXPECT_EQ(albumInfo.minimumReloadSecondsSetting(), 1.0);
    for (const double refused : {-0.001, 10.001, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_FALSE(albumInfo.setMinimumReloadSeconds(refused)) << refused;
        EXPECT_EQ(albumInfo.minimumReloadSecondsSetting(), 1.0) << refused;
    }
    EXPECT_TRUE(albumInfo.setMinimumReloadSeconds(0));
    EXPECT_EQ(albumInfo.minimumReloadSecondsSetting(), 0.0);
    EXPECT_TRUE(albumInfo.setMinimumReloadSeconds(10));
    EXPECT_EQ(albumInfo.minimumReloadSecondsSetting(), 10.0);
}

TEST_F(AlbumInfoReloadTest, ASlowReloadAnnouncesAtOnce)
{
    setDatabases({fileUrl(writeLibrary("library.xml", library()))});
    reloadTaking(3.0);
    EXPECT_TRUE(m_clock.sleeps.empty());
}

TEST_F(AlbumInfoReloadTest, ALibraryWithOnlyRatedPhotosHasNoUnratedPhotos)
{
    const PlistPtr rated = PlistValue::dictionary(
        {{"Master Image List", PlistValue::dictionary({{"2", photo("G2", "Image", PlistValue::integer(3))}})},
         {"List of Albums", PlistValue::array({album("Rated", {"2"})})}});
    setDatabases({fileUrl(writeLibrary("rated.xml", rated))});
    const Notification notification = reloadTaking(0);
    const Error* error = notification.errorForKey(AlbumInfo::errorKey);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "com.quillmoss.lumendeck");
    EXPECT_EQ(error->code(), 1);
    EXPECT_EQ(error->localizedDescription(), "No unrated photos found");
    EXPECT_FALSE(notification.plistForKey(AlbumInfo::unratedAlbumsKey));
}

TEST_F(AlbumInfoReloadTest, AFailedReadIsAnnouncedAsItsError)
{
    setDatabases({});
    const Notification notification = reloadTaking(0);
    ASSERT_TRUE(notification.errorForKey(AlbumInfo::errorKey));
    EXPECT_EQ(notification.errorForKey(AlbumInfo::errorKey)->code(), 260);
}

TEST_F(AlbumInfoTest, TheSharedInstanceIsOne)
{
    EXPECT_EQ(AlbumInfo::sharedAlbumInfo(), AlbumInfo::sharedAlbumInfo());
    AlbumInfo::sharedAlbumInfo()->finish();
}

TEST_F(AlbumInfoTest, RecordsLetGoAreReleasedOffTheCallingThreadWithoutWaitingForTheWorkQueue)
{
    AlbumInfo albumInfo;
    ReleaseProbe probe;
    ReleaseProbe shared;
    const PlistPtr kept = shared.take();
    // A reload or a rating write under way.
    std::mutex gate;
    gate.lock();
    albumInfo.workQueue().addOperation(AlbumInfoOperation::create([&] { std::lock_guard hold(gate); }));
    // Built apart and moved in: an initializer list would keep its own reference to the probe
    // until the call returns, and drop the last one here if the release came first.
    PlistArray records;
    records.push_back(probe.take());
    records.push_back(kept);
    albumInfo.releaseRecords(std::move(records));
    EXPECT_TRUE(waitUntil([&] { return probe.isReleased(); }));
    gate.unlock();
    {
        TimeLimit limit;
        albumInfo.finish();
    }
    ASSERT_TRUE(probe.isReleased());
    EXPECT_NE(*probe.releaseThread(), std::this_thread::get_id());
    // A record still held elsewhere only loses the reference it was given.
    EXPECT_FALSE(shared.isReleased());
}

class AlbumInfoImageTest : public AlbumInfoTest {
protected:
    PlistPtr item(const QString& thumb, const QString& image)
    {
        return PlistValue::dictionary({{"ThumbPath", PlistValue::string(thumb.toStdString())},
                                       {"ImagePath", PlistValue::string(image.toStdString())}});
    }
    QString writeJpeg(const QString& name, const QByteArray& bytes)
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path(name);
    }
    AlbumInfo m_albumInfo;
};

TEST_F(AlbumInfoImageTest, SizesUpTo360ReadTheThumbnailAndLargerOnesTheImage)
{
    const QString thumb = writeJpeg("thumb.jpg", jpeg(halves(360, 240)));
    const QString image = writeJpeg("image.jpg", jpeg(halves(1200, 800)));
    const PlistPtr record = item(thumb, image);
    EXPECT_EQ(m_albumInfo.imageForItem(record, 360).size(), QSize(360, 240));
    EXPECT_EQ(m_albumInfo.imageForItem(record, 100).size(), QSize(100, 67));
    EXPECT_EQ(m_albumInfo.imageForItem(record, 361).size(), QSize(361, 241));
    EXPECT_EQ(m_albumInfo.imageForItem(record, 0).size(), QSize(360, 240));
    EXPECT_EQ(m_albumInfo.imageForItem(item(image, thumb), 0).size(), QSize(1200, 800));
    EXPECT_EQ(m_albumInfo.imageForItem(record, 5000).size(), QSize(1200, 800));
}

TEST_F(AlbumInfoImageTest, AnExifTurnedPhotoComesOutUprightAtTheSizeAsked)
{
    // Stored 800 x 600 with orientation 6 (turn right to show): shown 600 x 800, and the stored
    // left half (red) ends up on top.
    const QString file = writeJpeg("turned.jpg", ExifOrientation::withOrientation(jpeg(halves(800, 600)), 6));
    const QImage image = m_albumInfo.imageForItem(item(file, file), 400);
    ASSERT_EQ(image.size(), QSize(300, 400));
    EXPECT_GT(qRed(image.pixel(150, 50)), 200);
    EXPECT_GT(qBlue(image.pixel(150, 350)), 200);
    EXPECT_EQ(m_albumInfo.imageForItem(item(file, file), 0).size(), QSize(600, 800));
}

TEST_F(AlbumInfoImageTest, AliasesAreFollowed)
{
    const QString image = writeJpeg("image.jpg", jpeg(halves(1200, 800)));
    ASSERT_EQ(
        ::symlink(QFile::encodeName(image).constData(), QFile::encodeName(path("link.jpg")).constData()), 0);
    EXPECT_EQ(m_albumInfo.imageForItem(item({}, path("link.jpg")), 600).size(), QSize(600, 400));
}

TEST_F(AlbumInfoImageTest, MissingTruncatedAndHostileFilesGiveNoImage)
{
    const QByteArray whole = jpeg(halves(1200, 800));
    const QString header = writeJpeg("header.jpg", whole.left(100));
    const QString garbage = writeJpeg("garbage.jpg", QByteArray(5000, '\x5a'));
    // A header that claims 65000 x 65000 pixels: beyond the allocation limit.
    QByteArray huge = whole;
    const qsizetype sof = huge.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xFD);
    huge[sof + 6] = char(0xE8);
    huge[sof + 7] = char(0xFD);
    huge[sof + 8] = char(0xE8);
    const QString bomb = writeJpeg("bomb.jpg", huge);
    for (const QString& file : {header, garbage, bomb, path("absent.jpg"), QString()})
        EXPECT_TRUE(m_albumInfo.imageForItem(item(file, file), 0).isNull()) << file.toStdString();
    EXPECT_TRUE(m_albumInfo.imageForItem(nullptr, 100).isNull());
    // Cut inside the picture data: no image, or the whole picture's size with the rest left blank.
    const QString cut = writeJpeg("cut.jpg", whole.left(whole.size() / 2));
    const QImage partial = m_albumInfo.imageForItem(item(cut, cut), 800);
    EXPECT_TRUE(partial.isNull() || partial.size() == QSize(800, 533))
        << partial.width() << "x" << partial.height();
}
