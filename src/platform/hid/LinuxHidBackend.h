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
// There is no console-user list and no busy message here: the kernel hands events to every
// open reader whatever another program's secure keyboard entry does (that lives in the display
// server, above evdev), so nothing ever takes the receiver away that a restart would get back.
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
