#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/ScopedRegistration.h"
#include "platform/hid/HidMatchingIterator.h"
#include "remote/RemoteButtonCode.h"
#include "remote/RemoteDriverEnvironment.h"
#include "remote/RemoteHardware.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class DistributedNotificationCenter;
struct DistributedNotification;
class Error;
class HidBackend;
class HidQueue;
class QObject;
class RemoteDriverDelegate;
class RemoteScheduler;

// The infrared remote's client. Once started it opens every remote receiver present and every
// one plugged in later, shared or seized, turns their element events into button presses and
// releases for its delegate (simulating holds of up and down, which the hardware does not
// report), and tears a receiver down when it goes away. In the exclusive modes it co-operates
// with other remote-aware programs over distributed notifications: it announces its state,
// answers their pings, takes a receiver lent to it and gives it back, and (with lending on) lends
// its own. Main thread only; every callback, notification and timer arrives there.
class RemoteDriver {
public:
    enum ApplicationNotification {
        ApplicationDidBecomeActive,
        ApplicationWillResignActive,
        ApplicationWillTerminate
    };

    // Seconds an up or down press is held back before it counts as held.
    static constexpr double holdDelay = 0.7;
    // Seconds after the application is active again before the receivers are taken back.
    static constexpr double autoRecoveryDelay = 0.1;

    explicit RemoteDriver(RemoteDriverEnvironment environment = {});
    ~RemoteDriver();
    RemoteDriver(const RemoteDriver&) = delete;
    RemoteDriver& operator=(const RemoteDriver&) = delete;

    // One instance for the life of the process, made on first use.
    static RemoteDriver& sharedRemoteDriver();

    static bool isIRBridgeInstalled();
    // The bridge driver is needed only on the two system versions that broke the receiver; the
    // system version cannot be read on Linux, so it is never needed here.
    static bool isIRBridgeInstallationRequiredForRemoteMode(RemoteMode mode);
    // The decision itself: `systemVersion` one hexadecimal digit per part (10.6.1 is 0x1061).
    static bool isIRBridgeInstallationRequired(RemoteMode mode, std::optional<uint32_t> systemVersion,
                                               bool bridgeInstalled);

    // Remote button code of a HID usage; RemoteButtonNone for usages a remote does not have.
    static RemoteButtonCode buttonCodeForUsage(uint32_t usage, uint32_t usagePage);

    RemoteDriverDelegate* delegate() const { return _delegate; }
    void setDelegate(RemoteDriverDelegate* delegate) { _delegate = delegate; }
    bool simulateHoldEvents() const { return _simulateHoldEvents; }
    void setSimulateHoldEvents(bool simulate) { _simulateHoldEvents = simulate; }
    const std::vector<RemoteButtonCode>& unusedButtonCodes() const { return _unusedButtonCodes; }
    // Announced to the other programs (an "update" status); events are not filtered by it.
    void setUnusedButtonCodes(std::vector<RemoteButtonCode> codes);
    int32_t lastSeenRemoteControlID() const { return _lastSeenRemoteID; }
    RemoteModel lastSeenModel() const { return _lastSeenModel; }
    void setLastSeenModel(RemoteModel model) { _lastSeenModel = model; }

    // False when already started or when `mode` is RemoteModeNone, with no other effect; false
    // also when starting failed, leaving the driver stopped.
    bool startRemoteControl(RemoteMode mode);
    // Safe in any state.
    void stopRemoteControl();
    bool isStarted() const { return _mode != RemoteModeNone; }
    RemoteMode mode() const { return _mode; }
    unsigned activeRemoteControlCount() const;
    int aluminiumRemoteSystemSupportLevel() const;

    bool exclusiveLockLendingEnabled() const { return _exclusiveLockLending; }
    void setExclusiveLockLendingEnabled(bool enabled);
    bool enableSecureEventInputWorkaround() const { return _secureEventInputWorkAround; }
    void setEnableSecureEventInputWorkaround(bool enabled) { _secureEventInputWorkAround = enabled; }

    // Entered from the application's activation and termination.
    void _appStatusChanged(ApplicationNotification notification);
    // Entered from the distributed notifications.
    void _handleNotifications(const DistributedNotification& notification);

    int64_t processIdentifier() const { return m_processIdentifier; }
    // The attributes of every opened receiver, by service number.
    std::map<uint32_t, PlistPtr> hardwareAttributesForTesting() const;
    bool isAutoRecoveryPendingForTesting() const { return static_cast<bool>(_autoRecoveryTimer); }

private:
    void _serviceMatching();
    bool _prematchService(const HidServicePtr& service);
    bool _setupService(const HidServicePtr& service);
    void _failSetup(int internalCode, const char* domain, int code);
    void _destructService(uint32_t service);
    void _serviceNotificationFor(uint32_t service, uint32_t messageType);
    void _delayedAutoRecovery();

    void _hidEventFor(uint32_t service, const HidQueue* queue, int result);
    void _handleButtonCode(uint32_t code, bool isPressed, const std::shared_ptr<RemoteHardware>& hardware);
    void _simulateHoldEvent(const std::shared_ptr<RemoteHardware>& hardware);
    void _sendButtonCode(uint32_t code, bool isPressed, const std::shared_ptr<RemoteHardware>& hardware);
    // A receiver going away with a button down lets go of it, so no button stays pressed.
    void _releaseHeldButton(const std::shared_ptr<RemoteHardware>& hardware);

    void _postStatusWithAction(const std::string& action);
    void _secureInputNotificationFor(uint32_t messageType);
    void _updateSessionInformation();
    PlistDictionary _pidAndUidDictionary() const;
    void _observeApplication();
    // The receivers' backend, resolved on first use: the machine's backend enumerates its input
    // devices as it is made, which a driver not yet started (a window not yet painted) need not pay.
    HidBackend& hid();

    HidBackend* m_hid; // the environment's, or the machine's once first used
    DistributedNotificationCenter& m_notifications;
    RemoteScheduler& m_scheduler;
    int64_t m_processIdentifier;
    std::string m_bundleIdentifier;

    HidMatchingIteratorPtr _matchingServicesIterator;
    ScopedRegistration _secureInputNotification;
    std::optional<std::map<uint32_t, std::shared_ptr<RemoteHardware>>> _serviceAttribMap;
    RemoteMode _mode = RemoteModeNone;
    bool _autoRecover = false;
    std::function<void()> _autoRecoveryTimer;
    RemoteDriverDelegate* _delegate = nullptr; // non-owning

    int32_t _lastSeenRemoteID = -1;
    RemoteModel _lastSeenModel = RemoteModelUndetermined;
    int32_t _lastSeenModelRemoteID = -1;
    std::vector<RemoteButtonCode> _unusedButtonCodes;
    bool _simulateHoldEvents = true;

    bool _secureEventInputWorkAround = true;
    int64_t _lastSecureEventInputPIDSum = 0;
    int32_t _lastFrontUserSession = 0;
    bool _exclusiveLockLending = false;
    std::optional<int64_t> _waitForReturnByPID;
    std::optional<int64_t> _returnToPID;

    ScopedRegistration m_pingObserver;
    ScopedRegistration m_retryObserver;
    ScopedRegistration m_statusObserver;
    std::unique_ptr<QObject> m_applicationObserver;
};
