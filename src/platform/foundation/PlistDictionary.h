#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class PlistValue;
using PlistPtr = std::shared_ptr<const PlistValue>;

// The entries of a property-list dictionary, ordered by key (byte-wise, as std::string compares):
// descriptions and written files come out the same every time, which keeps logs comparable and
// files diffable.
//
// Kept as one sorted array rather than a tree: a reload builds thousands of small dictionaries,
// and an array costs one allocation where a tree costs one per entry, is searched as fast at
// these sizes, and is freed in one go. Adding a key in the middle moves the entries after it, so
// build a large dictionary in one go with fromEntries().
class PlistDictionary {
public:
    using value_type = std::pair<std::string, PlistPtr>;
    // Entries are read-only in place: changing a key would break the order.
    using const_iterator = std::vector<value_type>::const_iterator;
    using iterator = const_iterator;

    PlistDictionary() = default;
    // As a map: of a repeated key, the first entry counts.
    PlistDictionary(std::initializer_list<value_type> entries);

    // Entries in any order; of a repeated key, the last entry counts, as if each had been
    // assigned in turn.
    static PlistDictionary fromEntries(std::vector<value_type> entries);
    // Entries already in key order with no key repeated, taken as they are (checked only in
    // debug builds): for builders that know the order without comparing every key again.
    static PlistDictionary fromSortedEntries(std::vector<value_type> entries);

    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }

    const_iterator find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != end(); }
    size_t count(std::string_view key) const { return contains(key) ? 1 : 0; }
    // Throws std::out_of_range when the key is absent.
    const PlistPtr& at(std::string_view key) const;

    // The value stored under `key`, added empty when absent.
    PlistPtr& operator[](std::string_view key);
    std::pair<const_iterator, bool> insert_or_assign(std::string key, PlistPtr value);
    // Leaves an existing entry as it is.
    std::pair<const_iterator, bool> try_emplace(std::string key, PlistPtr value);
    std::pair<const_iterator, bool> emplace(std::string key, PlistPtr value);
    size_t erase(std::string_view key);
    // Removes the entries `predicate` holds for; returns how many.
    template <typename Predicate> size_t eraseIf(Predicate predicate)
    {
        return static_cast<size_t>(std::erase_if(m_entries, predicate));
    }
    void clear() { m_entries.clear(); }

    // Values compare as pointers; PlistValue compares trees deeply.
    bool operator==(const PlistDictionary& other) const = default;

private:
    // The first entry whose key is not less than `key`.
    std::vector<value_type>::iterator lowerBound(std::string_view key);
    std::vector<value_type>::const_iterator lowerBound(std::string_view key) const;

    std::vector<value_type> m_entries;
};
