#include "library/UnratedPhotoFilter.h"

#include "platform/foundation/XmlPlistScalars.h"

#include <cmath>
#include <limits>

bool UnratedPhotoFilter::accepts(const PlistValue& entry) const
{
    std::optional<std::string_view> mediaType;
    if (const PlistPtr value = entry.objectForKey("MediaType"); value && value->isString())
        mediaType = *value->asString();
    std::optional<std::string_view> guid;
    if (const PlistPtr value = entry.objectForKey("GUID"); value && value->isString())
        guid = *value->asString();
    return accepts(mediaType, ratingValue(entry.objectForKey("Rating").get()), guid);
}

bool UnratedPhotoFilter::accepts(std::optional<std::string_view> mediaType, int64_t rating,
                                 std::optional<std::string_view> guid) const
{
    if (mediaType != std::string_view("Image") || rating != 0)
        return false;
    return !guid || m_ratedItems.find(*guid) == m_ratedItems.end();
}

int64_t UnratedPhotoFilter::ratingValue(const PlistValue* rating)
{
    if (!rating)
        return 0;
    switch (rating->type()) {
    case PlistValue::Type::Integer:
        return *rating->asInteger();
    case PlistValue::Type::Real:
        return truncatedReal(*rating->asReal());
    case PlistValue::Type::Boolean:
        return *rating->asBoolean() ? 1 : 0;
    case PlistValue::Type::String:
        return leadingInteger(*rating->asString());
    default:
        return 0;
    }
}

int64_t UnratedPhotoFilter::leadingInteger(std::string_view text)
{
    size_t index = 0;
    while (index < text.size() && (text[index] == ' ' || (text[index] >= '\t' && text[index] <= '\r')))
        ++index;
    bool negative = false;
    if (index < text.size() && (text[index] == '-' || text[index] == '+'))
        negative = text[index++] == '-';
    constexpr int64_t limit = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (; index < text.size() && text[index] >= '0' && text[index] <= '9'; ++index) {
        const int digit = text[index] - '0';
        if (value > (limit - digit) / 10)
            return negative ? std::numeric_limits<int64_t>::min() : limit;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

int64_t UnratedPhotoFilter::integerText(std::string_view text)
{
    if (const auto value = XmlPlistScalars::parseInteger(text))
        return *value;
    const int64_t clamped = leadingInteger(text);
    const bool outOfRange =
        clamped == std::numeric_limits<int64_t>::max() || clamped == std::numeric_limits<int64_t>::min();
    return outOfRange ? clamped : 0;
}

int64_t UnratedPhotoFilter::truncatedReal(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    if (value <= -9.2e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}
