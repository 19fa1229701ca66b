#pragma once

// What a rating pass asks of the controller that opened it: the break menu, and acting on its
// choice once the menu has closed. The pass finds it as its parent controller; with a parent that
// offers no break menu, Menu does nothing.
class BreakMenuHost {
public:
    virtual ~BreakMenuHost();

    // Opens the break menu above the pass.
    virtual void showBreakMenu();
    // Acts on the choice of a break menu that has closed, if one was shown.
    virtual void checkBreakMenu();
};
