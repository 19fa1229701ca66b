#include "tools/sounds/InterfaceSounds.h"

#include "platform/audio/WaveFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {
std::optional<WaveFile> readSound(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return WaveFile::decode(file.readAll());
}

int peakOf(const std::vector<std::int16_t>& samples)
{
    int peak = 0;
    for (std::int16_t sample : samples)
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    return peak;
}
} // namespace

TEST(InterfaceSoundsTest, WritesEverySoundAsAShortMonoWaveFile)
{
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("share/zuzire"));
    Error error;
    ASSERT_TRUE(InterfaceSounds::writeAll(target, &error)) << error.description();
    EXPECT_EQ(QDir(target).entryList(QDir::Files, QDir::Name),
              QStringList({"clank.wav", "click.wav", "clunk.wav", "down.wav", "meh.wav", "up.wav"}));
    for (const std::string& name : InterfaceSounds::names()) {
        SCOPED_TRACE(name);
        const auto sound = readSound(target + QLatin1Char('/') + QString::fromStdString(name) + ".wav");
        ASSERT_TRUE(sound);
        EXPECT_EQ(sound->channels(), 1);
        EXPECT_EQ(sound->sampleRate(), InterfaceSounds::sampleRate);
        EXPECT_EQ(sound->bitsPerSample(), 16);
        EXPECT_GE(sound->duration(), 0.03);
        EXPECT_LE(sound->duration(), 0.25);
        EXPECT_EQ(sound->samples16(), InterfaceSounds::render(name));
    }
}

TEST(InterfaceSoundsTest, SoundsAreAudibleUnclippedAndStartAndEndAtSilence)
{
    for (const std::string& name : InterfaceSounds::names()) {
        SCOPED_TRACE(name);
        const std::vector<std::int16_t> samples = InterfaceSounds::render(name);
        ASSERT_FALSE(samples.empty());
        const int peak = peakOf(samples);
        // Between -14 and -5 dB below full scale: heard, and room left for a few to overlap.
        EXPECT_GT(peak, 32767 * 0.2);
        EXPECT_LT(peak, 32767 * 0.56);
        EXPECT_LT(std::abs(samples.front()), 400);
        EXPECT_EQ(samples.back(), 0);
    }
}

TEST(InterfaceSoundsTest, SoundsDifferFromEachOther)
{
    const auto& names = InterfaceSounds::names();
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = i + 1; j < names.size(); ++j)
            EXPECT_NE(InterfaceSounds::render(names[i]), InterfaceSounds::render(names[j]))
                << names[i] << names[j];
    }
    EXPECT_TRUE(InterfaceSounds::render("quack").empty());
}

TEST(InterfaceSoundsTest, AFolderThatCannotBeMadeIsReported)
{
    QTemporaryDir folder;
    const QString blocker = folder.filePath(QStringLiteral("file"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    Error error;
    EXPECT_FALSE(InterfaceSounds::writeAll(blocker + QStringLiteral("/sounds"), &error));
    EXPECT_FALSE(error.localizedDescription().empty());
}
