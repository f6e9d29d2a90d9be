// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace kestrel::signals {
namespace {

// The one place a signal handler may write to: a lock-free atomic, process-wide by nature.
std::atomic<int> g_caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int signal) {
    int expected = 0;
    if (!g_caught.compare_exchange_strong(expected, signal)) {
        ::_exit(130);
    }
}

}  // namespace

void catchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

int caughtStopSignal() {
    return g_caught.load();
}

void clearCaughtStopSignal() {
    g_caught.store(0);
}

}  // namespace kestrel::signals
