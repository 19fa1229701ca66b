#pragma once

#include <cstdint>

// One input element of a device: a control that reports values, named by its HID usage. The
// cookie identifies the element within its device and tags its events.
struct HidElement {
    uint32_t usagePage = 0;
    uint32_t usage = 0;
    uint32_t cookie = 0;
};

// One value change of an element, as read from a device's event queue.
struct HidEvent {
    uint32_t cookie = 0;
    int32_t value = 0;
};
