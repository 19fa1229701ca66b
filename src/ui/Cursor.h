#pragma once

// The mouse pointer over the program's window. Two independent reasons hide it: full-screen
// presentation (counted: every hide is balanced by one unhide) and a button press (until the
// mouse next moves). The pointer shows only when neither holds.
class Cursor {
public:
    static void hide();
    static void unhide();
    static void setHiddenUntilMouseMoves(bool hidden);
    // Called for every mouse motion over the window.
    static void mouseMoved();

    static bool isVisible();
    static void resetForTesting();

private:
    static void apply();
};
