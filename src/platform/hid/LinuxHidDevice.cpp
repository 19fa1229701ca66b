#include "platform/hid/LinuxHidDevice.h"

#include "platform/hid/EvdevKeyTable.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

namespace {
// Records read per wake-up before the event loop gets its turn again.
constexpr int recordsPerBatch = 256;
} // namespace

HidDevicePtr LinuxHidDevice::open(const std::string& devnode, bool seize, bool appleIRDriver, int* errorCode,
                                  std::function<void()> removed)
{
    auto fail = [errorCode](int code) -> HidDevicePtr {
        if (errorCode)
            *errorCode = code;
        return nullptr;
    };
    const int fd = ::open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    libevdev* evdev = nullptr;
    if (int status = libevdev_new_from_fd(fd, &evdev); status < 0) {
        ::close(fd);
        return fail(-status);
    }
    if (seize) {
        if (int status = libevdev_grab(evdev, LIBEVDEV_GRAB); status < 0) {
            libevdev_free(evdev);
            ::close(fd);
            return fail(-status);
        }
    }
    auto elements = EvdevKeyTable::elements(
        [evdev](uint32_t code) { return libevdev_has_event_code(evdev, EV_KEY, code) == 1; }, appleIRDriver);
    auto device = std::shared_ptr<LinuxHidDevice>(
        new LinuxHidDevice(fd, evdev, std::move(elements), std::move(removed)));
    device->m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    std::weak_ptr<HidDevice> weak = device;
    QObject::connect(device->m_notifier.get(), &QSocketNotifier::activated, device->m_notifier.get(), [weak] {
        if (auto self = weak.lock())
            static_cast<LinuxHidDevice*>(self.get())->readEvents();
    });
    return device;
}

LinuxHidDevice::LinuxHidDevice(int fd, libevdev* evdev, std::vector<HidElement> elements,
                               std::function<void()> removed)
    : HidDevice(std::move(elements))
    , m_fd(fd)
    , m_evdev(evdev)
    , m_removed(std::move(removed))
{}

LinuxHidDevice::~LinuxHidDevice()
{
    close();
}

void LinuxHidDevice::closeDevice()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        // Possibly inside its own signal: deleted once the event loop is back.
        m_notifier.release()->deleteLater();
    }
    if (m_evdev) {
        libevdev_grab(m_evdev, LIBEVDEV_UNGRAB);
        libevdev_free(m_evdev);
        m_evdev = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int LinuxHidDevice::nextRecord(input_event& record)
{
    if (!m_evdev)
        return -ENODEV;
    // After the kernel dropped records (its buffer overflowed), libevdev hands over the
    // difference between the state it knew and the device's state now: a release lost in the
    // overflow arrives this way, so no button stays down.
    int status = libevdev_next_event(m_evdev, m_syncing ? LIBEVDEV_READ_FLAG_SYNC : LIBEVDEV_READ_FLAG_NORMAL,
                                     &record);
    if (m_syncing && status == -EAGAIN) {
        m_syncing = false;
        status = libevdev_next_event(m_evdev, LIBEVDEV_READ_FLAG_NORMAL, &record);
    }
    if (status == LIBEVDEV_READ_STATUS_SYNC) {
        m_syncing = true;
        return 0;
    }
    return status == LIBEVDEV_READ_STATUS_SUCCESS ? 0 : status;
}

void LinuxHidDevice::readEvents()
{
    auto keepAlive = shared_from_this();
    const auto result = EvdevKeyTable::pump([this](input_event& record) { return nextRecord(record); },
                                            queue(), recordsPerBatch);
    if (result == EvdevKeyTable::PumpResult::Removed && isOpen()) {
        if (m_notifier)
            m_notifier->setEnabled(false);
        if (m_removed)
            m_removed();
    }
}
