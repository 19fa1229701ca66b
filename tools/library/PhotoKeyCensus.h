#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The photos' keys of one photo list, gathered to tell whether any two are the same: a search
// for a photo's key can trust only a list that holds each key once.
//
// Any thread; an object is used by one thread at a time.
class PhotoKeyCensus {
public:
    void add(std::string_view key);
    // Adds the keys of `other`, another part of the same list.
    void add(PhotoKeyCensus&& other);
    bool allDifferent();

private:
    std::vector<uint64_t> m_numbers; // decimal keys, the usual ones, compared as numbers
    std::vector<std::string> m_others;
};
