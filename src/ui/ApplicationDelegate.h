#pragma once

// What screens may ask of the application: whether it is shutting down, to toggle full-screen
// presentation, and to quit. The application's delegate installs itself as the shared one.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;

    virtual bool isTerminating() const = 0;
    virtual void toggleFullScreen() = 0;
    // The application's quit command: the delegate decides when the process may end.
    virtual void terminate() = 0;

    // Null until a delegate is installed (and in tests without one).
    static ApplicationDelegate* shared();
    static void setShared(ApplicationDelegate* delegate);
};
