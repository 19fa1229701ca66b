#pragma once

#include "platform/foundation/Error.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

// The program's six interface sounds, synthesised: a soft tick for moving (click), a low thump
// for choosing (clunk), a short metallic ring for the menu (clank), and for rating a rising pair
// of notes (up), a falling pair (down) and one neutral, slightly drooping note (meh). Each is
// short enough to follow quick presses, starts and ends at silence (no pop) and peaks well below
// full scale, so that overlapping sounds do not clip.
class InterfaceSounds {
public:
    // Frames a second; the files are mono, 16-bit.
    static constexpr int sampleRate = 48000;

    // The sounds' resource base names.
    static const std::vector<std::string>& names();
    // The samples of sound `name`; empty for an unknown name.
    static std::vector<std::int16_t> render(const std::string& name);
    // Writes `name`.wav for every sound into `folder`, creating the folder; false with the
    // reason in *error when a file cannot be written (what was there stays).
    static bool writeAll(const QString& folder, Error* error = nullptr);
};
