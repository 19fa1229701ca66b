#pragma once

#include "remote/RemoteButtonCode.h"

#include <memory>

class PlistValue;
using PlistPtr = std::shared_ptr<const PlistValue>;
class RemoteDriver;

// What the remote driver tells its delegate. Every message is optional: the defaults do nothing.
class RemoteDriverDelegate {
public:
    virtual ~RemoteDriverDelegate() = default;

    // One press or release of a button; `attributes` (a dictionary) describe the receiver.
    virtual void remoteDriverEventWithButton(RemoteDriver& /*driver*/, RemoteButtonCode /*button*/,
                                             bool /*isPressed*/, const PlistPtr& /*attributes*/)
    {}
};
