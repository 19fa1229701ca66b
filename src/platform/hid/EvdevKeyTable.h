#pragma once

#include "platform/hid/HidElement.h"
#include "platform/hid/HidQueue.h"

#include <cstdint>
#include <functional>
#include <linux/input.h>
#include <optional>
#include <vector>

// The kernel's input layer reports key codes where HID reports usages, and the Apple IR driver
// maps no usages and sends no scan codes: this table is the only way back from a key code to the
// usage the remote's button stands for. The key code is the element's cookie.
class EvdevKeyTable {
public:
    struct Usage {
        uint32_t usagePage;
        uint32_t usage;
    };

    // The usage a key code stands for; none for keys a remote receiver does not have.
    static std::optional<Usage> usageForKeyCode(uint32_t keyCode);

    // The elements of a device that supports the key codes `supports` answers yes for. A device
    // bound to the Apple IR driver also lists the receiver's elements that driver never reports
    // (the hold usages and the remote's ID): they exist on the receiver, as they do elsewhere,
    // and never fire.
    static std::vector<HidElement> elements(const std::function<bool(uint32_t keyCode)>& supports,
                                            bool appleIRDriver);

    // The queue event of one input record: key presses and releases only. A key repeat (value 2)
    // is the kernel's auto-repeat of a button still down, not a new press.
    static std::optional<HidEvent> eventFor(const input_event& record);

    enum class PumpResult { Drained, More, Removed };
    // Reads records from `next` into `queue`, at most `limit` of them, and tells the reader.
    // `next` returns 0 with a record, -EAGAIN when there is none, -ENODEV when the device is gone
    // (any other negative value ends this round). Bounded, so a flooding device cannot keep the
    // main thread from the rest of its work: `More` means records may still be waiting.
    static PumpResult pump(const std::function<int(input_event&)>& next, HidQueue& queue, int limit);
};
