#include "platform/audio/SoundMixer.h"

#include <QtEndian>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;

namespace {
class SoundMixerTest : public testing::Test {
protected:
    // The next `frames` samples of the stream.
    std::vector<int> read(std::size_t frames)
    {
        const QByteArray bytes = mixer.mix(frames);
        EXPECT_EQ(bytes.size(), static_cast<qsizetype>(frames * 2));
        std::vector<int> samples;
        for (std::size_t i = 0; i < frames; ++i)
            samples.push_back(qFromLittleEndian<std::int16_t>(bytes.constData() + i * 2));
        return samples;
    }

    SoundMixer mixer;
};
} // namespace

TEST_F(SoundMixerTest, ASoundStartedWhileAnotherPlaysIsAddedToIt)
{
    mixer.load(1, std::vector<std::int16_t>(6, 1000));
    mixer.load(2, std::vector<std::int16_t>(3, 500));
    EXPECT_TRUE(mixer.play(1));
    EXPECT_THAT(read(2), ElementsAre(1000, 1000));
    EXPECT_TRUE(mixer.play(2));
    EXPECT_TRUE(mixer.play(1));
    EXPECT_THAT(read(8), ElementsAre(2500, 2500, 2500, 2000, 1000, 1000, 0, 0));
    EXPECT_TRUE(mixer.isSilent());
}

TEST_F(SoundMixerTest, TheStreamNeverRunsDryAndNeverClips)
{
    EXPECT_THAT(read(3), ElementsAre(0, 0, 0));
    mixer.load(1, {30000, -30000});
    mixer.play(1);
    mixer.play(1);
    EXPECT_THAT(read(3), ElementsAre(32767, -32768, 0));
}

TEST_F(SoundMixerTest, AFloodOfPressesPlaysABoundedNumberOfSounds)
{
    mixer.load(1, std::vector<std::int16_t>(4, 10));
    for (int press = 0; press < 1000; ++press)
        mixer.play(1);
    EXPECT_THAT(read(1), ElementsAre(static_cast<int>(SoundMixer::maximumVoices) * 10));
}

TEST_F(SoundMixerTest, UnknownAndUnloadedSoundsPlayNothing)
{
    mixer.load(1, std::vector<std::int16_t>(4, 10));
    mixer.load(2, std::vector<std::int16_t>(4, 1));
    mixer.play(1);
    mixer.play(2);
    EXPECT_TRUE(mixer.isPlaying({1}));
    mixer.unload(1);
    EXPECT_FALSE(mixer.isPlaying({1}));
    EXPECT_TRUE(mixer.isPlaying({2, 3}));
    EXPECT_FALSE(mixer.play(1));
    EXPECT_FALSE(mixer.play(3));
    EXPECT_THAT(read(2), ElementsAre(1, 1));
}

TEST_F(SoundMixerTest, OtherFormatsAreConvertedToTheMixersOwn)
{
    // Stereo at half the rate: channels are averaged and every frame is followed by one between.
    const auto stereo =
        WaveFile::decode(WaveFile::encode({100, 300, 1000, 1000}, SoundMixer::sampleRate / 2, 2));
    ASSERT_TRUE(stereo);
    EXPECT_EQ(SoundMixer::convert(*stereo), (std::vector<std::int16_t>{200, 600, 1000}));
    const auto same = WaveFile::decode(WaveFile::encode({1, -2, 3}, SoundMixer::sampleRate, 1));
    ASSERT_TRUE(same);
    EXPECT_EQ(SoundMixer::convert(*same), (std::vector<std::int16_t>{1, -2, 3}));
}
