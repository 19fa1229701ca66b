#pragma once

#include "platform/audio/SystemSoundBackend.h"
#include "platform/audio/SystemSoundServices.h"

#include <algorithm>
#include <memory>
#include <vector>

// Takes the sound output's place for as long as it lives and records, in order, every call the
// system sounds make on it. Sounds registered before it was made are loaded into it at once, and
// go back to the previous backend when it goes. Header-only: only tests that link the sounds use it.
class RecordingSoundBackend : public SystemSoundBackend {
public:
    enum class Kind { Load, Unload, Play, Beep, Complete };
    struct Event {
        Kind kind;
        SystemSoundID id = 0;
        QUrl file;
        bool operator==(const Event&) const = default;
    };

    RecordingSoundBackend()
    {
        // Installed without ownership: the test owns the recorder.
        m_previous = SystemSoundServices::setBackendForTesting(
            std::shared_ptr<SystemSoundBackend>(this, [](SystemSoundBackend*) {}));
    }
    ~RecordingSoundBackend() override { SystemSoundServices::setBackendForTesting(std::move(m_previous)); }
    RecordingSoundBackend(const RecordingSoundBackend&) = delete;
    RecordingSoundBackend& operator=(const RecordingSoundBackend&) = delete;

    void load(SystemSoundID id, const QUrl& file) override { events.push_back({Kind::Load, id, file}); }
    void unload(SystemSoundID id) override { events.push_back({Kind::Unload, id, {}}); }
    void play(SystemSoundID id) override { events.push_back({Kind::Play, id, {}}); }
    void beep() override { events.push_back({Kind::Beep, 0, {}}); }
    void setCompletePlaybackIfAppDies(SystemSoundID id, bool complete) override
    {
        if (complete)
            events.push_back({Kind::Complete, id, {}});
    }

    // The sounds played, in order.
    std::vector<SystemSoundID> played() const
    {
        std::vector<SystemSoundID> ids;
        for (const Event& event : events) {
            if (event.kind == Kind::Play)
                ids.push_back(event.id);
        }
        return ids;
    }
    long count(Kind kind) const
    {
        return std::count_if(events.begin(), events.end(),
                             [kind](const Event& event) { return event.kind == kind; });
    }

    std::vector<Event> events;

private:
    std::shared_ptr<SystemSoundBackend> m_previous;
};
