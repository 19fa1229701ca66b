#pragma once

#include <QtGlobal>
#include <string>

// Checks run over raw property-list bytes before they reach the parser, which recurses once per
// nesting level and expands shared binary objects into copies: without them a small hostile file
// could overflow the stack or exhaust memory. Any thread.
class PropertyListLimits {
public:
    // An empty string when the binary list is structurally sound (trailer, offsets, references
    // in range, no cycle) and within the depth and size limits; otherwise the reason, readable.
    static std::string checkBinary(const char* bytes, qsizetype size);

    // An empty string when the XML nests its containers no deeper than the limit. Only nesting is
    // checked here; the parser judges the rest.
    static std::string checkXml(const char* bytes, qsizetype size);
};
