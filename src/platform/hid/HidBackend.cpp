#include "platform/hid/HidBackend.h"

#include "platform/hid/LinuxHidBackend.h"

#include <algorithm>
#include <cerrno>

namespace {
HidBackend* g_testingBackend = nullptr;
} // namespace

// The root has no device of its own; it only carries the console's messages.
class HidBackend::RootService : public HidService {
public:
    explicit RootService(HidBackend& backend)
        : HidService(0)
        , m_backend(backend)
    {}
    std::string className() const override { return "IORegistryEntry"; }
    PlistPtr property(const std::string& name) const override { return m_backend.rootProperty(name); }
    bool setProperty(const std::string&, const PlistPtr&) override { return false; }
    HidDevicePtr open(bool, int* errorCode) override
    {
        if (errorCode)
            *errorCode = ENODEV;
        return nullptr;
    }

private:
    HidBackend& m_backend;
};

HidBackend::HidBackend()
    : m_root(std::make_shared<RootService>(*this))
{}

HidBackend::~HidBackend() = default;

HidBackend& HidBackend::system()
{
    if (g_testingBackend)
        return *g_testingBackend;
    // Never destroyed: its notifiers must not outlive the application object at exit.
    static auto* systemBackend = new LinuxHidBackend;
    return *systemBackend;
}

void HidBackend::setSystemForTesting(HidBackend* backend)
{
    g_testingBackend = backend;
}

HidMatchingIteratorPtr HidBackend::addMatchingNotification(std::function<void()> callout)
{
    auto iterator = std::make_shared<HidMatchingIterator>(std::move(callout));
    for (const auto& service : m_services)
        iterator->add(service, false);
    std::erase_if(m_iterators, [](const auto& weak) { return weak.expired(); });
    m_iterators.push_back(iterator);
    return iterator;
}

HidServicePtr HidBackend::matchingService(const std::string& className) const
{
    for (const auto& service : m_services) {
        if (service->className() == className)
            return service;
    }
    return nullptr;
}

PlistPtr HidBackend::rootProperty(const std::string& /*name*/) const
{
    return nullptr;
}

ScopedRegistration HidBackend::addRootInterestNotification(HidService::InterestHandler handler)
{
    return m_root->addInterestNotification(std::move(handler));
}

void HidBackend::serviceAppeared(const HidServicePtr& service)
{
    m_services.push_back(service);
    // Copied: a callout may arm or drop iterators.
    auto iterators = m_iterators;
    for (const auto& weak : iterators) {
        if (auto iterator = weak.lock())
            iterator->add(service, true);
    }
}

void HidBackend::serviceDisappeared(const HidServicePtr& service)
{
    std::erase(m_services, service);
    service->deliverMessage(HidService::messageServiceIsTerminated);
}

void HidBackend::rootStateChanged()
{
    m_root->deliverMessage(HidService::messageServiceBusyStateChange);
}
