#pragma once

// The six buttons the whole interface is driven by, as the controllers receive them.
enum Button : int {
    ButtonUp = 0,
    ButtonDown = 1,
    ButtonLeft = 2,
    ButtonRight = 3,
    ButtonSelect = 4,
    ButtonMenu = 5,
};
