#include "Transaction.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/RunLoop.h"

#include <vector>

namespace {

struct Frame {
    bool implicit = false;
    std::optional<double> animationDuration;
    std::optional<bool> disableActions;
};

std::vector<Frame>& stack()
{
    static std::vector<Frame> s_stack;
    return s_stack;
}

// The implicit transaction sits at the bottom and ends with the current turn of the event loop.
Frame& currentFrame()
{
    auto& frames = stack();
    if (frames.empty()) {
        frames.push_back(Frame{true, {}, {}});
        RunLoop::performAfterDelay(0, [] {
            auto& open = stack();
            if (!open.empty() && open.front().implicit)
                open.erase(open.begin());
        });
    }
    return frames.back();
}

} // namespace

void Transaction::begin()
{
    QM_CASSERT(isMainThread(), "Transaction", "Main thread only!");
    stack().push_back(Frame{});
}

void Transaction::commit()
{
    auto& frames = stack();
    QM_CASSERT(!frames.empty() && !frames.back().implicit, "Transaction", "Commit without begin");
    frames.pop_back();
}

void Transaction::flush()
{}

void Transaction::setAnimationDuration(double seconds)
{
    currentFrame().animationDuration = seconds;
}

double Transaction::animationDuration()
{
    const auto& frames = stack();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        if (it->animationDuration)
            return *it->animationDuration;
    }
    return defaultAnimationDuration;
}

void Transaction::setDisableActions(bool disable)
{
    currentFrame().disableActions = disable;
}

bool Transaction::disableActions()
{
    const auto& frames = stack();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        if (it->disableActions)
            return *it->disableActions;
    }
    return false;
}

int Transaction::depthForTesting()
{
    return int(stack().size());
}
