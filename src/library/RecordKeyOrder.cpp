#include "library/RecordKeyOrder.h"

#include <algorithm>

PlistDictionary RecordKeyOrder::arrange(std::vector<PlistDictionary::value_type>& entries)
{
    if (!matchesLast(entries))
        learn(entries);
    if (m_order.empty())
        return PlistDictionary::fromEntries(std::move(entries));
    std::vector<PlistDictionary::value_type> sorted;
    sorted.reserve(entries.size());
    for (const uint32_t position : m_order)
        sorted.push_back(std::move(entries[position]));
    return PlistDictionary::fromSortedEntries(std::move(sorted));
}

bool RecordKeyOrder::matchesLast(const std::vector<PlistDictionary::value_type>& entries) const
{
    if (entries.size() != m_keys.size())
        return false;
    for (size_t index = 0; index < entries.size(); ++index) {
        if (entries[index].first != m_keys[index])
            return false;
    }
    return true;
}

void RecordKeyOrder::learn(const std::vector<PlistDictionary::value_type>& entries)
{
    m_keys.clear();
    m_order.clear();
    for (const auto& entry : entries)
        m_keys.push_back(entry.first);
    for (uint32_t position = 0; position < entries.size(); ++position)
        m_order.push_back(position);
    std::sort(m_order.begin(), m_order.end(), [&](uint32_t a, uint32_t b) { return m_keys[a] < m_keys[b]; });
    // A repeated key needs the general way, which keeps its last value.
    const auto repeated = std::adjacent_find(m_order.begin(), m_order.end(),
                                             [&](uint32_t a, uint32_t b) { return m_keys[a] == m_keys[b]; });
    if (repeated != m_order.end())
        m_order.clear();
}
