#pragma once

#include "platform/foundation/PropertyList.h"

#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// A record whose release can be watched: it notes the thread that drops the record's last
// reference. For tests of where records are released.
class ReleaseProbe {
public:
    explicit ReleaseProbe(PlistPtr value = PlistValue::dictionary({}))
        : m_note(std::make_shared<Note>())
    {
        auto holder = std::make_shared<const Holder>(std::move(value), m_note);
        // Shares the holder's ownership and points at its value.
        m_record = PlistPtr(holder, holder->value.get());
    }

    // The record, which the probe no longer holds: the caller's reference may be the last.
    PlistPtr take() { return std::move(m_record); }

    bool isReleased() const { return releaseThread().has_value(); }
    // The thread that dropped the last reference; none while the record lives.
    std::optional<std::thread::id> releaseThread() const
    {
        std::lock_guard lock(m_note->mutex);
        return m_note->thread;
    }

private:
    struct Note {
        mutable std::mutex mutex;
        std::optional<std::thread::id> thread;
    };
    struct Holder {
        Holder(PlistPtr held, std::shared_ptr<Note> heldNote)
            : value(std::move(held))
            , note(std::move(heldNote))
        {}
        ~Holder()
        {
            std::lock_guard lock(note->mutex);
            note->thread = std::this_thread::get_id();
        }
        PlistPtr value;
        std::shared_ptr<Note> note;
    };

    std::shared_ptr<Note> m_note;
    PlistPtr m_record;
};
