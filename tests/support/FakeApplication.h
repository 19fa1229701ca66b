#pragma once

#include "ui/ApplicationDelegate.h"

// Stands in for the application while it lives: counts what screens ask of it.
class FakeApplication : public ApplicationDelegate {
public:
    FakeApplication() { ApplicationDelegate::setShared(this); }
    ~FakeApplication() override { ApplicationDelegate::setShared(nullptr); }
    FakeApplication(const FakeApplication&) = delete;
    FakeApplication& operator=(const FakeApplication&) = delete;

    bool isTerminating() const override { return terminating; }
    void toggleFullScreen() override { ++toggles; }
    void terminate() override { ++terminations; }

    bool terminating = false;
    int toggles = 0;
    int terminations = 0;
};
