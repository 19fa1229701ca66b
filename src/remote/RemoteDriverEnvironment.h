#pragma once

#include <cstdint>
#include <string>

class DistributedNotificationCenter;
class HidBackend;
class RemoteScheduler;

// What a remote driver is built on. Each member left empty takes the real one: the system's
// input devices, the session bus, the main event loop, this process's ID, the program's
// identifier, and the application's activation. Tests put simulations in their place.
struct RemoteDriverEnvironment {
    HidBackend* hid = nullptr;
    DistributedNotificationCenter* notifications = nullptr;
    RemoteScheduler* scheduler = nullptr;
    // 0: getpid(). Two drivers of one test process need different IDs to tell each other apart.
    int64_t processIdentifier = 0;
    std::string bundleIdentifier = "com.quillmoss.lumendeck";
    // Follow the application's activation and termination (tests drive _appStatusChanged instead).
    bool observeApplication = true;
};
