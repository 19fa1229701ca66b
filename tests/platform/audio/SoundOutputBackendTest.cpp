#include "platform/audio/output/SoundOutputBackend.h"

#include "platform/audio/WaveFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A build machine has no sound output: everything must still work, at once and quietly.
TEST(SoundOutputBackendTest, WithoutASoundOutputEverythingIsAcceptedAndNothingPlays)
{
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("tick.wav")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(WaveFile::encode(std::vector<std::int16_t>(480, 100), 48000, 1));
    file.close();
    const QUrl url = QUrl::fromLocalFile(file.fileName());

    auto backend = SoundOutputBackend::withoutDeviceForTesting();
    EXPECT_FALSE(backend->hasDevice());
    for (SystemSoundID id = 1; id <= 6; ++id) {
        backend->load(id, url);
        backend->setCompletePlaybackIfAppDies(id, true);
    }
    for (int press = 0; press < 1000; ++press)
        backend->play(static_cast<SystemSoundID>(press % 6 + 1));
    backend->beep();
    EXPECT_TRUE(backend->mixerForTesting().isSilent());
    EXPECT_FALSE(backend->isOutputRunning());
    // Nothing is playing, so quitting does not wait: the event loop is never entered.
    backend->finishPlayingSounds(60 * 60 * 1000);
    backend->unload(1);
    backend->play(1);
    EXPECT_FALSE(backend->isOutputRunning());
}
