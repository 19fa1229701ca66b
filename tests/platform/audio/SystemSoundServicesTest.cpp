#include "platform/audio/SystemSoundServices.h"

#include "platform/audio/WaveFile.h"
#include "support/FailureOf.h"
#include "support/RecordingSoundBackend.h"

#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

using testing::ElementsAre;
using Kind = RecordingSoundBackend::Kind;

namespace {
class SystemSoundServicesTest : public testing::Test {
protected:
    ~SystemSoundServicesTest() override
    {
        for (SystemSoundID id : created)
            SystemSoundServices::disposeSystemSoundID(id);
    }

    QUrl writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = folder.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return QUrl::fromLocalFile(path);
    }

    QUrl soundFile(const QString& name = QStringLiteral("tick.wav"))
    {
        return writeFile(name, WaveFile::encode(std::vector<std::int16_t>(480, 100), 48000, 1));
    }

    SystemSoundID create(const QUrl& url)
    {
        SystemSoundID id = 0;
        EXPECT_EQ(SystemSoundServices::createSystemSoundID(url, &id), SystemSoundServices::noError);
        created.push_back(id);
        return id;
    }

    QTemporaryDir folder;
    std::vector<SystemSoundID> created;
    RecordingSoundBackend device;
};
} // namespace

TEST_F(SystemSoundServicesTest, FilesAreCheckedWhenRegistered)
{
    QDir(folder.path()).mkdir(QStringLiteral("folder.wav"));
    const struct {
        QUrl url;
        int status;
    } cases[] = {
        {QUrl(), SystemSoundServices::parameterError},
        {QUrl(QStringLiteral("https://example.org/tick.wav")), SystemSoundServices::parameterError},
        {QUrl::fromLocalFile(folder.filePath(QStringLiteral("missing.wav"))),
         SystemSoundServices::fileNotFoundError},
        {QUrl::fromLocalFile(folder.filePath(QStringLiteral("folder.wav"))),
         SystemSoundServices::unsupportedFileError},
        {writeFile(QStringLiteral("text.wav"), "not a sound"), SystemSoundServices::unsupportedFileError},
    };
    for (const auto& [url, status] : cases) {
        SystemSoundID id = 77;
        EXPECT_EQ(SystemSoundServices::createSystemSoundID(url, &id), status) << url.toString().toStdString();
        EXPECT_EQ(id, 77u);
    }
    EXPECT_EQ(SystemSoundServices::createSystemSoundID(soundFile(), nullptr),
              SystemSoundServices::parameterError);
    EXPECT_TRUE(device.events.empty());
}

TEST_F(SystemSoundServicesTest, EachRegistrationGetsItsOwnPlayableID)
{
    const QUrl url = soundFile();
    const SystemSoundID first = create(url);
    const SystemSoundID second = create(url);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_NE(first, SystemSoundServices::userPreferredAlert);
    EXPECT_NE(second, SystemSoundServices::userPreferredAlert);
    EXPECT_THAT(device.events, ElementsAre(RecordingSoundBackend::Event{Kind::Load, first, url},
                                           RecordingSoundBackend::Event{Kind::Load, second, url}));
}

TEST_F(SystemSoundServicesTest, PlaysReachTheDeviceInOrderAndOverlap)
{
    const SystemSoundID tick = create(soundFile());
    const SystemSoundID tock = create(soundFile(QStringLiteral("tock.wav")));
    SystemSoundServices::playSystemSound(tick);
    SystemSoundServices::playSystemSound(tick);
    SystemSoundServices::playSystemSound(tock);
    SystemSoundServices::playAlertSound(tick);
    EXPECT_THAT(device.played(), ElementsAre(tick, tick, tock, tick));
}

TEST_F(SystemSoundServicesTest, NoSoundAndUnknownSoundsPlayNothingAndTheAlertIsTheBell)
{
    const SystemSoundID tick = create(soundFile());
    device.events.clear();
    SystemSoundServices::playSystemSound(0);
    SystemSoundServices::playSystemSound(tick + 100);
    EXPECT_TRUE(device.events.empty());
    SystemSoundServices::playSystemSound(SystemSoundServices::userPreferredAlert);
    SystemSoundServices::playAlertSound(SystemSoundServices::userPreferredAlert);
    EXPECT_EQ(device.count(Kind::Beep), 2);
    EXPECT_EQ(device.count(Kind::Play), 0);
}

TEST_F(SystemSoundServicesTest, DisposedSoundsAreUnloadedAndSilent)
{
    const SystemSoundID tick = create(soundFile());
    SystemSoundServices::disposeSystemSoundID(tick);
    SystemSoundServices::disposeSystemSoundID(tick);
    SystemSoundServices::playSystemSound(tick);
    EXPECT_EQ(device.count(Kind::Unload), 1);
    EXPECT_EQ(device.count(Kind::Play), 0);
    EXPECT_EQ(SystemSoundServices::setCompletePlaybackIfAppDies(tick, true),
              SystemSoundServices::unknownSoundError);
}

TEST_F(SystemSoundServicesTest, ANewBackendTakesOverTheSoundsAndTheirSettings)
{
    const QUrl url = soundFile();
    const SystemSoundID tick = create(url);
    EXPECT_EQ(SystemSoundServices::setCompletePlaybackIfAppDies(tick, true), SystemSoundServices::noError);
    {
        RecordingSoundBackend other;
        EXPECT_THAT(other.events, ElementsAre(RecordingSoundBackend::Event{Kind::Load, tick, url},
                                              RecordingSoundBackend::Event{Kind::Complete, tick, {}}));
        SystemSoundServices::playSystemSound(tick);
        EXPECT_THAT(other.played(), ElementsAre(tick));
    }
    EXPECT_EQ(device.count(Kind::Unload), 1);
    EXPECT_EQ(device.count(Kind::Play), 0);
    SystemSoundServices::playSystemSound(tick);
    EXPECT_THAT(device.played(), ElementsAre(tick));
}

TEST_F(SystemSoundServicesTest, OnlyTheMainThreadMayUseTheSounds)
{
    std::string failure;
    std::thread([&failure] { failure = failureOf([] { SystemSoundServices::playSystemSound(1); }); }).join();
    EXPECT_EQ(failure, "Main thread only.");
}
