#include "remote/RemoteDriver.h"

bool RemoteDriver::isIRBridgeInstallationRequiredForRemoteMode(RemoteMode /*mode*/)
{
    return false;
}

bool RemoteDriver::startRemoteControl(RemoteMode mode)
{
    if (isStarted() || mode == RemoteModeNone)
        return false;
    _mode = mode;
    return true;
}

void RemoteDriver::stopRemoteControl()
{
    _mode = RemoteModeNone;
}
