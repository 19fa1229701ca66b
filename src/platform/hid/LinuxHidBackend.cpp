#include "platform/hid/LinuxHidBackend.h"

#include "platform/hid/LinuxHidService.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstring>
#include <libudev.h>

namespace {
std::string valueOrEmpty(const char* value)
{
    return value ? std::string(value) : std::string();
}

bool isEventNode(udev_device* device)
{
    const char* sysname = udev_device_get_sysname(device);
    return sysname && std::strncmp(sysname, "event", 5) == 0 && udev_device_get_devnode(device);
}

std::string classNameOf(udev_device* device)
{
    for (udev_device* ancestor = device; ancestor; ancestor = udev_device_get_parent(ancestor)) {
        const char* driver = udev_device_get_driver(ancestor);
        if (driver && std::strcmp(driver, "appleir") == 0)
            return "AppleIRController";
    }
    return "IOHIDDevice";
}

std::string transportOf(const std::string& bus)
{
    if (bus == "usb")
        return "USB";
    if (bus == "bluetooth")
        return "Bluetooth";
    return bus;
}

PlistDictionary propertiesOf(udev_device* device, const std::string& className)
{
    PlistDictionary properties;
    properties["IOClass"] = PlistValue::string(className);
    udev_device* input = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
    if (const char* name = input ? udev_device_get_sysattr_value(input, "name") : nullptr)
        properties["Product"] = PlistValue::string(name);
    std::string vendor = valueOrEmpty(udev_device_get_property_value(device, "ID_VENDOR_FROM_DATABASE"));
    if (vendor.empty())
        vendor = valueOrEmpty(udev_device_get_property_value(device, "ID_VENDOR"));
    if (!vendor.empty())
        properties["Manufacturer"] = PlistValue::string(vendor);
    const std::string bus = valueOrEmpty(udev_device_get_property_value(device, "ID_BUS"));
    if (!bus.empty())
        properties["Transport"] = PlistValue::string(transportOf(bus));
    const char* mask = udev_device_get_property_value(device, LinuxHidBackend::compatibilityProperty);
    if (mask) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(mask, &end, 0);
        if (end != mask && *end == '\0')
            properties["IRBridgeRemoteCompatibilityMask"] = PlistValue::integer(static_cast<int64_t>(value));
    }
    return properties;
}
} // namespace

LinuxHidBackend::LinuxHidBackend()
{
    m_udev = udev_new();
    if (!m_udev) {
        qWarning(
            "The remote control is unavailable: udev cannot be reached; the keyboard and touchpad work as "
            "before.");
        return;
    }
    // The monitor first, so a device plugged in during the enumeration is not missed.
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor && udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "input", nullptr) >= 0 &&
        udev_monitor_enable_receiving(m_monitor) >= 0 && QCoreApplication::instance()) {
        m_monitorNotifier =
            std::make_unique<QSocketNotifier>(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read);
        QObject::connect(m_monitorNotifier.get(), &QSocketNotifier::activated, m_monitorNotifier.get(),
                         [this] { readMonitor(); });
    }

    udev_enumerate* enumerate = udev_enumerate_new(m_udev);
    if (!enumerate)
        return;
    udev_enumerate_add_match_subsystem(enumerate, "input");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        if (udev_device* device = udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry))) {
            addDevice(device);
            udev_device_unref(device);
        }
    }
    udev_enumerate_unref(enumerate);
}

LinuxHidBackend::~LinuxHidBackend()
{
    m_monitorNotifier.reset();
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

void LinuxHidBackend::addDevice(udev_device* device)
{
    if (!isEventNode(device))
        return;
    const std::string syspath = valueOrEmpty(udev_device_get_syspath(device));
    for (const auto& service : services()) {
        if (static_cast<const LinuxHidService&>(*service).syspath() == syspath)
            return;
    }
    const std::string className = classNameOf(device);
    // A read that finds the device gone removes it as the monitor would; later, so the device
    // is not torn down from inside its own read.
    auto removed = [this, syspath] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this, syspath] { removeDevice(syspath); }, Qt::QueuedConnection);
    };
    serviceAppeared(std::make_shared<LinuxHidService>(m_nextServiceID++,
                                                      valueOrEmpty(udev_device_get_devnode(device)), syspath,
                                                      className, propertiesOf(device, className), removed));
}

void LinuxHidBackend::removeDevice(const std::string& syspath)
{
    for (const auto& service : services()) {
        if (static_cast<const LinuxHidService&>(*service).syspath() == syspath) {
            auto keep = service;
            serviceDisappeared(keep);
            return;
        }
    }
}

void LinuxHidBackend::readMonitor()
{
    // One device per wake-up: the notifier fires again while more are waiting, and a read never
    // blocks the main thread.
    if (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        const std::string action = valueOrEmpty(udev_device_get_action(device));
        if (action == "add")
            addDevice(device);
        else if (action == "remove")
            removeDevice(valueOrEmpty(udev_device_get_syspath(device)));
        udev_device_unref(device);
    }
}
