#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TemporaryConfigHome.h"
#include "support/TmpfsMount.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

// The preferences and property lists on a file system that really fills up: a buffered write that
// fails for lack of space must never be followed by the rename that would replace the old file.
namespace {
const std::string libraryKey = "iPhotoRecentDatabases";

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

class PreferencesFullDiskTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!m_disk.isMounted())
            GTEST_SKIP() << m_disk.whyNot().toStdString();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_disk.path()));
        ASSERT_TRUE(Preferences::setValue(
            libraryKey, PlistValue::array({PlistValue::string("file:///photos/AlbumData.xml")}),
            Preferences::libraryDomain));
        m_path = Preferences::domainFilePath(Preferences::libraryDomain);
        m_old = contentsOf(m_path);
        ASSERT_FALSE(m_old.isEmpty());
    }

    QStringList configEntries() const
    {
        return QDir(Preferences::directoryPath())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    void expectOldFileAlone()
    {
        EXPECT_EQ(contentsOf(m_path), m_old);
        EXPECT_EQ(configEntries(), QStringList{QStringLiteral("com.apple.iApps.plist")});
    }

    TemporaryConfigHome m_home;
    TmpfsMount m_disk{64};
    QString m_path;
    QByteArray m_old;
};

// A value larger than what is left: the lock file still fits, the new preference file does not.
TEST_F(PreferencesFullDiskTest, aPreferenceThatDoesNotFitLeavesTheOldFile)
{
    ASSERT_TRUE(m_disk.fill(4096));
    Error error;
    const auto large = PlistValue::array({PlistValue::string(std::string(20000, 'x'))});
    EXPECT_FALSE(Preferences::setValue(libraryKey, large, Preferences::libraryDomain, &error));
    EXPECT_EQ(error.code(), AtomicFile::writeOutOfSpaceError);
    EXPECT_NE(error.localizedDescription().find("isn\u2019t enough space"), std::string::npos)
        << error.description();
    EXPECT_NE(error.failureReason().find(m_path.toStdString()), std::string::npos) << error.description();
    expectOldFileAlone();
    const PlistPtr kept = Preferences::copyValue(libraryKey, Preferences::libraryDomain);
    ASSERT_TRUE(kept && kept->isArray());
    EXPECT_EQ(*kept->asArray()->front()->asString(), "file:///photos/AlbumData.xml");
}

// Not a byte left: not even the lock can be made, and that is told as a full disk, not as
// another program holding the lock.
TEST_F(PreferencesFullDiskTest, aFullDiskIsToldAsSuchForUserDefaultsToo)
{
    ASSERT_TRUE(m_disk.fill());
    Error error;
    EXPECT_FALSE(UserDefaults::standard().setObject("NumberOfStages", PlistValue::integer(2), &error));
    EXPECT_EQ(error.code(), AtomicFile::writeOutOfSpaceError) << error.description();
    EXPECT_NE(error.localizedDescription().find("isn\u2019t enough space"), std::string::npos)
        << error.description();
    EXPECT_EQ(error.localizedDescription().find("locked"), std::string::npos) << error.description();
    EXPECT_NE(error.failureReason().find("com.quillmoss.lumendeck.plist"), std::string::npos)
        << error.description();

    EXPECT_FALSE(
        Preferences::setValue(libraryKey, PlistValue::array({}), Preferences::libraryDomain, &error));
    EXPECT_EQ(error.code(), AtomicFile::writeOutOfSpaceError) << error.description();
    expectOldFileAlone();
}

TEST_F(PreferencesFullDiskTest, aPropertyListWrittenOnAFullDiskLeavesTheOldOne)
{
    const QString path = m_disk.path() + QStringLiteral("/AlbumData.xml");
    const auto old = PlistValue::dictionary({{"Application Version", PlistValue::string("1")}});
    ASSERT_TRUE(PropertyListSerialization::writeFile(path, old, PropertyListSerialization::Format::Xml));
    const QByteArray oldBytes = contentsOf(path);
    ASSERT_TRUE(m_disk.fill());
    for (const auto format :
         {PropertyListSerialization::Format::Xml, PropertyListSerialization::Format::Binary}) {
        Error error;
        const auto large = PlistValue::dictionary({{"Big", PlistValue::data(QByteArray(30000, 'b'))}});
        EXPECT_FALSE(PropertyListSerialization::writeFile(path, large, format, &error));
        EXPECT_EQ(error.code(), AtomicFile::writeOutOfSpaceError);
        EXPECT_NE(error.failureReason().find(path.toStdString()), std::string::npos) << error.description();
        EXPECT_EQ(contentsOf(path), oldBytes);
        EXPECT_EQ(QDir(m_disk.path()).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{QStringLiteral(".filler"), QStringLiteral("AlbumData.xml")}));
    }
}
// Space left but no inode: the messages say so, instead of a full disk or an input/output error.
TEST(PreferencesNoInodesTest, aFileSystemWithoutFreeInodesIsToldAsSuch)
{
    TmpfsMount disk(1024, 16);
    if (!disk.isMounted())
        GTEST_SKIP() << disk.whyNot().toStdString();
    TemporaryConfigHome home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(disk.path()));
    ASSERT_TRUE(QDir(disk.path()).mkpath(QStringLiteral("zuzire")));
    ASSERT_TRUE(disk.useUpInodes());
    Error error;
    EXPECT_FALSE(
        Preferences::setValue(libraryKey, PlistValue::array({}), Preferences::libraryDomain, &error));
    EXPECT_NE(error.failureReason().find("making the lock file"), std::string::npos) << error.description();
    EXPECT_NE(error.failureReason().find("no free inodes"), std::string::npos) << error.description();

    EXPECT_FALSE(AtomicFile::write(disk.path() + QStringLiteral("/AlbumData.xml"), "new", &error));
    EXPECT_EQ(error.localizedDescription(), "The file \u201cAlbumData.xml\u201d couldn\u2019t be saved "
                                            "because the file system has no free inodes.");
}
} // namespace
