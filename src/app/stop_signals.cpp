// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/stop_signals.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/program.h"
#include "platform/signals.h"

namespace kestrel {

void watchStopSignals(ProgramEnv& env) {
    signals::catchStopSignals();
    env.stopRequested = [] { return signals::caughtStopSignal() != 0; };
    env.waitForStop = [](std::chrono::milliseconds atMost) {
        // A signal handler cannot wake a waiter: look every tenth of a second.
        const auto end = std::chrono::steady_clock::now() + atMost;
        while (signals::caughtStopSignal() == 0) {
            const auto left = end - std::chrono::steady_clock::now();
            if (left <= std::chrono::milliseconds(0)) {
                return false;
            }
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                left, std::chrono::milliseconds(100)));
        }
        return true;
    };
}

}  // namespace kestrel
