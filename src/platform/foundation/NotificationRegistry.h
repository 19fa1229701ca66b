#pragma once

#include "platform/foundation/Notification.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The observers of one NotificationCenter. Shared between the centre and its tokens through a
// weak handle, so a token that outlives its centre does nothing. Main thread only.
class NotificationRegistry {
public:
    using Handler = std::function<void(const Notification&)>;

    struct Entry {
        uint64_t id;
        // Empty: every name.
        std::string name;
        // nullptr: any sender. Compared by address only.
        const void* object;
        Handler handler;
        // Set on removal, so a post that already took this entry skips it.
        bool removed = false;
    };

    uint64_t add(std::string name, const void* object, Handler handler);
    // Does nothing for an id that is not (or no longer) registered.
    void remove(uint64_t id);
    // The entries matching a notification, in the order they were added. A post works on this
    // copy, so observers may add and remove observers while it runs.
    std::vector<std::shared_ptr<Entry>> matching(const std::string& name, const void* object) const;
    size_t size() const { return m_entries.size(); }

private:
    std::vector<std::shared_ptr<Entry>> m_entries;
    uint64_t m_nextId = 1;
};
