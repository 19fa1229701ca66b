#pragma once

#include "platform/foundation/Operation.h"

#include <functional>
#include <memory>
#include <utility>

// An operation whose work is a function of the operation itself, so a body can look at its own
// cancellation.
class CallOperation : public Operation {
public:
    explicit CallOperation(std::function<void(CallOperation&)> body)
        : m_body(std::move(body))
    {}

    static std::shared_ptr<CallOperation> make(std::function<void(CallOperation&)> body,
                                               QueuePriority priority = QueuePriority::Normal)
    {
        auto operation = std::make_shared<CallOperation>(std::move(body));
        operation->setQueuePriority(priority);
        return operation;
    }

protected:
    void main() override { m_body(*this); }

private:
    std::function<void(CallOperation&)> m_body;
};
