#include "platform/hid/LinuxHidService.h"

#include "platform/hid/LinuxHidDevice.h"

#include <QtGlobal>
#include <cerrno>
#include <cstring>

LinuxHidService::LinuxHidService(uint32_t serviceID, std::string devnode, std::string syspath,
                                 std::string className, PlistDictionary properties,
                                 std::function<void()> removed)
    : HidService(serviceID)
    , m_devnode(std::move(devnode))
    , m_syspath(std::move(syspath))
    , m_className(std::move(className))
    , m_properties(std::move(properties))
    , m_removed(std::move(removed))
{}

PlistPtr LinuxHidService::property(const std::string& name) const
{
    auto it = m_properties.find(name);
    return it == m_properties.end() ? nullptr : it->second;
}

bool LinuxHidService::setProperty(const std::string& /*name*/, const PlistPtr& /*value*/)
{
    return false;
}

HidDevicePtr LinuxHidService::open(bool seize, int* errorCode)
{
    int code = 0;
    auto device =
        LinuxHidDevice::open(m_devnode, seize, m_className == "AppleIRController", &code, m_removed);
    if (!device && (code == EACCES || code == EPERM)) {
        // Said once: the program goes on with the keyboard and the touchpad.
        static bool told = false;
        if (!told) {
            told = true;
            qWarning(
                "The remote control is unavailable: no permission to read %s (%s). Install the udev rule "
                "for infrared receivers (see the README) and log in again; the keyboard and touchpad work "
                "as before.",
                m_devnode.c_str(), strerror(code));
        }
    }
    if (errorCode)
        *errorCode = code;
    return device;
}
