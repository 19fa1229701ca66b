#include "platform/hid/HidDevice.h"

HidDevice::HidDevice(std::vector<HidElement> elements, size_t queueDepth)
    : m_elements(std::move(elements))
    , m_queue(queueDepth)
{}

HidDevice::~HidDevice() = default;

void HidDevice::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_queue.stop();
    m_queue.setEventCallout(nullptr);
    closeDevice();
}
