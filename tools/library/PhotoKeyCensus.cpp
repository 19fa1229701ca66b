#include "tools/library/PhotoKeyCensus.h"

#include <algorithm>
#include <iterator>

void PhotoKeyCensus::add(std::string_view key)
{
    const bool canonical = !key.empty() && key.size() <= 19 && (key[0] != '0' || key.size() == 1) &&
                           std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!canonical) {
        m_others.emplace_back(key);
        return;
    }
    uint64_t value = 0;
    for (const char c : key)
        value = value * 10 + uint64_t(c - '0');
    m_numbers.push_back(value);
}

void PhotoKeyCensus::add(PhotoKeyCensus&& other)
{
    m_numbers.insert(m_numbers.end(), other.m_numbers.begin(), other.m_numbers.end());
    m_others.insert(m_others.end(), std::make_move_iterator(other.m_others.begin()),
                    std::make_move_iterator(other.m_others.end()));
}

bool PhotoKeyCensus::allDifferent()
{
    std::sort(m_numbers.begin(), m_numbers.end());
    std::sort(m_others.begin(), m_others.end());
    return std::adjacent_find(m_numbers.begin(), m_numbers.end()) == m_numbers.end() &&
           std::adjacent_find(m_others.begin(), m_others.end()) == m_others.end();
}
