#pragma once

// Tells the desktop session that the user is active, so the screen saver and power management
// leave a screen alone that is being watched from across the room. Best effort: it never blocks
// and ignores every failure; without a session bus it does nothing.
class UserActivity {
public:
    static void report();
};
