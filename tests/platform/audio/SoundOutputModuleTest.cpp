#include "platform/audio/SoundOutputModule.h"

#include "platform/audio/SystemSoundServices.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <dlfcn.h>
#include <exception>
#include <gtest/gtest.h>

namespace {
QStringList warnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

class SoundOutputModuleTest : public testing::Test {
protected:
    void SetUp() override
    {
        warnings.clear();
        m_previous = qInstallMessageHandler(recordWarning);
    }
    void TearDown() override
    {
        qInstallMessageHandler(m_previous);
        qunsetenv("ZUZIRE_SOUND_MODULE");
        SystemSoundServices::setBackendForTesting(nullptr);
    }

private:
    QtMessageHandler m_previous = nullptr;
};
} // namespace

TEST_F(SoundOutputModuleTest, TheBuiltModuleIsFoundWhereTheProgramLooksAndMakesABackend)
{
    EXPECT_TRUE(QFileInfo(SoundOutputModule::path()).isFile()) << qPrintable(SoundOutputModule::path());
    const auto backend = SoundOutputModule::createBackend();
    ASSERT_TRUE(backend);
    // Qt may warn that there is no sound server; the module itself was loaded.
    for (const QString& warning : warnings)
        EXPECT_FALSE(warning.startsWith("Sound output module not loaded")) << qPrintable(warning);
}

TEST_F(SoundOutputModuleTest, AMissingModuleLeavesTheProgramSilentAndSaysWhy)
{
    qputenv("ZUZIRE_SOUND_MODULE", "/nonexistent/libzuzire-sound-output.so");
    EXPECT_EQ(SoundOutputModule::path(), QStringLiteral("/nonexistent/libzuzire-sound-output.so"));
    EXPECT_FALSE(SoundOutputModule::createBackend());
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.front().startsWith("Sound output module not loaded"))
        << qPrintable(warnings.front());

    // The sounds still register and play, into silence.
    SystemSoundServices::setBackendForTesting(nullptr);
    SystemSoundServices::playSystemSound(SystemSoundServices::userPreferredAlert);
    SystemSoundServices::playAlertSound(SystemSoundServices::userPreferredAlert);
}

TEST_F(SoundOutputModuleTest, ALibraryWithoutTheEntryPointIsRefused)
{
    // Any shared library that is not the module: the C++ runtime this test runs on.
    Dl_info runtime{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::terminate), &runtime), 0);
    qputenv("ZUZIRE_SOUND_MODULE", runtime.dli_fname);
    EXPECT_FALSE(SoundOutputModule::createBackend());
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.front().contains("zuzireCreateSoundOutputBackend")) << qPrintable(warnings.front());
}
