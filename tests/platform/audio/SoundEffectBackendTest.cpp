#include "platform/audio/SoundEffectBackend.h"

#include "platform/audio/SoundEffectPool.h"
#include "platform/audio/WaveFile.h"

#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
class SoundEffectBackendTest : public testing::Test {
protected:
    SoundEffectBackendTest()
    {
        QFile file(folder.filePath(QStringLiteral("tick.wav")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(WaveFile::encode(std::vector<std::int16_t>(480, 100), 48000, 1));
        url = QUrl::fromLocalFile(file.fileName());
    }

    QTemporaryDir folder;
    QUrl url;
};
} // namespace

// A build machine has no sound output: everything must still work, at once and quietly.
TEST_F(SoundEffectBackendTest, WithoutASoundOutputEverythingIsAcceptedAndNothingIsMade)
{
    auto backend = SoundEffectBackend::withoutDeviceForTesting();
    EXPECT_FALSE(backend->hasDevice());
    for (SystemSoundID id = 1; id <= 6; ++id) {
        backend->load(id, url);
        backend->setCompletePlaybackIfAppDies(id, true);
    }
    for (int press = 0; press < 1000; ++press)
        backend->play(static_cast<SystemSoundID>(press % 6 + 1));
    backend->beep();
    EXPECT_EQ(backend->poolForTesting(1), nullptr);
    // Nothing is playing, so quitting does not wait: the event loop is never entered.
    backend->finishPlayingSounds(60 * 60 * 1000);
    backend->unload(1);
    backend->play(1);
}

TEST_F(SoundEffectBackendTest, APoolTakesItsPlayersInTurnSoQuickPressesOverlap)
{
    SoundEffectPool pool(url, QMediaDevices::defaultAudioOutput(), 3);
    ASSERT_EQ(pool.effects().size(), 3u);
    for (const auto& effect : pool.effects())
        EXPECT_EQ(effect->source(), url);
    std::vector<int> used;
    for (int press = 0; press < 5; ++press)
        used.push_back(pool.play());
    EXPECT_EQ(used, (std::vector<int>{0, 1, 2, 0, 1}));
    pool.setCompletePlaybackIfAppDies(true);
    EXPECT_TRUE(pool.completesPlaybackIfAppDies());
}

TEST_F(SoundEffectBackendTest, AnEmptyPoolPlaysNothing)
{
    SoundEffectPool pool(url, QMediaDevices::defaultAudioOutput(), 0);
    EXPECT_EQ(pool.play(), -1);
    EXPECT_FALSE(pool.isPlaying());
}
