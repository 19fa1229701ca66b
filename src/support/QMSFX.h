#pragma once

#include "platform/audio/SystemSoundBackend.h"

#include <QUrl>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The effect names callers play.
inline constexpr char clickSound[] = "clickSound";
inline constexpr char clankSound[] = "clankSound";
inline constexpr char clunkSound[] = "clunkSound";
inline constexpr char mehSound[] = "mehSound";
inline constexpr char downSound[] = "downSound";
inline constexpr char upSound[] = "upSound";

// The program's short interface sounds: a fixed set of named effects, registered once from sound
// files in the resources and played by name through the system sounds, which mix and play them
// asynchronously. Main thread only.
class QMSFX {
public:
    // Where an effect's sound comes from: a resource's base name, or a file URL.
    using Identifier = std::variant<std::string, QUrl>;
    // Effect name and where its sound comes from, in registration order.
    using EffectTable = std::vector<std::pair<std::string, Identifier>>;

    // The shared player with the program's six effects, made and loaded on the first call.
    static QMSFX& sharedSFX();
    // The effects of the shared player.
    static const EffectTable& sharedEffects();

    // The file URL of a sound resource with the base name `identifier` (empty when there is
    // none); a URL is returned as it is.
    static QUrl soundURLWithIdentifier(const Identifier& identifier);

    // Registers every effect; a sound that cannot be registered is a programming error (the
    // resources are part of the program), reported before anything plays.
    explicit QMSFX(const EffectTable& effects);
    ~QMSFX();
    QMSFX(const QMSFX&) = delete;
    QMSFX& operator=(const QMSFX&) = delete;

    // The system sound of the effect `name`: 0 when there is none, the desktop's alert when
    // `name` is absent.
    SystemSoundID effectForName(std::optional<std::string_view> name) const;
    // Both start the effect and return at once; an unknown name plays nothing.
    void playSound(std::optional<std::string_view> name);
    void playAlert(std::optional<std::string_view> name);
    // Gives every effect's sound back to the system.
    void disposeSFX();

    // Effect name -> system sound.
    const std::map<std::string, SystemSoundID, std::less<>>& fxIdentifiers() const { return m_fxIdentifiers; }

    // The last effect asked for, so tests can tell which sound a press chose.
    const std::string& lastSoundForTesting() const { return m_lastSound; }
    void resetForTesting() { m_lastSound.clear(); }

private:
    std::map<std::string, SystemSoundID, std::less<>> m_fxIdentifiers;
    std::string m_lastSound;
};
