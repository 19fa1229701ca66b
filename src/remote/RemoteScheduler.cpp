#include "remote/RemoteScheduler.h"

#include "platform/foundation/RunLoop.h"

namespace {
class RunLoopScheduler : public RemoteScheduler {
public:
    std::function<void()> schedule(double seconds, std::function<void()> call) override
    {
        DelayedRequest request = RunLoop::performAfterDelay(seconds, std::move(call));
        return [request]() mutable { request.cancel(); };
    }
};
} // namespace

RemoteScheduler& RemoteScheduler::runLoop()
{
    static RunLoopScheduler scheduler;
    return scheduler;
}
