#pragma once

#include <optional>

class QNativeGestureEvent;

// The desktop delivers a touchpad swipe as a multi-finger pan gesture (begin, pans, end), never as
// a ready swipe. This adds up the pan of one gesture and, when it ends, hands over one swipe in its
// dominant direction.
class SwipeRecognizer {
public:
    // Deltas of one swipe: +1 or -1 on one axis, 0 on the other. dx > 0 is a swipe to the left,
    // dy > 0 a swipe up (the fingers' direction, in a y-up convention).
    struct Swipe {
        double dx = 0;
        double dy = 0;
    };

    // Returns the swipe when `event` ends a gesture that moved; nothing otherwise.
    std::optional<Swipe> handle(const QNativeGestureEvent& event);

private:
    double m_panX = 0; // pixels, y down, as the desktop reports them
    double m_panY = 0;
    bool m_inGesture = false;
};
