#pragma once

#include <optional>

// Settings for the implicit animations of layer changes, nested like brackets. A setting made
// outside any begin()/commit() pair applies until the event loop's next turn, as an implicit
// transaction. Main thread only: background work hands its layer changes to the main thread.
class Transaction {
public:
    // Seconds an implicit animation lasts when no transaction says otherwise.
    static constexpr double defaultAnimationDuration = 0.25;

    static void begin();
    static void commit();
    // Changes reach the screen at the host's next repaint anyway; kept so callers can say that
    // they want them shown at once.
    static void flush();

    // Seconds; the innermost transaction that set a duration decides.
    static void setAnimationDuration(double seconds);
    static double animationDuration();

    static void setDisableActions(bool disable);
    static bool disableActions();

    // Number of open transactions, implicit one included.
    static int depthForTesting();
};
