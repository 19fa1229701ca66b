#pragma once

#include "platform/hid/HidDevice.h"

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;
struct libevdev;

// An input event node opened through libevdev. Seizing is the kernel's exclusive grab: while it
// holds, no other reader (the desktop included) sees the device's keys. Events are read on the
// main thread when the node has data, a bounded batch at a time.
class LinuxHidDevice : public HidDevice {
public:
    // nullptr on failure with an errno value in *errorCode. `removed` is called on the main
    // thread when a read finds the device gone.
    static HidDevicePtr open(const std::string& devnode, bool seize, bool appleIRDriver, int* errorCode,
                             std::function<void()> removed);
    ~LinuxHidDevice() override;

protected:
    void closeDevice() override;

private:
    LinuxHidDevice(int fd, libevdev* evdev, std::vector<HidElement> elements, std::function<void()> removed);
    void readEvents();
    int nextRecord(struct input_event& record);

    int m_fd;
    libevdev* m_evdev;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_removed;
    bool m_syncing = false;
};
