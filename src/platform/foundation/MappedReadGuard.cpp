#include "platform/foundation/MappedReadGuard.h"

#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace {
// Read in the signal handler: initial-exec TLS needs no allocation there.
__attribute__((tls_model("initial-exec"))) thread_local unsigned t_guards = 0;
__attribute__((tls_model("initial-exec"))) thread_local unsigned t_faults = 0;

struct sigaction g_previous {};
uintptr_t g_pageSize = 4096;

void passOn(int signal, siginfo_t* info, void* context)
{
    if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
        g_previous.sa_sigaction(signal, info, context);
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
    } else {
        // Returning re-runs the faulting access, which now takes the default action.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signal, &fallback, nullptr);
    }
}

void onBusError(int signal, siginfo_t* info, void* context)
{
    if (t_guards > 0 && info && info->si_code == BUS_ADRERR) {
        // Only async-signal-safe calls here: mmap puts a page of zeros where the file's page was.
        void* page = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(info->si_addr) & ~(g_pageSize - 1));
        if (mmap(page, g_pageSize, PROT_READ | PROT_WRITE, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) !=
            MAP_FAILED) {
            ++t_faults;
            return;
        }
    }
    passOn(signal, info, context);
}

void installOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previous);
    });
}
} // namespace

MappedReadGuard::MappedReadGuard()
{
    installOnce();
    m_faultsBefore = t_faults;
    ++t_guards;
}

MappedReadGuard::~MappedReadGuard()
{
    --t_guards;
}

bool MappedReadGuard::fileShrank() const
{
    return t_faults != m_faultsBefore;
}
