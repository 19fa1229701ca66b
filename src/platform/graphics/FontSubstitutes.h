#pragma once

// The screens name their typeface "Futura", which a Linux desktop does not have. This maps the
// name to the nearest geometric typefaces the program's setup installs; characters they lack
// (stars, dashes) still come from the system's fallback fonts.
class FontSubstitutes {
public:
    // Idempotent; any thread.
    static void install();
};
