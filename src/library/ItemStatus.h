#pragma once

#include <cstdint>

// What the user decided about one photo during a rating pass. Signed on purpose: the flow screen
// also hands it to its strip as the photo's vertical alignment, up above the line, down below.
// Only the four values below are ever stored.
using ItemStatus = std::int8_t;

// No choice yet, or the choice was taken back; every photo starts here.
inline constexpr ItemStatus ItemStatusNeutral = 0;
// Promoted: on to the next pass, or the higher rating on the last one.
inline constexpr ItemStatus ItemStatusUp = 1;
// Rated down: at or below the pass's rating level.
inline constexpr ItemStatus ItemStatusDown = -1;
// Seen and passed over in a three-way pass: the pass's middle rating.
inline constexpr ItemStatus ItemStatusPassed = -2;
