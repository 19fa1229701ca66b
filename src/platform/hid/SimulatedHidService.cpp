#include "platform/hid/SimulatedHidService.h"

#include "platform/hid/EvdevKeyTable.h"

#include <algorithm>
#include <cerrno>

class SimulatedHidService::Device : public HidDevice {
public:
    Device(std::vector<HidElement> elements, bool seized)
        : HidDevice(std::move(elements))
        , m_seized(seized)
    {}
    bool isSeized() const { return m_seized && isOpen(); }

private:
    bool m_seized;
};

SimulatedHidService::SimulatedHidService(uint32_t serviceID, std::string className,
                                         PlistDictionary properties, std::vector<HidElement> elements)
    : HidService(serviceID)
    , m_className(std::move(className))
    , m_properties(std::move(properties))
    , m_elements(std::move(elements))
{}

PlistPtr SimulatedHidService::property(const std::string& name) const
{
    if (name == "IOClass")
        return PlistValue::string(m_className);
    auto it = m_properties.find(name);
    return it == m_properties.end() ? nullptr : it->second;
}

bool SimulatedHidService::setProperty(const std::string& name, const PlistPtr& value)
{
    if (!m_writable)
        return false;
    m_written.emplace_back(name, value);
    return true;
}

void SimulatedHidService::setPropertyForTesting(const std::string& name, PlistPtr value)
{
    if (value)
        m_properties.insert_or_assign(name, std::move(value));
    else
        m_properties.erase(name);
}

HidDevicePtr SimulatedHidService::open(bool seize, int* errorCode)
{
    auto fail = [errorCode](int code) -> HidDevicePtr {
        if (errorCode)
            *errorCode = code;
        return nullptr;
    };
    if (isTerminated())
        return fail(ENODEV);
    if (m_openError)
        return fail(m_openError);
    if (seize && isSeizedForTesting())
        return fail(EBUSY);
    auto device = std::make_shared<Device>(m_elements, seize);
    std::erase_if(m_devices, [](const auto& weak) { return weak.expired(); });
    m_devices.push_back(device);
    if (errorCode)
        *errorCode = 0;
    return device;
}

void SimulatedHidService::injectEventsForTesting(const std::vector<HidEvent>& events)
{
    std::vector<std::shared_ptr<Device>> readers;
    for (const auto& weak : m_devices) {
        if (auto device = weak.lock(); device && device->isOpen())
            readers.push_back(device);
    }
    auto seized =
        std::find_if(readers.begin(), readers.end(), [](const auto& device) { return device->isSeized(); });
    if (seized != readers.end())
        readers = {*seized};
    for (const auto& device : readers) {
        for (const auto& event : events)
            device->queue().enqueue(event);
        device->queue().signal();
    }
}

void SimulatedHidService::injectInputRecordsForTesting(const std::vector<input_event>& records)
{
    std::vector<HidEvent> events;
    for (const auto& record : records) {
        if (auto event = EvdevKeyTable::eventFor(record))
            events.push_back(*event);
    }
    injectEventsForTesting(events);
}

size_t SimulatedHidService::openDeviceCountForTesting() const
{
    return static_cast<size_t>(std::count_if(m_devices.begin(), m_devices.end(), [](const auto& weak) {
        auto device = weak.lock();
        return device && device->isOpen();
    }));
}

bool SimulatedHidService::isSeizedForTesting() const
{
    return std::any_of(m_devices.begin(), m_devices.end(), [](const auto& weak) {
        auto device = weak.lock();
        return device && device->isSeized();
    });
}

size_t SimulatedHidService::maximumQueuedEventsForTesting() const
{
    size_t maximum = 0;
    for (const auto& weak : m_devices) {
        if (auto device = weak.lock())
            maximum = std::max(maximum, device->queue().highWaterMark());
    }
    return maximum;
}
