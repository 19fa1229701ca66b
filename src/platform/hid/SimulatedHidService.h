#pragma once

#include "platform/hid/HidService.h"

#include <linux/input.h>
#include <vector>

// A device of the simulated backend: its class, properties and elements are set by the test,
// which then injects events into every open device. A seized device refuses a second seizing
// open (EBUSY) and keeps its events from the shared openers, as the kernel's grab does.
class SimulatedHidService : public HidService {
public:
    SimulatedHidService(uint32_t serviceID, std::string className, PlistDictionary properties,
                        std::vector<HidElement> elements);

    std::string className() const override { return m_className; }
    PlistPtr property(const std::string& name) const override;
    bool setProperty(const std::string& name, const PlistPtr& value) override;
    HidDevicePtr open(bool seize, int* errorCode) override;

    void setPropertyForTesting(const std::string& name, PlistPtr value);
    void setElementsForTesting(std::vector<HidElement> elements) { m_elements = std::move(elements); }
    // Every open fails with `errorCode` (0: opens succeed again).
    void setOpenErrorForTesting(int errorCode) { m_openError = errorCode; }
    // Whether setProperty() succeeds.
    void setPropertiesWritableForTesting(bool writable) { m_writable = writable; }
    // The properties written through setProperty(), in order.
    const std::vector<std::pair<std::string, PlistPtr>>& writtenPropertiesForTesting() const
    {
        return m_written;
    }

    // Hands the events to every open device that may see them, as one read.
    void injectEventsForTesting(const std::vector<HidEvent>& events);
    // Recorded kernel input records, decoded as the Linux backend decodes them.
    void injectInputRecordsForTesting(const std::vector<input_event>& records);

    size_t openDeviceCountForTesting() const;
    // The most events any open device's queue has held at once.
    size_t maximumQueuedEventsForTesting() const;
    bool isSeizedForTesting() const;

private:
    class Device;

    std::string m_className;
    PlistDictionary m_properties;
    std::vector<HidElement> m_elements;
    int m_openError = 0;
    bool m_writable = true;
    std::vector<std::pair<std::string, PlistPtr>> m_written;
    std::vector<std::weak_ptr<Device>> m_devices;
};
