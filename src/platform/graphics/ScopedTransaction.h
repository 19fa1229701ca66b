#pragma once

// An explicit transaction for the lifetime of the object.
class ScopedTransaction {
public:
    ScopedTransaction();
    ~ScopedTransaction();
    ScopedTransaction(const ScopedTransaction&) = delete;
    ScopedTransaction& operator=(const ScopedTransaction&) = delete;

    // Seconds.
    void setAnimationDuration(double seconds);
    void setDisableActions(bool disable);
};
