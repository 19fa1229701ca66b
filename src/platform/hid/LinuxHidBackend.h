#pragma once

#include "platform/hid/HidBackend.h"

#include <memory>

class QSocketNotifier;
struct udev;
struct udev_device;
struct udev_monitor;

// The system's input event nodes, found through udev: enumerated when made, then followed by a
// monitor as they are plugged in and removed. A node whose device is bound to the kernel's
// Apple IR driver has the class "AppleIRController"; any other receiver can be marked as
// compatible by a udev rule that sets ZUZIRE_REMOTE_COMPATIBILITY_MASK=1 (read as the property
// "IRBridgeRemoteCompatibilityMask"). Other nodes have the class "IOHIDDevice".
//
// There is no console-user list and no busy message here, so the driver's restart after a
// change of secure input or of the console's user never triggers, and needs not: secure keyboard
// entry on Linux is a grab inside the display server, above the kernel's input layer, and never
// takes a receiver's events away from its reader; and when another user's session takes the
// console, this program's window loses activation, which in the automatic exclusive mode already
// gives the receiver up and takes it back once the window is active again.
class LinuxHidBackend : public HidBackend {
public:
    LinuxHidBackend();
    ~LinuxHidBackend() override;

    // The udev property that marks a receiver compatible.
    static constexpr const char* compatibilityProperty = "ZUZIRE_REMOTE_COMPATIBILITY_MASK";

private:
    void addDevice(udev_device* device);
    void removeDevice(const std::string& syspath);
    void readMonitor();

    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    std::unique_ptr<QSocketNotifier> m_monitorNotifier;
    uint32_t m_nextServiceID = 1;
};
