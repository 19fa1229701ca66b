#pragma once

#include <cstdint>

// What the remote driver reports: the low byte names the button, flags mark a hold and the
// aluminium-only usages.
enum RemoteButtonCode : int32_t {
    RemoteButtonNone = 0x0,
    RemoteButtonUp = 0x1,
    RemoteButtonDown = 0x2,
    RemoteButtonLeft = 0x3,
    RemoteButtonRight = 0x4,
    RemoteButtonCenter = 0x5,
    RemoteButtonMenu = 0x6,
    RemoteButtonPlay = 0x7,
    RemoteButtonHoldFlag = 0x10000,
    RemoteButtonUpHold = 0x10001,
    RemoteButtonDownHold = 0x10002,
    RemoteButtonLeftHold = 0x10003,
    RemoteButtonRightHold = 0x10004,
    RemoteButtonCenterHold = 0x10005,
    RemoteButtonMenuHold = 0x10006,
    RemoteButtonPlayHold = 0x10007,
    RemoteButtonIDChanged = 0x60000,
    RemoteButtonAluminiumFlag = 0x200000,
};

enum RemoteMode : int32_t {
    RemoteModeNone = 0,
    RemoteModeShared = 1,
    RemoteModeExclusive = 2,
    RemoteModeExclusiveAuto = 3,
};

enum RemoteModel : int32_t {
    RemoteModelUndetermined = 0,
    RemoteModelNotAluminium = 1,
    RemoteModelAluminium = 2,
};
