#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The text of the scalar elements of an XML property list read as their values. Surrounding
// whitespace is ignored, as property-list readers do; anything else that does not fit is no value.
class XmlPlistScalars {
public:
    static std::string_view trimmed(std::string_view text);
    // Decimal, with an optional sign.
    static std::optional<int64_t> parseInteger(std::string_view text);
    static std::optional<double> parseReal(std::string_view text);
    // "2001-01-01T00:00:00Z" as seconds since the property-list reference date (that moment).
    static std::optional<double> parseDate(std::string_view text);
    // Whether the text is base64 (line breaks and blanks allowed).
    static bool isBase64(std::string_view text);
    // Appends the UTF-8 bytes of Unicode code point `code` (a character reference's value).
    static void appendUtf8(std::string& out, uint32_t code);
};
