#include "platform/foundation/MainThread.h"

#include <thread>

namespace {
// Static initialisation runs on the process's first thread, before main().
const std::thread::id mainThreadId = std::this_thread::get_id();
} // namespace

bool isMainThread()
{
    return std::this_thread::get_id() == mainThreadId;
}
