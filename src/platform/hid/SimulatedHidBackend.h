#pragma once

#include "platform/hid/HidBackend.h"
#include "platform/hid/SimulatedHidService.h"

// Input devices for tests: attached and removed by the test, with the console's properties and
// busy messages under its control too. Main thread only.
class SimulatedHidBackend : public HidBackend {
public:
    // Attaches a device; matching notifications hear of it at once.
    std::shared_ptr<SimulatedHidService> attach(std::string className, PlistDictionary properties,
                                                std::vector<HidElement> elements);
    // Detaches it: its interested parties get the termination message.
    void remove(const HidServicePtr& service);

    PlistPtr rootProperty(const std::string& name) const override;
    void setRootProperty(const std::string& name, PlistPtr value);
    // Sends the root's busy-state message.
    void changeRootState() { rootStateChanged(); }

private:
    uint32_t m_nextServiceID = 1;
    PlistDictionary m_rootProperties;
};
