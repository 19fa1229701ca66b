#include "platform/hid/SimulatedHidBackend.h"

std::shared_ptr<SimulatedHidService> SimulatedHidBackend::attach(std::string className,
                                                                 PlistDictionary properties,
                                                                 std::vector<HidElement> elements)
{
    auto service = std::make_shared<SimulatedHidService>(m_nextServiceID++, std::move(className),
                                                         std::move(properties), std::move(elements));
    serviceAppeared(service);
    return service;
}

void SimulatedHidBackend::remove(const HidServicePtr& service)
{
    if (service)
        serviceDisappeared(service);
}

PlistPtr SimulatedHidBackend::rootProperty(const std::string& name) const
{
    auto it = m_rootProperties.find(name);
    return it == m_rootProperties.end() ? nullptr : it->second;
}

void SimulatedHidBackend::setRootProperty(const std::string& name, PlistPtr value)
{
    if (value)
        m_rootProperties.insert_or_assign(name, std::move(value));
    else
        m_rootProperties.erase(name);
}
