#pragma once

#include <QNativeGestureEvent>
#include <QPointingDevice>

// One touchpad gesture event as the desktop delivers it: `delta` is the movement since the last
// event, in pixels, y down.
inline QNativeGestureEvent nativeGesture(Qt::NativeGestureType type, QPointF delta = {}, int fingerCount = 3)
{
    return QNativeGestureEvent(type, QPointingDevice::primaryPointingDevice(), fingerCount, QPointF(),
                               QPointF(), QPointF(), 0, delta);
}
