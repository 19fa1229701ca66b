#pragma once

#include "platform/hid/HidElement.h"
#include "platform/hid/HidQueue.h"

#include <memory>
#include <vector>

// An opened input device: its elements and its one event queue. Closing stops the queue and
// gives the device back (and its exclusive hold, when it was seized); a closed device delivers
// nothing more. Shared, so a device being read stays alive while its reader closes it from
// inside the callout. Main thread only.
class HidDevice : public std::enable_shared_from_this<HidDevice> {
public:
    explicit HidDevice(std::vector<HidElement> elements, size_t queueDepth = 32);
    virtual ~HidDevice();
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    const std::vector<HidElement>& elements() const { return m_elements; }
    HidQueue& queue() { return m_queue; }
    bool isOpen() const { return m_open; }
    void close();

protected:
    // Gives the platform's handle back; called once.
    virtual void closeDevice() {}

private:
    std::vector<HidElement> m_elements;
    HidQueue m_queue;
    bool m_open = true;
};

using HidDevicePtr = std::shared_ptr<HidDevice>;
