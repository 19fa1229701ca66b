#pragma once

#include "platform/hid/HidService.h"

#include <functional>

// One input event node found through udev. Its properties come from udev and sysfs; none can be
// written.
class LinuxHidService : public HidService {
public:
    LinuxHidService(uint32_t serviceID, std::string devnode, std::string syspath, std::string className,
                    PlistDictionary properties, std::function<void()> removed);

    const std::string& devnode() const { return m_devnode; }
    const std::string& syspath() const { return m_syspath; }

    std::string className() const override { return m_className; }
    PlistPtr property(const std::string& name) const override;
    bool setProperty(const std::string& name, const PlistPtr& value) override;
    HidDevicePtr open(bool seize, int* errorCode) override;

private:
    std::string m_devnode;
    std::string m_syspath;
    std::string m_className;
    PlistDictionary m_properties;
    std::function<void()> m_removed;
};
