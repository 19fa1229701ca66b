#pragma once

#include "platform/foundation/Operation.h"

#include <functional>
#include <memory>

// One unit of the album data's work queue: a call recorded as a function object. The function
// owns whatever it captured (the album data object, an item record) until the operation goes
// away, so queued work keeps its target alive however long it waits.
//
// The library sits below the display subsystem and its invocation operations, so the work queue
// takes this plain operation instead.
class AlbumInfoOperation : public Operation {
public:
    explicit AlbumInfoOperation(std::function<void()> call);

    static std::shared_ptr<AlbumInfoOperation> create(std::function<void()> call);

protected:
    void main() override;

private:
    std::function<void()> m_call;
};
