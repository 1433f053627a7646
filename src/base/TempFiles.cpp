#include "base/TempFiles.h"

#include "base/Error.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

enum SlotState : int { Free = 0, Writing, Registered, Removing };

struct Slot {
    std::atomic<int> state{Free};
    char path[PATH_MAX];
};

constexpr int kSlots = 64;
Slot g_slots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free states");

void RemoveRegisteredFiles(int signal)
{
    const int savedErrno = errno;
    for (Slot& slot : g_slots) {
        int expected = Registered;
        // A slot being released or rewritten is not touched.
        if (slot.state.compare_exchange_strong(expected, Removing))
            ::unlink(slot.path);
    }
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    errno = savedErrno;
    // Delivered when the handler returns, with the default action.
    ::raise(signal);
}

}  // namespace

CTempFileGuard::CTempFileGuard(const std::string& path)
{
    if (path.empty() || path.size() >= PATH_MAX)
        return;
    for (int i = 0; i < kSlots; ++i) {
        int expected = Free;
        if (g_slots[i].state.compare_exchange_strong(expected, Writing)) {
            std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
            g_slots[i].state.store(Registered);
            m_slot = i;
            return;
        }
    }
}

CTempFileGuard::~CTempFileGuard()
{
    if (m_slot < 0)
        return;
    int expected = Registered;
    // A slot the handler has taken stays taken: the program is ending.
    g_slots[m_slot].state.compare_exchange_strong(expected, Free);
}

bool RemoveTempFilesOnTermination()
{
    struct sigaction action {};
    action.sa_handler = RemoveRegisteredFiles;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            SetLastErrFromErrno();
            return false;
        }
    }
    return true;
}
