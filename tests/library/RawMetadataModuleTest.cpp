#include "library/RawMetadataModule.h"

#include "library/RawPreview.h"
#include "support/RawLikePhotos.h"

#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <dlfcn.h>
#include <exception>
#include <gtest/gtest.h>

// The metadata library is loaded from its module the first time a RAW file needs it.
namespace {
QStringList warnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

class RawMetadataModuleTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        warnings.clear();
        m_previous = qInstallMessageHandler(recordWarning);
    }
    void TearDown() override
    {
        qInstallMessageHandler(m_previous);
        qunsetenv("ZUZIRE_RAW_METADATA_MODULE");
        RawMetadataModule::resetForTesting();
    }

    QString write(const QString& name, RawLikeFile::Format format)
    {
        const QString path = m_folder.filePath(name);
        EXPECT_TRUE(RawLikePhotos::write(path, format, RawLikePhotos::quarters(300, 200), 6));
        return path;
    }

private:
    QTemporaryDir m_folder;
    QtMessageHandler m_previous = nullptr;
};
} // namespace

TEST_F(RawMetadataModuleTest, TheBuiltModuleIsFoundWhereTheProgramLooksAndLoadedOnce)
{
    EXPECT_TRUE(QFileInfo(RawMetadataModule::path()).isFile()) << qPrintable(RawMetadataModule::path());
    EXPECT_TRUE(RawMetadataModule::createReader());
    RawMetadataReader* reader = RawMetadataModule::reader();
    ASSERT_TRUE(reader);
    EXPECT_EQ(RawMetadataModule::reader(), reader);

    // A format only the library reads: its preview and orientation come through the module.
    const auto preview = RawPreview::read(write("photo.orf", RawLikeFile::Format::Orf));
    ASSERT_TRUE(preview);
    EXPECT_TRUE(preview->data().startsWith("\xFF\xD8"));
    EXPECT_EQ(preview->orientation(), 6);
    EXPECT_TRUE(warnings.isEmpty()) << qPrintable(warnings.join('\n'));
}

TEST_F(RawMetadataModuleTest, AMissingModuleFailsOnlyTheFilesThatNeedItAndSaysWhyOnce)
{
    qputenv("ZUZIRE_RAW_METADATA_MODULE", "/nonexistent/libzuzire-raw-metadata.so");
    RawMetadataModule::resetForTesting();
    const QString orf = write("photo.orf", RawLikeFile::Format::Orf);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Error error;
        EXPECT_FALSE(RawPreview::read(orf, &error));
        EXPECT_NE(error.failureReason().find("metadata module not loaded"), std::string::npos)
            << error.failureReason();
    }
    ASSERT_EQ(warnings.size(), 1) << qPrintable(warnings.join('\n'));
    EXPECT_TRUE(warnings.front().startsWith("Metadata module not loaded")) << qPrintable(warnings.front());

    // The TIFF-based formats say where their preview is without the library.
    const auto dng = RawPreview::read(write("photo.dng", RawLikeFile::Format::Dng));
    ASSERT_TRUE(dng);
    EXPECT_EQ(dng->orientation(), 6);
}

TEST_F(RawMetadataModuleTest, ALibraryWithoutTheEntryPointIsRefused)
{
    // Any shared library that is not the module: the C++ runtime this test runs on.
    Dl_info runtime{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::terminate), &runtime), 0);
    qputenv("ZUZIRE_RAW_METADATA_MODULE", runtime.dli_fname);
    QString why;
    EXPECT_FALSE(RawMetadataModule::createReader(&why));
    EXPECT_TRUE(why.contains("zuzireCreateRawMetadataReader")) << qPrintable(why);
}
