#include "platform/foundation/XmlPlistScalars.h"

#include <charconv>

namespace {
// Whole text as one number; a leading '+' is allowed, which from_chars does not accept itself.
template <typename Number> std::optional<Number> parseNumber(std::string_view text)
{
    text = XmlPlistScalars::trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    Number value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

int64_t daysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}
} // namespace

std::string_view XmlPlistScalars::trimmed(std::string_view text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<int64_t> XmlPlistScalars::parseInteger(std::string_view text)
{
    return parseNumber<int64_t>(text);
}

std::optional<double> XmlPlistScalars::parseReal(std::string_view text)
{
    return parseNumber<double>(text);
}

std::optional<double> XmlPlistScalars::parseDate(std::string_view text)
{
    text = trimmed(text);
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const auto field = [&](size_t at, size_t length) -> std::optional<unsigned> {
        unsigned value = 0;
        const auto [end, status] = std::from_chars(text.data() + at, text.data() + at + length, value);
        if (status != std::errc() || end != text.data() + at + length)
            return std::nullopt;
        return value;
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const auto hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 || *day < 1 ||
        *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    constexpr int64_t referenceDays = 11323; // 2001-01-01 after 1970-01-01
    const int64_t days = daysFromCivil(*year, *month, *day) - referenceDays;
    return double(days * 86400 + *hour * 3600 + *minute * 60 + *second);
}

bool XmlPlistScalars::isBase64(std::string_view text)
{
    for (const char c : text) {
        const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '+' || c == '/' || c == '=' || c == ' ' || c == '\t' || c == '\n' ||
                           c == '\r';
        if (!valid)
            return false;
    }
    return true;
}

void XmlPlistScalars::appendUtf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}
