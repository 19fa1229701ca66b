#pragma once

#include "platform/foundation/PlistDictionary.h"

#include <cstdint>
#include <string>
#include <vector>

// Puts the entries of successive records in key order. The photo entries of one album data file
// nearly always list the same keys in the same order, so the order found for one record is
// reused for the next as long as its keys match, instead of sorting every record again.
//
// One object per reload; not shared between threads.
class RecordKeyOrder {
public:
    // The dictionary of `entries`, given in file order; of a repeated key the last entry counts.
    // Takes the entries out of `entries`.
    PlistDictionary arrange(std::vector<PlistDictionary::value_type>& entries);

private:
    bool matchesLast(const std::vector<PlistDictionary::value_type>& entries) const;
    void learn(const std::vector<PlistDictionary::value_type>& entries);

    // The keys of the last layout learnt, in file order.
    std::vector<std::string> m_keys;
    // Positions in file order, in key order; empty when a key repeats.
    std::vector<uint32_t> m_order;
};
