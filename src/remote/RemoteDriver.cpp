#include "remote/RemoteDriver.h"

#include "platform/foundation/Error.h"
#include "platform/hid/HidBackend.h"
#include "platform/ipc/DistributedNotificationCenter.h"
#include "remote/RemoteDriverDelegate.h"
#include "remote/RemoteScheduler.h"

#include <QGuiApplication>
#include <QObject>
#include <unistd.h>

namespace {
const std::string statusNotification = "com.irbridge.status";
const std::string pingNotification = "com.irbridge.ping";
const std::string retryNotification = "com.irbridge.retry";
const std::string bundleIdentifierKey = "CFBundleIdentifier";

constexpr const char* machErrorDomain = "NSMachErrorDomain";
constexpr int ioReturnError = static_cast<int>(0xE00002BC);
// Receivers exposing fewer distinct mapped usages are some other device.
constexpr size_t minimumMappedUsages = 10;

std::optional<int64_t> integerForKey(const PlistDictionary& dictionary, const std::string& key)
{
    auto it = dictionary.find(key);
    return it == dictionary.end() || !it->second ? std::nullopt : it->second->asInteger();
}

const std::string* stringForKey(const PlistDictionary& dictionary, const std::string& key)
{
    auto it = dictionary.find(key);
    return it == dictionary.end() || !it->second ? nullptr : it->second->asString();
}

bool isExclusive(RemoteMode mode)
{
    return mode == RemoteModeExclusive || mode == RemoteModeExclusiveAuto;
}

bool isNumber(const PlistPtr& value)
{
    return value && (value->isInteger() || value->isReal() || value->isBoolean());
}

// Numbers, and booleans as 0 or 1, as the registry's numbers compare.
std::optional<int64_t> numberValue(const PlistPtr& value)
{
    if (!value)
        return std::nullopt;
    if (auto boolean = value->asBoolean())
        return *boolean ? 1 : 0;
    if (auto integer = value->asInteger())
        return integer;
    if (auto real = value->asReal())
        return static_cast<int64_t>(*real);
    return std::nullopt;
}
} // namespace

RemoteDriver::RemoteDriver(RemoteDriverEnvironment environment)
    : m_hid(environment.hid)
    , m_notifications(environment.notifications ? *environment.notifications
                                                : DistributedNotificationCenter::defaultCenter())
    , m_scheduler(environment.scheduler ? *environment.scheduler : RemoteScheduler::runLoop())
    , m_processIdentifier(environment.processIdentifier ? environment.processIdentifier : ::getpid())
    , m_bundleIdentifier(std::move(environment.bundleIdentifier))
{
    if (environment.observeApplication)
        _observeApplication();
    m_pingObserver = m_notifications.addObserver(
        pingNotification, {}, [this](const DistributedNotification& n) { _handleNotifications(n); });
    m_retryObserver =
        m_notifications.addObserver(retryNotification, std::to_string(m_processIdentifier),
                                    [this](const DistributedNotification& n) { _handleNotifications(n); });
}

RemoteDriver::~RemoteDriver()
{
    m_applicationObserver.reset();
    m_pingObserver.release();
    m_retryObserver.release();
    stopRemoteControl();
    setExclusiveLockLendingEnabled(false);
    _delegate = nullptr;
}

HidBackend& RemoteDriver::hid()
{
    if (!m_hid)
        m_hid = &HidBackend::system();
    return *m_hid;
}

RemoteDriver& RemoteDriver::sharedRemoteDriver()
{
    static RemoteDriver* shared = new RemoteDriver;
    return *shared;
}

void RemoteDriver::_observeApplication()
{
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application)
        return;
    m_applicationObserver = std::make_unique<QObject>();
    auto wasActive = std::make_shared<bool>(application->applicationState() == Qt::ApplicationActive);
    QObject::connect(application, &QGuiApplication::applicationStateChanged, m_applicationObserver.get(),
                     [this, wasActive](Qt::ApplicationState state) {
                         const bool active = state == Qt::ApplicationActive;
                         if (active == *wasActive)
                             return;
                         *wasActive = active;
                         _appStatusChanged(active ? ApplicationDidBecomeActive : ApplicationWillResignActive);
                     });
    QObject::connect(application, &QCoreApplication::aboutToQuit, m_applicationObserver.get(),
                     [this] { _appStatusChanged(ApplicationWillTerminate); });
}

bool RemoteDriver::isIRBridgeInstalled()
{
    return HidBackend::system().matchingService("IRBridgeIRController") != nullptr;
}

bool RemoteDriver::isIRBridgeInstallationRequiredForRemoteMode(RemoteMode mode)
{
    // No system version to read: the bridge is never required, and the registry is not asked.
    return isIRBridgeInstallationRequired(mode, std::nullopt, false);
}

bool RemoteDriver::isIRBridgeInstallationRequired(RemoteMode mode, std::optional<uint32_t> systemVersion,
                                                  bool bridgeInstalled)
{
    if (!systemVersion)
        return false;
    return (*systemVersion == 0x1060 || *systemVersion == 0x1061) && isExclusive(mode) && !bridgeInstalled;
}

RemoteButtonCode RemoteDriver::buttonCodeForUsage(uint32_t usage, uint32_t usagePage)
{
    switch (usagePage) {
    case 0x01:
        switch (usage) {
        case 0x86:
            return RemoteButtonMenu;
        case 0x89:
            return RemoteButtonCenter;
        case 0x8A:
            return RemoteButtonRight;
        case 0x8B:
            return RemoteButtonLeft;
        case 0x8C:
            return RemoteButtonUp;
        case 0x8D:
            return RemoteButtonDown;
        }
        break;
    case 0x06:
        if (usage == 0x22)
            return RemoteButtonIDChanged;
        break;
    case 0x0C:
        switch (usage) {
        case 0x40:
            return RemoteButtonMenuHold;
        case 0x41:
            return static_cast<RemoteButtonCode>(RemoteButtonCenter | RemoteButtonAluminiumFlag);
        case 0x82:
            return static_cast<RemoteButtonCode>(RemoteButtonCenterHold | RemoteButtonAluminiumFlag);
        case 0xB3:
            return RemoteButtonRightHold;
        case 0xB4:
            return RemoteButtonLeftHold;
        case 0xCD:
            return static_cast<RemoteButtonCode>(RemoteButtonPlay | RemoteButtonAluminiumFlag);
        }
        break;
    case 0xFF01:
        if (usage == 0x23)
            return RemoteButtonCenterHold;
        break;
    }
    return RemoteButtonNone;
}

void RemoteDriver::setUnusedButtonCodes(std::vector<RemoteButtonCode> codes)
{
    _unusedButtonCodes = std::move(codes);
    _postStatusWithAction("update");
}

bool RemoteDriver::startRemoteControl(RemoteMode mode)
{
    if (isStarted() || mode == RemoteModeNone)
        return false;
    if (isExclusive(mode)) {
        _secureInputNotification = hid().addRootInterestNotification(
            [this](uint32_t messageType) { _secureInputNotificationFor(messageType); });
        if (!_secureInputNotification.isRegistered()) {
            stopRemoteControl();
            return false;
        }
        _updateSessionInformation();
    }
    _matchingServicesIterator = hid().addMatchingNotification([this] { _serviceMatching(); });
    _serviceAttribMap.emplace();
    // Set before the drain: opening a receiver depends on it.
    _mode = mode;
    _serviceMatching();
    _postStatusWithAction("start");
    return true;
}

void RemoteDriver::stopRemoteControl()
{
    _autoRecover = false;
    if (auto cancel = std::exchange(_autoRecoveryTimer, nullptr))
        cancel();
    if (_serviceAttribMap) {
        std::vector<uint32_t> services;
        for (const auto& entry : *_serviceAttribMap)
            services.push_back(entry.first);
        for (uint32_t service : services)
            _destructService(service);
        _serviceAttribMap.reset();
    }
    _matchingServicesIterator.reset();
    _secureInputNotification.release();
    _postStatusWithAction("stop");
    _returnToPID.reset();
    _mode = RemoteModeNone;
}

unsigned RemoteDriver::activeRemoteControlCount() const
{
    return _serviceAttribMap ? static_cast<unsigned>(_serviceAttribMap->size()) : 0;
}

int RemoteDriver::aluminiumRemoteSystemSupportLevel() const
{
    unsigned level = 0;
    if (_serviceAttribMap) {
        for (const auto& entry : *_serviceAttribMap)
            level = std::max(level, static_cast<unsigned>(entry.second->aluminumRemoteSupportLevel));
    }
    return static_cast<int>(level);
}

std::map<uint32_t, PlistPtr> RemoteDriver::hardwareAttributesForTesting() const
{
    std::map<uint32_t, PlistPtr> attributes;
    if (_serviceAttribMap) {
        for (const auto& [service, hardware] : *_serviceAttribMap)
            attributes.emplace(service, hardware->attributes);
    }
    return attributes;
}

void RemoteDriver::_serviceMatching()
{
    if (!_matchingServicesIterator)
        return;
    // Held: a setup's delegate message may stop the driver and drop the iterator.
    auto iterator = _matchingServicesIterator;
    while (HidServicePtr service = iterator->next()) {
        if (!isStarted())
            return;
        _setupService(service);
    }
}

bool RemoteDriver::_prematchService(const HidServicePtr& service)
{
    bool decision = false;
    if (service) {
        if (PlistPtr ioClass = service->property("IOClass"); ioClass && ioClass->asString()) {
            const std::string& className = *ioClass->asString();
            if (className == "AppleIRController" || className == "RBIOKitAIREmu") {
                PlistPtr compatibilityDevice = service->property("IRBridgeRemoteCompatibilityDevice");
                decision = !(compatibilityDevice && compatibilityDevice->asBoolean().value_or(false));
            } else if (className == "IRBridgeIRController") {
                decision = true;
            }
        }
        if (PlistPtr mask = service->property("IRBridgeRemoteCompatibilityMask"); isNumber(mask))
            decision = (static_cast<uint64_t>(*numberValue(mask)) & 1) != 0;
    }
    if (_delegate)
        return _delegate->remoteDriverInspectNewHardwareWithService(*this, service ? service->serviceID() : 0,
                                                                    decision);
    return decision;
}

void RemoteDriver::_failSetup(int internalCode, const char* domain, int code)
{
    if (!_delegate)
        return;
    if (internalCode == 0) {
        _delegate->remoteDriverFailedNewHardwareWithError(*this, nullptr);
        return;
    }
    Error error(domain, code);
    error.setUserInfo({{"InternalErrorCode", PlistValue::integer(internalCode)}});
    _delegate->remoteDriverFailedNewHardwareWithError(*this, &error);
}

bool RemoteDriver::_setupService(const HidServicePtr& service)
{
    if (!_prematchService(service))
        return false;
    if (!isStarted() || !_serviceAttribMap || _serviceAttribMap->count(service->serviceID()))
        return false;
    if (_mode != RemoteModeShared && !isExclusive(_mode)) {
        _failSetup(0, machErrorDomain, 0);
        return false;
    }
    int openError = 0;
    HidDevicePtr device = service->open(isExclusive(_mode), &openError);
    if (!device) {
        _failSetup(3, Error::posixDomain, openError);
        return false;
    }

    auto hardware = std::make_shared<RemoteHardware>();
    hardware->service = service->serviceID();
    hardware->serviceObject = service;
    hardware->device = device;
    HidQueue& queue = device->queue();
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> usageTable;
    for (const HidElement& element : device->elements()) {
        const uint32_t code = buttonCodeForUsage(element.usage, element.usagePage);
        if (code == RemoteButtonNone)
            continue;
        usageTable[{element.usagePage, element.usage}] = code;
        hardware->cookieButtonCodeLUT[element.cookie] = code;
        queue.addElement(element.cookie);
    }
    if (usageTable.size() < minimumMappedUsages) {
        _failSetup(8, machErrorDomain, ioReturnError);
        device->close();
        return false;
    }
    const uint32_t serviceNumber = hardware->service;
    const HidQueue* queuePointer = &queue;
    queue.setEventCallout(
        [this, serviceNumber, queuePointer] { _hidEventFor(serviceNumber, queuePointer, 0); });
    queue.start();
    hardware->serviceNotification = service->addInterestNotification(
        [this, serviceNumber](uint32_t messageType) { _serviceNotificationFor(serviceNumber, messageType); });

    PlistDictionary attributes;
    attributes["Service"] = PlistValue::integer(serviceNumber);
    for (const char* key : {"Product", "Manufacturer", "Transport"}) {
        if (PlistPtr value = service->property(key); value && value->isString())
            attributes[key] = value;
    }
    int level = 0;
    bool levelFromOnDemand = false;
    PlistPtr onDemand = service->property("AluminumRemoteSupportLevelOnDemand");
    if (isExclusive(_mode) && onDemand) {
        if (service->setProperty("EnableAluminumRemoteSupportForMe",
                                 PlistValue::dictionary(_pidAndUidDictionary()))) {
            hardware->aluminumRemoteSupportLevelOnDemand = true;
            attributes["AluminumRemoteSupportLevelOnDemand"] = PlistValue::boolean(true);
            if (auto value = numberValue(onDemand); value && static_cast<int>(*value) != 0) {
                level = static_cast<int>(*value);
                levelFromOnDemand = true;
            }
        }
    }
    if (!levelFromOnDemand) {
        if (PlistPtr supportLevel = service->property("AluminumRemoteSupportLevel"))
            level = isNumber(supportLevel) ? static_cast<int>(*numberValue(supportLevel)) : 0;
        // Absent: 2 for the Apple receiver on 10.6.2 and later; the version cannot be read here.
    }
    hardware->aluminumRemoteSupportLevel = level;
    attributes["AluminumRemoteSupportLevel"] = PlistValue::integer(level);
    hardware->attributes = PlistValue::dictionary(std::move(attributes));

    _serviceAttribMap->emplace(serviceNumber, hardware);
    if (_delegate)
        _delegate->remoteDriverFoundNewHardwareWithAttributes(*this, hardware->attributes);
    return true;
}

void RemoteDriver::_destructService(uint32_t service)
{
    if (!_serviceAttribMap)
        return;
    auto it = _serviceAttribMap->find(service);
    if (it == _serviceAttribMap->end())
        return;
    std::shared_ptr<RemoteHardware> hardware = it->second;
    _serviceAttribMap->erase(it);

    _releaseHeldButton(hardware);
    hardware->tornDown = true;
    if (hardware->aluminumRemoteSupportLevelOnDemand && hardware->serviceObject)
        hardware->serviceObject->setProperty("DisableAluminumRemoteSupportForMe",
                                             PlistValue::dictionary(_pidAndUidDictionary()));
    if (_delegate)
        _delegate->remoteDriverReleasedHardwareWithAttributes(*this, hardware->attributes);
    if (auto cancel = std::exchange(hardware->simulateHoldEventsTimer, nullptr))
        cancel();
    hardware->serviceNotification.release();
    if (hardware->device) {
        HidQueue& queue = hardware->device->queue();
        for (const auto& entry : hardware->cookieButtonCodeLUT) {
            if (queue.hasElement(entry.first))
                queue.removeElement(entry.first);
        }
        hardware->device->close();
    }
}

void RemoteDriver::_releaseHeldButton(const std::shared_ptr<RemoteHardware>& hardware)
{
    if (hardware->simulateHoldEventsOriginButtonCode) {
        const uint32_t origin = *hardware->simulateHoldEventsOriginButtonCode;
        // A press still held back was never delivered, so it needs no release.
        const bool holdDelivered = !hardware->simulateHoldEventsTimer;
        if (auto cancel = std::exchange(hardware->simulateHoldEventsTimer, nullptr))
            cancel();
        hardware->simulateHoldEventsOriginButtonCode.reset();
        hardware->lastButtonPressed = 0;
        if (holdDelivered)
            _sendButtonCode(origin | RemoteButtonHoldFlag, false, hardware);
        return;
    }
    const uint32_t last = std::exchange(hardware->lastButtonPressed, 0);
    if (last != 0)
        _handleButtonCode(last, false, hardware);
}

void RemoteDriver::_serviceNotificationFor(uint32_t service, uint32_t messageType)
{
    if (messageType == HidService::messageServiceIsTerminated)
        _destructService(service);
}

void RemoteDriver::_appStatusChanged(ApplicationNotification notification)
{
    if (auto cancel = std::exchange(_autoRecoveryTimer, nullptr))
        cancel();
    switch (notification) {
    case ApplicationDidBecomeActive:
        if (_autoRecover)
            _autoRecoveryTimer = m_scheduler.schedule(autoRecoveryDelay, [this] { _delayedAutoRecovery(); });
        break;
    case ApplicationWillResignActive:
        if (_mode == RemoteModeExclusiveAuto) {
            stopRemoteControl();
            _autoRecover = true;
        }
        break;
    case ApplicationWillTerminate:
        if (isStarted())
            stopRemoteControl();
        break;
    }
}

void RemoteDriver::_delayedAutoRecovery()
{
    _autoRecoveryTimer = nullptr;
    if (_autoRecover) {
        startRemoteControl(RemoteModeExclusiveAuto);
        _autoRecover = false;
    }
}

void RemoteDriver::_hidEventFor(uint32_t service, const HidQueue* queue, int result)
{
    if (!_serviceAttribMap)
        return;
    auto it = _serviceAttribMap->find(service);
    if (it == _serviceAttribMap->end())
        return;
    // Held: a delegate message may tear the receiver down while its events are read.
    std::shared_ptr<RemoteHardware> hardware = it->second;
    if (!hardware->device || &hardware->device->queue() != queue)
        return;
    HidDevicePtr device = hardware->device;
    uint32_t last = hardware->lastButtonPressed;
    if (result == 0) {
        HidEvent event;
        while (!hardware->tornDown && device->queue().getNextEvent(event)) {
            auto mapped = hardware->cookieButtonCodeLUT.find(event.cookie);
            if (mapped == hardware->cookieButtonCodeLUT.end())
                continue;
            const uint32_t code = mapped->second;
            if (event.value != 0) {
                // A new press implies the release of the previous button.
                if (last != 0) {
                    hardware->lastButtonPressed = 0;
                    _handleButtonCode(last, false, hardware);
                    last = 0;
                    if (hardware->tornDown)
                        break;
                }
                if (code == RemoteButtonIDChanged) {
                    if (_delegate)
                        _delegate->remoteDriverRemoteIDChangedOldID(*this, _lastSeenRemoteID, event.value,
                                                                    hardware->attributes);
                    _lastSeenRemoteID = event.value;
                    _lastSeenModel = RemoteModelUndetermined;
                    if (hardware->tornDown)
                        break;
                }
                last = code;
                hardware->lastButtonPressed = last;
                _handleButtonCode(code, true, hardware);
            } else if (code == last) {
                last = 0;
                hardware->lastButtonPressed = 0;
                _handleButtonCode(code, false, hardware);
            }
        }
    }
    if (!hardware->tornDown)
        hardware->lastButtonPressed = last;
}

void RemoteDriver::_handleButtonCode(uint32_t code, bool isPressed,
                                     const std::shared_ptr<RemoteHardware>& hardware)
{
    if (code == RemoteButtonIDChanged)
        return;
    if ((code == RemoteButtonUp || code == RemoteButtonDown) && _simulateHoldEvents) {
        // Invalidated, but still there: its presence says the hold time had not run out.
        std::function<void()> timer = std::exchange(hardware->simulateHoldEventsTimer, nullptr);
        if (timer)
            timer();
        if (isPressed) {
            if (hardware->tornDown)
                return;
            hardware->simulateHoldEventsOriginButtonCode = code;
            std::weak_ptr<RemoteHardware> weak = hardware;
            hardware->simulateHoldEventsTimer = m_scheduler.schedule(holdDelay, [this, weak] {
                if (auto held = weak.lock())
                    _simulateHoldEvent(held);
            });
            return;
        }
        const std::optional<uint32_t> origin = hardware->simulateHoldEventsOriginButtonCode;
        hardware->simulateHoldEventsOriginButtonCode.reset();
        if (!origin)
            return;
        if (timer) {
            _sendButtonCode(*origin, true, hardware);
            _sendButtonCode(*origin, false, hardware);
        } else {
            _sendButtonCode(*origin | RemoteButtonHoldFlag, false, hardware);
        }
        return;
    }
    _sendButtonCode(code, isPressed, hardware);
}

void RemoteDriver::_simulateHoldEvent(const std::shared_ptr<RemoteHardware>& hardware)
{
    if (hardware->tornDown || !hardware->simulateHoldEventsTimer ||
        !hardware->simulateHoldEventsOriginButtonCode)
        return;
    // Only the timer goes: the origin stays for the release.
    hardware->simulateHoldEventsTimer = nullptr;
    _sendButtonCode(*hardware->simulateHoldEventsOriginButtonCode | RemoteButtonHoldFlag, true, hardware);
}

void RemoteDriver::_sendButtonCode(uint32_t code, bool isPressed,
                                   const std::shared_ptr<RemoteHardware>& hardware)
{
    if (!_delegate)
        return;
    const uint32_t plain = code & ~static_cast<uint32_t>(RemoteButtonAluminiumFlag);
    if (plain == RemoteButtonCenter || plain == RemoteButtonPlay) {
        if (code & RemoteButtonAluminiumFlag) {
            _lastSeenModel = RemoteModelAluminium;
            _lastSeenModelRemoteID = _lastSeenRemoteID;
        } else if (hardware->aluminumRemoteSupportLevel == 2) {
            if (_lastSeenModel == RemoteModelUndetermined ||
                (_lastSeenModel == RemoteModelAluminium && _lastSeenModelRemoteID != _lastSeenRemoteID))
                _lastSeenModel = RemoteModelNotAluminium;
        }
    }
    if (code == RemoteButtonCenterHold && _lastSeenModel == RemoteModelAluminium)
        code = RemoteButtonPlayHold;
    _delegate->remoteDriverEventWithButton(*this, static_cast<RemoteButtonCode>(code & 0xFFDFFFFFu),
                                           isPressed, hardware->attributes);
}

PlistDictionary RemoteDriver::_pidAndUidDictionary() const
{
    return {{"pid", PlistValue::integer(m_processIdentifier)}, {"uid", PlistValue::integer(::getuid())}};
}

void RemoteDriver::_postStatusWithAction(const std::string& action)
{
    PlistArray unused;
    for (RemoteButtonCode code : _unusedButtonCodes)
        unused.push_back(PlistValue::integer(code));
    PlistDictionary info{
        {"RemoteDriverVersion", PlistValue::integer(1)},
        {"PID", PlistValue::integer(m_processIdentifier)},
        {"Mode", PlistValue::integer(_mode)},
        {"RemoteControlCount", PlistValue::integer(activeRemoteControlCount())},
        {"UnusedButtonCodes", PlistValue::array(std::move(unused))},
        {"Action", PlistValue::string(action)},
    };
    if (!m_bundleIdentifier.empty()) {
        info[bundleIdentifierKey] = PlistValue::string(m_bundleIdentifier);
        if (_returnToPID)
            info["ReturnToPID"] = PlistValue::integer(*_returnToPID);
    }
    m_notifications.post({statusNotification, std::to_string(m_processIdentifier), std::move(info)});
}

void RemoteDriver::setExclusiveLockLendingEnabled(bool enabled)
{
    if (enabled == _exclusiveLockLending)
        return;
    _exclusiveLockLending = enabled;
    if (enabled) {
        m_statusObserver = m_notifications.addObserver(
            statusNotification, {}, [this](const DistributedNotification& n) { _handleNotifications(n); });
    } else {
        m_statusObserver.release();
        _waitForReturnByPID.reset();
    }
}

void RemoteDriver::_handleNotifications(const DistributedNotification& notification)
{
    if (notification.name.empty())
        return;
    const PlistDictionary& info = notification.userInfo;

    if (notification.name == pingNotification)
        _postStatusWithAction("update");

    if (notification.name == retryNotification && isStarted()) {
        const std::optional<int64_t> lender = integerForKey(info, "PID");
        if (_delegate && !_delegate->remoteDriverShouldRetryExclusiveLockWithInfo(*this, info)) {
            const std::optional<int64_t> kept = _returnToPID;
            _returnToPID = lender;
            _postStatusWithAction("noneed");
            _returnToPID = kept;
        } else {
            const RemoteMode mode = _mode;
            stopRemoteControl();
            startRemoteControl(mode);
            if (mode != RemoteModeShared)
                _returnToPID = lender;
        }
    }

    if (!_exclusiveLockLending || notification.name != statusNotification)
        return;
    const std::string* actionValue = stringForKey(info, "Action");
    if (!actionValue)
        return;
    std::string action = *actionValue;
    const std::optional<int64_t> poster = integerForKey(info, "PID");
    std::optional<int64_t> returnTo = integerForKey(info, "ReturnToPID");

    if (!isStarted() && _waitForReturnByPID && poster) {
        if (action == "start" && *poster == *_waitForReturnByPID &&
            integerForKey(info, "Mode") == RemoteModeShared) {
            // The borrower no longer holds the receiver exclusively.
            action = "noneed";
            returnTo = m_processIdentifier;
        }
        if (returnTo && (action == "stop" || action == "noneed") && *poster == *_waitForReturnByPID &&
            *returnTo == m_processIdentifier) {
            _waitForReturnByPID.reset();
            if (_delegate && _delegate->handlesExclusiveLockReleased())
                _delegate->remoteDriverExclusiveLockReleasedByApplicationWithInfo(*this, info);
            else
                startRemoteControl(RemoteModeExclusive);
            return;
        }
    }

    if (_mode == RemoteModeExclusive && action == "start" && poster != m_processIdentifier) {
        if (_delegate && !_delegate->remoteDriverLendExclusiveLockToApplicationWithInfo(*this, info))
            return;
        if (!poster)
            return;
        _waitForReturnByPID = poster;
        stopRemoteControl();
        PlistDictionary retryInfo{{"PID", PlistValue::integer(m_processIdentifier)}};
        if (!m_bundleIdentifier.empty())
            retryInfo[bundleIdentifierKey] = PlistValue::string(m_bundleIdentifier);
        m_notifications.post({retryNotification, std::to_string(*_waitForReturnByPID), std::move(retryInfo)});
    }
}

void RemoteDriver::_updateSessionInformation()
{
    PlistPtr users = hid().rootProperty("IOConsoleUsers");
    if (!users || !users->isArray())
        return;
    int64_t pidSum = 0;
    int32_t frontUser = 0;
    for (const PlistPtr& user : *users->asArray()) {
        if (!user || !user->isDictionary())
            continue;
        if (auto secureInputPID = numberValue(user->objectForKey("kCGSSessionSecureInputPID"));
            secureInputPID && isNumber(user->objectForKey("kCGSSessionSecureInputPID")))
            pidSum += static_cast<int>(*secureInputPID);
        PlistPtr onConsole = user->objectForKey("kCGSSessionOnConsoleKey");
        PlistPtr userID = user->objectForKey("kCGSSessionUserIDKey");
        if (isNumber(onConsole) && isNumber(userID) && *numberValue(onConsole) != 0)
            frontUser = static_cast<int32_t>(*numberValue(userID));
    }
    _lastSecureEventInputPIDSum = pidSum;
    _lastFrontUserSession = frontUser;
}

void RemoteDriver::_secureInputNotificationFor(uint32_t messageType)
{
    if (messageType != HidService::messageServiceBusyStateChange)
        return;
    const int64_t pidSum = _lastSecureEventInputPIDSum;
    const int32_t frontUser = _lastFrontUserSession;
    _updateSessionInformation();
    if ((pidSum != _lastSecureEventInputPIDSum || frontUser != _lastFrontUserSession) &&
        _secureEventInputWorkAround && isExclusive(_mode)) {
        const RemoteMode mode = _mode;
        stopRemoteControl();
        startRemoteControl(mode);
    }
}
