#include "platform/foundation/PlistDictionary.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>

namespace {
// Small dictionaries are sorted by insertion, which needs no buffer and is stable, so the last of
// a repeated key stays last; larger ones by a stable sort.
constexpr size_t insertionSortLimit = 32;

bool keyLess(const PlistDictionary::value_type& a, const PlistDictionary::value_type& b)
{
    return a.first < b.first;
}

void sortStably(std::vector<PlistDictionary::value_type>& entries)
{
    if (entries.size() > insertionSortLimit) {
        std::stable_sort(entries.begin(), entries.end(), keyLess);
        return;
    }
    for (size_t sorted = 1; sorted < entries.size(); ++sorted) {
        size_t at = sorted;
        if (!keyLess(entries[at], entries[at - 1]))
            continue;
        PlistDictionary::value_type moving = std::move(entries[at]);
        for (; at > 0 && keyLess(moving, entries[at - 1]); --at)
            entries[at] = std::move(entries[at - 1]);
        entries[at] = std::move(moving);
    }
}

// Of each run of equal keys, keeps the entry at the run's end (or its start).
void removeRepeatedKeys(std::vector<PlistDictionary::value_type>& entries, bool keepLast)
{
    if (entries.size() < 2)
        return;
    size_t kept = 0;
    for (size_t index = 1; index < entries.size(); ++index) {
        if (entries[index].first != entries[kept].first) {
            if (++kept != index)
                entries[kept] = std::move(entries[index]);
        } else if (keepLast)
            entries[kept] = std::move(entries[index]);
    }
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(kept + 1), entries.end());
}
} // namespace

PlistDictionary::PlistDictionary(std::initializer_list<value_type> entries)
    : m_entries(entries)
{
    sortStably(m_entries);
    removeRepeatedKeys(m_entries, false);
}

PlistDictionary PlistDictionary::fromEntries(std::vector<value_type> entries)
{
    PlistDictionary dictionary;
    dictionary.m_entries = std::move(entries);
    if (!std::is_sorted(dictionary.m_entries.begin(), dictionary.m_entries.end(), keyLess))
        sortStably(dictionary.m_entries);
    removeRepeatedKeys(dictionary.m_entries, true);
    return dictionary;
}

PlistDictionary PlistDictionary::fromSortedEntries(std::vector<value_type> entries)
{
    assert(std::adjacent_find(entries.begin(), entries.end(), [](const value_type& a, const value_type& b) {
               return !keyLess(a, b);
           }) == entries.end());
    PlistDictionary dictionary;
    dictionary.m_entries = std::move(entries);
    return dictionary;
}

std::vector<PlistDictionary::value_type>::iterator PlistDictionary::lowerBound(std::string_view key)
{
    return std::lower_bound(
        m_entries.begin(), m_entries.end(), key,
        [](const value_type& entry, std::string_view wanted) { return entry.first < wanted; });
}

std::vector<PlistDictionary::value_type>::const_iterator
PlistDictionary::lowerBound(std::string_view key) const
{
    return std::lower_bound(
        m_entries.begin(), m_entries.end(), key,
        [](const value_type& entry, std::string_view wanted) { return entry.first < wanted; });
}

PlistDictionary::const_iterator PlistDictionary::find(std::string_view key) const
{
    const auto found = lowerBound(key);
    return found != m_entries.end() && found->first == key ? found : m_entries.end();
}

const PlistPtr& PlistDictionary::at(std::string_view key) const
{
    const auto found = find(key);
    if (found == end())
        throw std::out_of_range("PlistDictionary::at: no entry for key \"" + std::string(key) + "\"");
    return found->second;
}

PlistPtr& PlistDictionary::operator[](std::string_view key)
{
    auto found = lowerBound(key);
    if (found == m_entries.end() || found->first != key)
        found = m_entries.insert(found, value_type(std::string(key), nullptr));
    return found->second;
}

std::pair<PlistDictionary::const_iterator, bool> PlistDictionary::insert_or_assign(std::string key,
                                                                                   PlistPtr value)
{
    // Keys added in order, as copies of sorted dictionaries are, go straight to the end.
    if (m_entries.empty() || m_entries.back().first < key) {
        m_entries.emplace_back(std::move(key), std::move(value));
        return {std::prev(m_entries.end()), true};
    }
    auto found = lowerBound(key);
    if (found->first == key) {
        found->second = std::move(value);
        return {found, false};
    }
    return {m_entries.insert(found, value_type(std::move(key), std::move(value))), true};
}

std::pair<PlistDictionary::const_iterator, bool> PlistDictionary::try_emplace(std::string key, PlistPtr value)
{
    auto found = lowerBound(key);
    if (found != m_entries.end() && found->first == key)
        return {found, false};
    return {m_entries.insert(found, value_type(std::move(key), std::move(value))), true};
}

std::pair<PlistDictionary::const_iterator, bool> PlistDictionary::emplace(std::string key, PlistPtr value)
{
    return try_emplace(std::move(key), std::move(value));
}

size_t PlistDictionary::erase(std::string_view key)
{
    const auto found = lowerBound(key);
    if (found == m_entries.end() || found->first != key)
        return 0;
    m_entries.erase(found);
    return 1;
}
