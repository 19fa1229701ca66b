#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
void setDefault(const char* name, const QByteArray& value)
{
    if (qEnvironmentVariableIsEmpty(name))
        qputenv(name, value);
}
} // namespace

// Every test binary runs with a real application object on the offscreen platform, so widgets,
// timers and queued calls behave as they do in the program. Settings go to a scratch folder:
// tests never touch the user's own configuration.
int main(int argc, char** argv)
{
    setDefault("QT_QPA_PLATFORM", "offscreen");
    setDefault("ZUZIRE_RESOURCE_DIR", ZUZIRE_TEST_RESOURCE_DIR);
    setDefault("ZUZIRE_BINARY_DIR", ZUZIRE_TEST_BINARY_DIR);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
