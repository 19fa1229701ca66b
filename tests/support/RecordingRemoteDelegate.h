#pragma once

#include "platform/foundation/Error.h"
#include "platform/hid/EvdevKeyTable.h"
#include "platform/hid/SimulatedHidBackend.h"
#include "remote/RemoteDriver.h"
#include "remote/RemoteDriverDelegate.h"
#include "support/LoopbackNotificationCenter.h"
#include "support/ManualRemoteScheduler.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Writes every delegate message down as one line.
class RecordingRemoteDelegate : public RemoteDriverDelegate {
public:
    std::vector<std::string> log;
    bool retry = true;
    bool lend = true;
    bool handleReleased = false;
    std::function<void(RemoteButtonCode, bool)> onEvent;

    static std::string hex(uint32_t value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "0x%x", value);
        return text;
    }

    void remoteDriverEventWithButton(RemoteDriver&, RemoteButtonCode button, bool isPressed,
                                     const PlistPtr&) override
    {
        log.push_back((isPressed ? "press " : "release ") + hex(button));
        if (onEvent)
            onEvent(button, isPressed);
    }
    void remoteDriverRemoteIDChangedOldID(RemoteDriver&, int32_t oldID, int32_t newID,
                                          const PlistPtr&) override
    {
        log.push_back("id " + std::to_string(oldID) + " -> " + std::to_string(newID));
    }
    void remoteDriverFoundNewHardwareWithAttributes(RemoteDriver&, const PlistPtr& attributes) override
    {
        log.push_back("found " + attributes->description());
    }
    void remoteDriverFailedNewHardwareWithError(RemoteDriver&, const Error* error) override
    {
        log.push_back(error ? "failed " +
                                  std::to_string(*error->userInfo().at("InternalErrorCode")->asInteger())
                            : "failed");
    }
    void remoteDriverReleasedHardwareWithAttributes(RemoteDriver&, const PlistPtr&) override
    {
        log.push_back("released");
    }
    bool remoteDriverShouldRetryExclusiveLockWithInfo(RemoteDriver&, const PlistDictionary&) override
    {
        return retry;
    }
    bool remoteDriverLendExclusiveLockToApplicationWithInfo(RemoteDriver&, const PlistDictionary&) override
    {
        return lend;
    }
    bool handlesExclusiveLockReleased() const override { return handleReleased; }
    void remoteDriverExclusiveLockReleasedByApplicationWithInfo(RemoteDriver&,
                                                                const PlistDictionary&) override
    {
        log.push_back("lock returned");
    }

    // The button events only, then forgets everything.
    std::vector<std::string> takeButtons()
    {
        std::vector<std::string> buttons;
        for (const auto& line : log) {
            if (line.rfind("press ", 0) == 0 || line.rfind("release ", 0) == 0)
                buttons.push_back(line);
        }
        log.clear();
        return buttons;
    }
};

// The keys the kernel's Apple IR driver declares.
inline std::vector<HidElement> appleIRElements()
{
    const std::vector<uint32_t> keys{KEY_MENU,     KEY_PLAYPAUSE,  KEY_FORWARD, KEY_BACK,
                                     KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_ENTER};
    return EvdevKeyTable::elements(
        [&keys](uint32_t code) { return std::find(keys.begin(), keys.end(), code) != keys.end(); }, true);
}

inline uint32_t cookieFor(const std::vector<HidElement>& elements, uint32_t usagePage, uint32_t usage)
{
    for (const auto& element : elements) {
        if (element.usagePage == usagePage && element.usage == usage)
            return element.cookie;
    }
    return 0;
}

inline input_event keyRecord(uint16_t code, int32_t value)
{
    input_event record{};
    record.type = EV_KEY;
    record.code = code;
    record.value = value;
    return record;
}

inline input_event synRecord()
{
    input_event record{};
    record.type = EV_SYN;
    return record;
}
