#pragma once

#include "platform/foundation/PlistDictionary.h"
#include "remote/RemoteButtonCode.h"

#include <cstdint>
#include <memory>

class Error;
class PlistValue;
using PlistPtr = std::shared_ptr<const PlistValue>;
class RemoteDriver;

// What the remote driver tells its delegate. Every message is optional: the defaults do nothing
// and answer as if the delegate had not been asked.
//
// `attributes` describe one receiver (a dictionary): "Service" (its number), "Product",
// "Manufacturer" and "Transport" when known, "AluminumRemoteSupportLevel", and
// "AluminumRemoteSupportLevelOnDemand" when that support was switched on for this process.
class RemoteDriverDelegate {
public:
    virtual ~RemoteDriverDelegate() = default;

    // One press or release of a button.
    virtual void remoteDriverEventWithButton(RemoteDriver& /*driver*/, RemoteButtonCode /*button*/,
                                             bool /*isPressed*/, const PlistPtr& /*attributes*/)
    {}
    // The remote's ID element reported `newID` (also when it equals `oldID`; -1 before any).
    virtual void remoteDriverRemoteIDChangedOldID(RemoteDriver& /*driver*/, int32_t /*oldID*/,
                                                  int32_t /*newID*/, const PlistPtr& /*attributes*/)
    {}

    // Replaces the driver's own decision whether `service` is a remote receiver.
    virtual bool remoteDriverInspectNewHardwareWithService(RemoteDriver& /*driver*/, uint32_t /*service*/,
                                                           bool prematchResult)
    {
        return prematchResult;
    }
    virtual void remoteDriverFoundNewHardwareWithAttributes(RemoteDriver& /*driver*/,
                                                            const PlistPtr& /*attributes*/)
    {}
    // `error` is null when the receiver was refused without a failing call.
    virtual void remoteDriverFailedNewHardwareWithError(RemoteDriver& /*driver*/, const Error* /*error*/) {}
    virtual void remoteDriverReleasedHardwareWithAttributes(RemoteDriver& /*driver*/,
                                                            const PlistPtr& /*attributes*/)
    {}

    // False: do not take the receiver another program lends, decline it.
    virtual bool remoteDriverShouldRetryExclusiveLockWithInfo(RemoteDriver& /*driver*/,
                                                              const PlistDictionary& /*info*/)
    {
        return true;
    }
    // False: keep the receiver, do not lend it.
    virtual bool remoteDriverLendExclusiveLockToApplicationWithInfo(RemoteDriver& /*driver*/,
                                                                    const PlistDictionary& /*info*/)
    {
        return true;
    }
    // The program the receiver was lent to is done with it. A delegate that handles this
    // (answers true below) decides whether to start again; otherwise the driver does.
    virtual bool handlesExclusiveLockReleased() const { return false; }
    virtual void remoteDriverExclusiveLockReleasedByApplicationWithInfo(RemoteDriver& /*driver*/,
                                                                        const PlistDictionary& /*info*/)
    {}
};
