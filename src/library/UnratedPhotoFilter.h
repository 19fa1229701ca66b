#pragma once

#include "platform/foundation/PropertyList.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

// Decides which photo entries of an album data file still need rating: the entry's "MediaType"
// is the string "Image", the integer value of its "Rating" is 0 (absent counts as 0), and its
// "GUID" was not rated earlier in this run.
//
// Shared by the reader that builds the whole property-list tree and the one that looks at the
// XML directly, so both keep exactly the same photos.
class UnratedPhotoFilter {
public:
    using GuidSet = std::set<std::string, std::less<>>;

    // `ratedItems` is not owned and must outlive the filter.
    explicit UnratedPhotoFilter(const GuidSet& ratedItems)
        : m_ratedItems(ratedItems)
    {}

    bool accepts(const PlistValue& entry) const;
    // The same decision from the three values, for readers that have not built the entry.
    // Absent values are std::nullopt; mediaType and guid only count when they are strings.
    bool accepts(std::optional<std::string_view> mediaType, int64_t rating,
                 std::optional<std::string_view> guid) const;

    // The integer value of a rating as the platform's number and string types give it: integers
    // as they are, reals truncated, booleans 0 or 1, strings by their leading decimal number;
    // anything else (and nothing) counts as 0.
    static int64_t ratingValue(const PlistValue* rating);
    // The leading decimal number of `text` after white space, with an optional sign; 0 when none.
    // A number beyond the 64-bit range is clamped to it.
    static int64_t leadingInteger(std::string_view text);
    // The value of an XML integer element's text. A decimal number beyond the 64-bit range is
    // clamped (the whole-file check refuses such a file before this matters; clamping keeps the
    // answer right should it ever be asked). Text that is no number at all counts as 0: the photo
    // is then handed on, and the reader refuses its malformed entry.
    static int64_t integerText(std::string_view text);
    // Truncated towards zero, clamped to the 64-bit range; NaN gives 0.
    static int64_t truncatedReal(double value);

private:
    const GuidSet& m_ratedItems;
};
