#include "platform/foundation/Preferences.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/TemporaryConfigHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {
const std::string libraryKey = "iPhotoRecentDatabases";

class PreferencesTest : public testing::Test {
protected:
    TemporaryConfigHome m_home;
};

void writeRaw(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

TEST_F(PreferencesTest, domainFilesLiveUnderTheConfigHome)
{
    EXPECT_EQ(Preferences::domainFilePath("com.apple.iApps"),
              m_home.path() + "/zuzire/com.apple.iApps.plist");
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(Preferences::directoryPath(), QDir::homePath() + "/.config/zuzire");
    EXPECT_THROW(Preferences::domainFilePath("../escape"), InternalInconsistency);
    EXPECT_THROW(Preferences::domainFilePath(""), InternalInconsistency);
}

TEST_F(PreferencesTest, missingOrUnreadableFilesHoldNoValue)
{
    EXPECT_EQ(Preferences::copyValue(libraryKey, Preferences::libraryDomain), nullptr);
    writeRaw(Preferences::domainFilePath(Preferences::libraryDomain), "garbage");
    EXPECT_EQ(Preferences::copyValue(libraryKey, Preferences::libraryDomain), nullptr);
    writeRaw(
        Preferences::domainFilePath(Preferences::libraryDomain),
        PropertyListSerialization::toData(PlistValue::array({}), PropertyListSerialization::Format::Xml));
    EXPECT_EQ(Preferences::copyValue(libraryKey, Preferences::libraryDomain), nullptr);
}

TEST_F(PreferencesTest, libraryUrlStringsSurviveUnchanged)
{
    const auto list =
        PlistValue::array({PlistValue::string("file://localhost/home/me/Pictures/A/AlbumData.xml"),
                           PlistValue::string("file:///home/me/Pictures/B%20C/AlbumData.xml")});
    Error error;
    ASSERT_TRUE(Preferences::setValue(libraryKey, list, Preferences::libraryDomain, &error))
        << error.description();
    const auto stored = Preferences::copyValue(libraryKey, Preferences::libraryDomain);
    EXPECT_TRUE(PlistValue::equal(stored, list)) << (stored ? stored->description() : "nil");
}

TEST_F(PreferencesTest, settingAKeyKeepsTheOthersAndNullRemoves)
{
    const std::string domain = Preferences::applicationDomain;
    ASSERT_TRUE(Preferences::setValue("LaunchFullScreen", PlistValue::boolean(true), domain));
    ASSERT_TRUE(Preferences::setValue("NumberOfStages", PlistValue::integer(2), domain));
    EXPECT_EQ(Preferences::copyValue("LaunchFullScreen", domain)->asBoolean(), true);
    EXPECT_EQ(Preferences::copyValue("NumberOfStages", domain)->asInteger(), 2);

    ASSERT_TRUE(Preferences::setValue("LaunchFullScreen", nullptr, domain));
    EXPECT_EQ(Preferences::copyValue("LaunchFullScreen", domain), nullptr);
    EXPECT_EQ(Preferences::copyValue("NumberOfStages", domain)->asInteger(), 2);
    EXPECT_EQ(QDir(Preferences::directoryPath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"com.quillmoss.lumendeck.plist"});
}

TEST_F(PreferencesTest, aDamagedFileIsReportedNotOverwritten)
{
    const QString path = Preferences::domainFilePath(Preferences::applicationDomain);
    writeRaw(path, "<plist><dict><key>Hand edited</key>");
    Error error;
    EXPECT_FALSE(Preferences::setValue("NumberOfStages", PlistValue::integer(3),
                                       Preferences::applicationDomain, &error));
    EXPECT_EQ(error.code(), 259);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "<plist><dict><key>Hand edited</key>");
}
