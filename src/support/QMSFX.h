#pragma once

#include <string>

// The program's short sound effects, loaded once and played fire-and-forget.
// FIXME: silent until the sound files and the audio backend arrive; the names are final.
class QMSFX {
public:
    static QMSFX& sharedSFX();

    // Returns at once; unknown names play nothing.
    void playSound(const std::string& name);

    // The last effect asked for, so tests can tell which sound a press chose.
    const std::string& lastSoundForTesting() const { return m_lastSound; }
    void resetForTesting() { m_lastSound.clear(); }

private:
    QMSFX() = default;
    std::string m_lastSound;
};
