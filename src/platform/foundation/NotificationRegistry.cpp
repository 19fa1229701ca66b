#include "platform/foundation/NotificationRegistry.h"

#include <algorithm>

uint64_t NotificationRegistry::add(std::string name, const void* object, Handler handler)
{
    const uint64_t id = m_nextId++;
    m_entries.push_back(std::make_shared<Entry>(Entry{id, std::move(name), object, std::move(handler)}));
    return id;
}

void NotificationRegistry::remove(uint64_t id)
{
    const auto found =
        std::find_if(m_entries.begin(), m_entries.end(), [id](const auto& entry) { return entry->id == id; });
    if (found == m_entries.end())
        return;
    (*found)->removed = true;
    m_entries.erase(found);
}

std::vector<std::shared_ptr<NotificationRegistry::Entry>>
NotificationRegistry::matching(const std::string& name, const void* object) const
{
    std::vector<std::shared_ptr<Entry>> result;
    for (const auto& entry : m_entries) {
        const bool nameMatches = entry->name.empty() || entry->name == name;
        const bool senderMatches = !entry->object || entry->object == object;
        if (nameMatches && senderMatches)
            result.push_back(entry);
    }
    return result;
}
