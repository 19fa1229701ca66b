#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/ScopedRegistration.h"
#include "platform/hid/HidDevice.h"
#include "platform/hid/HidService.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

// One opened receiver and what the driver keeps about it. Shared, so a receiver torn down while
// its events are being handled stays valid until that handling returns; it is then marked
// torn down and nothing more is done with it.
struct RemoteHardware {
    uint32_t service = 0;
    HidServicePtr serviceObject;
    HidDevicePtr device;
    // Element cookie -> RemoteButtonCode.
    std::map<uint32_t, uint32_t> cookieButtonCodeLUT;
    ScopedRegistration serviceNotification;
    bool aluminumRemoteSupportLevelOnDemand = false;
    int aluminumRemoteSupportLevel = 0;
    // The code held down on this receiver, 0 when none.
    uint32_t lastButtonPressed = 0;
    // Cancels the pending hold timer of an up/down press; empty when there is none.
    std::function<void()> simulateHoldEventsTimer;
    std::optional<uint32_t> simulateHoldEventsOriginButtonCode;
    bool tornDown = false;
    // What the delegate is shown (see RemoteDriverDelegate); made once at setup.
    PlistPtr attributes;
};
