#include "support/QMSFX.h"

#include "platform/audio/SystemSoundServices.h"
#include "platform/foundation/Resources.h"
#include "support/FailureOf.h"
#include "support/RecordingSoundBackend.h"

#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using testing::ElementsAre;
using Kind = RecordingSoundBackend::Kind;

namespace {
class QMSFXTest : public testing::Test {
protected:
    RecordingSoundBackend device;
};
} // namespace

TEST_F(QMSFXTest, TheSharedPlayerHasTheSixEffectsEachWithItsOwnSound)
{
    const QMSFX& sfx = QMSFX::sharedSFX();
    std::set<SystemSoundID> ids;
    for (const char* name : {clickSound, clankSound, clunkSound, mehSound, downSound, upSound}) {
        const SystemSoundID id = sfx.effectForName(name);
        EXPECT_NE(id, 0u) << name;
        EXPECT_NE(id, SystemSoundServices::userPreferredAlert) << name;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 6u);
    EXPECT_EQ(sfx.fxIdentifiers().size(), 6u);
    EXPECT_EQ(sfx.effectForName(std::nullopt), 4096u);
    EXPECT_EQ(sfx.effectForName("quackSound"), 0u);
    EXPECT_EQ(sfx.effectForName("click"), 0u);
    EXPECT_EQ(sfx.effectForName(""), 0u);
}

TEST_F(QMSFXTest, TheSharedPlayerIsMadeAndLoadedOnce)
{
    QMSFX& first = QMSFX::sharedSFX();
    device.events.clear();
    EXPECT_EQ(&QMSFX::sharedSFX(), &first);
    EXPECT_TRUE(device.events.empty());
}

TEST_F(QMSFXTest, EveryEffectIsAResourceThatCompletesIfTheProgramQuits)
{
    for (const auto& [name, identifier] : QMSFX::sharedEffects()) {
        const QUrl url = QMSFX::soundURLWithIdentifier(identifier);
        EXPECT_EQ(url,
                  QUrl::fromLocalFile(Resources::path(
                      QString::fromStdString(std::get<std::string>(identifier)) + QStringLiteral(".wav"))))
            << name;
        const SystemSoundID id = QMSFX::sharedSFX().effectForName(name);
        EXPECT_NE(std::find(device.events.begin(), device.events.end(),
                            RecordingSoundBackend::Event{Kind::Load, id, url}),
                  device.events.end())
            << name;
        EXPECT_NE(std::find(device.events.begin(), device.events.end(),
                            RecordingSoundBackend::Event{Kind::Complete, id, {}}),
                  device.events.end())
            << name;
    }
}

TEST_F(QMSFXTest, SoundURLsComeFromResourcesOrAreGivenAsTheyAre)
{
    const QUrl given(QStringLiteral("file:///somewhere/else.wav"));
    EXPECT_EQ(QMSFX::soundURLWithIdentifier(given), given);
    EXPECT_EQ(QMSFX::soundURLWithIdentifier(QUrl()), QUrl());
    EXPECT_TRUE(QMSFX::soundURLWithIdentifier(std::string("click")).isLocalFile());
    EXPECT_EQ(QMSFX::soundURLWithIdentifier(std::string("quack")), QUrl());
    EXPECT_EQ(QMSFX::soundURLWithIdentifier(std::string()), QUrl());
    // A folder is not a sound.
    EXPECT_EQ(QMSFX::soundURLWithIdentifier(std::string("..")), QUrl());
}

TEST_F(QMSFXTest, PlayingByNameReachesTheDeviceInPressOrderAndOverlaps)
{
    QMSFX& sfx = QMSFX::sharedSFX();
    device.events.clear();
    for (const char* name : {clickSound, clickSound, clunkSound, upSound, mehSound, downSound, clankSound})
        sfx.playSound(name);
    sfx.playSound("quackSound");
    EXPECT_THAT(device.played(), ElementsAre(sfx.effectForName(clickSound), sfx.effectForName(clickSound),
                                             sfx.effectForName(clunkSound), sfx.effectForName(upSound),
                                             sfx.effectForName(mehSound), sfx.effectForName(downSound),
                                             sfx.effectForName(clankSound)));
    EXPECT_EQ(device.count(Kind::Beep), 0);
}

TEST_F(QMSFXTest, NoNameIsTheAlertSound)
{
    QMSFX& sfx = QMSFX::sharedSFX();
    sfx.playSound(std::nullopt);
    sfx.playAlert(std::nullopt);
    EXPECT_EQ(device.count(Kind::Beep), 2);
    sfx.playAlert(upSound);
    EXPECT_THAT(device.played(), ElementsAre(sfx.effectForName(upSound)));
}

TEST_F(QMSFXTest, APlayerGivesItsSoundsBackWhenItGoes)
{
    std::set<SystemSoundID> ids;
    {
        QMSFX sfx({{"tickSound", std::string("click")}, {"tockSound", std::string("clunk")}});
        ids = {sfx.effectForName("tickSound"), sfx.effectForName("tockSound")};
        sfx.playSound("tockSound");
    }
    std::set<SystemSoundID> unloaded;
    for (const auto& event : device.events) {
        if (event.kind == Kind::Unload)
            unloaded.insert(event.id);
    }
    EXPECT_EQ(unloaded, ids);
}

TEST_F(QMSFXTest, ASoundThatCannotBeRegisteredStopsThePlayer)
{
    EXPECT_EQ(failureOf([] {
                  QMSFX({{"clickSound", std::string("click")}, {"quackSound", std::string("quack")}});
              }),
              "Error -50 creating sound effect 'quackSound' with resource (null) (from quack)");

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("quack.wav"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("quack");
    file.close();
    const QUrl url = QUrl::fromLocalFile(path);
    EXPECT_EQ(failureOf([&] {
                  QMSFX({{"quackSound", url}});
              }),
              "Error 1954115647 creating sound effect 'quackSound' with resource " +
                  url.toString().toStdString() + " (from " + url.toString().toStdString() + ")");
    const QUrl missing = QUrl::fromLocalFile(folder.filePath(QStringLiteral("gone.wav")));
    EXPECT_EQ(failureOf([&] {
                  QMSFX({{"goneSound", missing}});
              }),
              "Error -43 creating sound effect 'goneSound' with resource " +
                  missing.toString().toStdString() + " (from " + missing.toString().toStdString() + ")");
}

TEST_F(QMSFXTest, TheSharedPlayerBelongsToTheMainThread)
{
    std::string failure;
    std::thread([&failure] { failure = failureOf([] { QMSFX::sharedSFX(); }); }).join();
    EXPECT_EQ(failure, "Main thread only.");
}
