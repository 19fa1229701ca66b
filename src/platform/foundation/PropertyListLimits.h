#pragma once

#include <QtGlobal>
#include <string>

// Checks run over raw binary property-list bytes before they reach the parser, which recurses
// once per nesting level and expands shared objects into copies: without them a small hostile file
// could overflow the stack or exhaust memory. Any thread.
class PropertyListLimits {
public:
    // An empty string when the binary list is structurally sound (trailer, offsets, references
    // in range, no cycle) and within the depth and size limits; otherwise the reason, readable.
    static std::string checkBinary(const char* bytes, qsizetype size);
    // Whether a string of a binary list (one that passes checkBinary) holds a NUL character: the
    // parser ends the string there, so a list written again from what it read would lose the rest.
    static bool holdsTextWithNul(const char* bytes, qsizetype size);
};
