#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/TemporaryConfigHome.h"
#include "support/ZuzireProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <gtest/gtest.h>

namespace {
// One list of strings of a `tree` answer: "texts" or "controllers".
QStringList stringsOf(const QString& treeLine, const char* key)
{
    QStringList strings;
    for (const QJsonValue& value : parseJsonLine(treeLine)[key].toArray())
        strings << value.toString();
    return strings;
}

// The program on a library of the test's own making, with the preference pointing at it.
class ZuzireLibraryEndToEndTest : public testing::Test {
protected:
    void registerLibrary(const QString& albumDataPath)
    {
        const PlistPtr databases = PlistValue::array(
            {PlistValue::string(QUrl::fromLocalFile(albumDataPath).toString().toStdString())});
        ASSERT_TRUE(Preferences::setValue("iPhotoRecentDatabases", databases, Preferences::libraryDomain));
    }

    // One album of two photos with the given ratings.
    QString writeLibrary(int firstRating, int secondRating)
    {
        auto photo = [](const std::string& guid, int rating) {
            return PlistValue::dictionary({{"GUID", PlistValue::string(guid)},
                                           {"MediaType", PlistValue::string("Image")},
                                           {"Rating", PlistValue::integer(rating)},
                                           {"Aspect Ratio", PlistValue::real(1.5)}});
        };
        const PlistPtr albumData = PlistValue::dictionary(
            {{"Master Image List",
              PlistValue::dictionary({{"1", photo("A", firstRating)}, {"2", photo("B", secondRating)}})},
             {"List of Albums",
              PlistValue::array({PlistValue::dictionary(
                  {{"AlbumName", PlistValue::string("Trip")},
                   {"KeyList", PlistValue::array({PlistValue::string("1"), PlistValue::string("2")})}})})}});
        const QString path = library.filePath("AlbumData.xml");
        EXPECT_TRUE(
            PropertyListSerialization::writeFile(path, albumData, PropertyListSerialization::Format::Xml));
        return path;
    }

    ProgramRun run(const QString& script) { return runZuzire(script, {}, config.path()); }

    TemporaryConfigHome config;
    QTemporaryDir library;
};
} // namespace

TEST_F(ZuzireLibraryEndToEndTest, LoadingShowsForASecondThenThePickerOpens)
{
    registerLibrary(writeLibrary(0, 4));
    const ProgramRun result = run("tree\nwait 0.6\ntree\nwait 1.2\ntree\nquit\n");
    ASSERT_EQ(result.exitCode, 0) << result.errors.toStdString();
    ASSERT_EQ(result.lines.size(), 6);
    EXPECT_EQ(stringsOf(result.lines[0], "texts"), QStringList{"Zuzire: loading."});
    EXPECT_EQ(stringsOf(result.lines[2], "texts"), QStringList{"Zuzire: loading."});
    EXPECT_EQ(stringsOf(result.lines[4], "controllers"), QStringList({"RootController", "AlbumController"}));
}

TEST_F(ZuzireLibraryEndToEndTest, ALibraryWithEveryPhotoRatedHasNothingToRate)
{
    registerLibrary(writeLibrary(3, 5));
    const ProgramRun result = run("wait 1.6\ntree\n");
    ASSERT_EQ(result.exitCode, 0) << result.errors.toStdString();
    ASSERT_EQ(result.lines.size(), 2);
    EXPECT_EQ(stringsOf(result.lines[1], "texts"), QStringList{"No photos need rating."});
}

TEST_F(ZuzireLibraryEndToEndTest, NoPreferenceOrAnUnreadableFileMeansNoLibrary)
{
    const QStringList noLibraryTexts = {"No iPhoto library found!",
                                        "Make one from a photo folder: zuzire-library import FOLDER"};
    ProgramRun result = run("wait 1.6\ntree\n");
    ASSERT_EQ(result.lines.size(), 2);
    EXPECT_EQ(stringsOf(result.lines[1], "texts"), noLibraryTexts);

    const QString garbage = library.filePath("AlbumData.xml");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<plist><dict><key>Master");
    file.close();
    registerLibrary(garbage);
    result = run("wait 1.6\ntree\n");
    ASSERT_EQ(result.lines.size(), 2);
    EXPECT_EQ(stringsOf(result.lines[1], "texts"), noLibraryTexts);
    EXPECT_TRUE(result.errors.contains("Error loading iPhoto data - ")) << result.errors.toStdString();
}

TEST_F(ZuzireLibraryEndToEndTest, MenuOnTheRootScreenQuits)
{
    QProcess process;
    startZuzire(process, config.path());
    process.write("wait 1.6\npress Menu\n");
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
              QStringList({"ok", "ok"}));
}
