#include "platform/hid/EvdevKeyTable.h"

#include <array>
#include <cerrno>

namespace {
constexpr uint32_t genericDesktop = 0x01;
constexpr uint32_t consumer = 0x0C;

struct KeyUsage {
    uint32_t keyCode;
    uint32_t usagePage;
    uint32_t usage;
};

// The white remote's centre button reaches the kernel as play/pause; the aluminium remote's
// centre as enter, a usage only that remote sends.
constexpr std::array keyUsages{
    KeyUsage{KEY_MENU, genericDesktop, 0x86},
    KeyUsage{KEY_PLAYPAUSE, genericDesktop, 0x89},
    KeyUsage{KEY_PLAY, genericDesktop, 0x89},
    KeyUsage{KEY_OK, genericDesktop, 0x89},
    KeyUsage{KEY_SELECT, genericDesktop, 0x89},
    KeyUsage{KEY_FORWARD, genericDesktop, 0x8A},
    KeyUsage{KEY_RIGHT, genericDesktop, 0x8A},
    KeyUsage{KEY_NEXTSONG, genericDesktop, 0x8A},
    KeyUsage{KEY_BACK, genericDesktop, 0x8B},
    KeyUsage{KEY_LEFT, genericDesktop, 0x8B},
    KeyUsage{KEY_PREVIOUSSONG, genericDesktop, 0x8B},
    KeyUsage{KEY_VOLUMEUP, genericDesktop, 0x8C},
    KeyUsage{KEY_UP, genericDesktop, 0x8C},
    KeyUsage{KEY_VOLUMEDOWN, genericDesktop, 0x8D},
    KeyUsage{KEY_DOWN, genericDesktop, 0x8D},
    KeyUsage{KEY_ENTER, consumer, 0x41},
    KeyUsage{KEY_CONTEXT_MENU, consumer, 0x40},
    KeyUsage{KEY_FASTFORWARD, consumer, 0xB3},
    KeyUsage{KEY_REWIND, consumer, 0xB4},
};

// Cookies above every key code, for the elements no key code reports.
constexpr uint32_t silentCookieBase = KEY_MAX + 1;
constexpr std::array<std::pair<uint32_t, uint32_t>, 6> appleIRSilentUsages{{
    {0x06, 0x22}, // the remote's ID
    {consumer, 0x40},
    {consumer, 0x82},
    {consumer, 0xB3},
    {consumer, 0xB4},
    {0xFF01, 0x23}, // centre held
}};
} // namespace

std::optional<EvdevKeyTable::Usage> EvdevKeyTable::usageForKeyCode(uint32_t keyCode)
{
    for (const auto& entry : keyUsages) {
        if (entry.keyCode == keyCode)
            return Usage{entry.usagePage, entry.usage};
    }
    return std::nullopt;
}

std::vector<HidElement> EvdevKeyTable::elements(const std::function<bool(uint32_t keyCode)>& supports,
                                                bool appleIRDriver)
{
    std::vector<HidElement> elements;
    for (const auto& entry : keyUsages) {
        if (supports(entry.keyCode))
            elements.push_back({entry.usagePage, entry.usage, entry.keyCode});
    }
    if (appleIRDriver) {
        uint32_t cookie = silentCookieBase;
        for (const auto& [usagePage, usage] : appleIRSilentUsages)
            elements.push_back({usagePage, usage, cookie++});
    }
    return elements;
}

std::optional<HidEvent> EvdevKeyTable::eventFor(const input_event& record)
{
    if (record.type != EV_KEY || record.value < 0 || record.value > 1)
        return std::nullopt;
    return HidEvent{record.code, record.value};
}

EvdevKeyTable::PumpResult EvdevKeyTable::pump(const std::function<int(input_event&)>& next, HidQueue& queue,
                                              int limit)
{
    PumpResult result = PumpResult::More;
    for (int count = 0; count < limit; ++count) {
        input_event record{};
        const int status = next(record);
        if (status == -EAGAIN) {
            result = PumpResult::Drained;
            break;
        }
        if (status == -ENODEV) {
            result = PumpResult::Removed;
            break;
        }
        if (status < 0) {
            result = PumpResult::Drained;
            break;
        }
        if (auto event = eventFor(record))
            queue.enqueue(*event);
        // The reader may have closed the device while draining a full queue.
        if (!queue.isStarted())
            return PumpResult::Drained;
    }
    queue.signal();
    return result;
}
