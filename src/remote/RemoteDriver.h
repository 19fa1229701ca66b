#pragma once

#include "remote/RemoteButtonCode.h"

#include <vector>

class RemoteDriverDelegate;

// The infrared remote's client. FIXME: receivers are not discovered yet; until then the driver
// only keeps its configuration and its started state, so the rest of the program can switch it on
// and off as it will later.
class RemoteDriver {
public:
    RemoteDriver() = default;
    RemoteDriver(const RemoteDriver&) = delete;
    RemoteDriver& operator=(const RemoteDriver&) = delete;

    // The system version cannot be read here, so the bridge driver is never required.
    static bool isIRBridgeInstallationRequiredForRemoteMode(RemoteMode mode);

    RemoteDriverDelegate* delegate() const { return _delegate; }
    void setDelegate(RemoteDriverDelegate* delegate) { _delegate = delegate; }
    bool simulateHoldEvents() const { return _simulateHoldEvents; }
    void setSimulateHoldEvents(bool simulate) { _simulateHoldEvents = simulate; }
    const std::vector<RemoteButtonCode>& unusedButtonCodes() const { return _unusedButtonCodes; }
    void setUnusedButtonCodes(std::vector<RemoteButtonCode> codes) { _unusedButtonCodes = std::move(codes); }

    // False when already started or when `mode` is RemoteModeNone.
    bool startRemoteControl(RemoteMode mode);
    void stopRemoteControl();
    bool isStarted() const { return _mode != RemoteModeNone; }
    RemoteMode mode() const { return _mode; }

private:
    RemoteDriverDelegate* _delegate = nullptr; // non-owning
    bool _simulateHoldEvents = true;
    std::vector<RemoteButtonCode> _unusedButtonCodes;
    RemoteMode _mode = RemoteModeNone;
};
