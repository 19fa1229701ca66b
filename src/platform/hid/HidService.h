#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/ScopedRegistration.h"
#include "platform/hid/HidDevice.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

// One input device as the system lists it, before and apart from opening it: a class name (the
// kind of driver behind it), named properties, and interest notifications. Main thread only.
class HidService : public std::enable_shared_from_this<HidService> {
public:
    // The interest message that says the device is gone.
    static constexpr uint32_t messageServiceIsTerminated = 0xE0000010;
    // The interest message of the registry root that says the console's state changed.
    static constexpr uint32_t messageServiceBusyStateChange = 0xE0000120;

    using InterestHandler = std::function<void(uint32_t messageType)>;

    explicit HidService(uint32_t serviceID);
    virtual ~HidService();
    HidService(const HidService&) = delete;
    HidService& operator=(const HidService&) = delete;

    // Unique among the services of one backend for the life of the process, never 0.
    uint32_t serviceID() const { return m_serviceID; }
    virtual std::string className() const = 0;
    // nullptr when absent.
    virtual PlistPtr property(const std::string& name) const = 0;
    // False when the property cannot be written.
    virtual bool setProperty(const std::string& name, const PlistPtr& value) = 0;

    // Opens the device, exclusively when `seize` is set. nullptr on failure, with the reason
    // (an errno value) in *errorCode.
    virtual HidDevicePtr open(bool seize, int* errorCode) = 0;

    // Messages about this service, delivered on the main thread while the registration lives.
    [[nodiscard]] ScopedRegistration addInterestNotification(InterestHandler handler);
    bool isTerminated() const { return m_terminated; }

    // The backend's side: sends `messageType` to every interested party; termination is sent
    // once.
    void deliverMessage(uint32_t messageType);

private:
    uint32_t m_serviceID;
    bool m_terminated = false;
    uint64_t m_nextHandlerID = 1;
    std::map<uint64_t, InterestHandler> m_handlers;
};

using HidServicePtr = std::shared_ptr<HidService>;
