#pragma once

#include "platform/foundation/PropertyList.h"

#include <string>
#include <vector>

// A small album data tree for the reload tests, built value by value.
namespace SampleLibrary {

// A photo entry; `rating` is its "Rating" value as it stands (any type), none when nullptr.
inline PlistPtr photo(const std::string& guid, const std::string& mediaType, PlistPtr rating)
{
    PlistDictionary entry{{"GUID", PlistValue::string(guid)},
                          {"MediaType", PlistValue::string(mediaType)},
                          {"Caption", PlistValue::string("caption of " + guid)},
                          {"Aspect Ratio", PlistValue::real(1.5)},
                          {"ImagePath", PlistValue::string("/photos/" + guid + ".jpg")}};
    if (rating)
        entry.emplace("Rating", std::move(rating));
    return PlistValue::dictionary(std::move(entry));
}

inline PlistPtr album(const std::string& name, const std::vector<std::string>& keys)
{
    PlistArray keyList;
    for (const auto& key : keys)
        keyList.push_back(PlistValue::string(key));
    return PlistValue::dictionary(
        {{"AlbumName", PlistValue::string(name)}, {"KeyList", PlistValue::array(std::move(keyList))}});
}

// Albums: "Mixed" (unrated 1, rated 2, movie 3, no rating 4, missing key 99), "Rated" (2 only),
// "Second" (4, 5).
inline PlistPtr library()
{
    const auto rating = [](int64_t stars) { return PlistValue::integer(stars); };
    return PlistValue::dictionary(
        {{"Master Image List", PlistValue::dictionary({{"1", photo("G1", "Image", rating(0))},
                                                       {"2", photo("G2", "Image", rating(3))},
                                                       {"3", photo("G3", "Movie", rating(0))},
                                                       {"4", photo("G4", "Image", nullptr)},
                                                       {"5", photo("G5", "Image", rating(0))}})},
         {"List of Albums", PlistValue::array({album("Mixed", {"1", "2", "3", "4", "99"}),
                                               album("Rated", {"2"}), album("Second", {"4", "5"})})}});
}

} // namespace SampleLibrary
