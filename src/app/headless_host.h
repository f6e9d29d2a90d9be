// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <ostream>

#include "core/host.h"

namespace kestrel {

// The host of `kestrel` without a display: no windows; log lines go to the error stream (which
// the journal collects for the service), questions take their safe default and are logged, and
// every yield of a long run serves the program's own loop (the scheduler's ticks).
class HeadlessHost : public NullHost {
public:
    explicit HeadlessHost(std::ostream& err) : m_err(err) {}

    // What a yield serves; what a notice is written to (the program log).
    void setYieldHook(std::function<void()> hook) { m_yield = std::move(hook); }
    void setNoticeSink(std::function<void(const std::string&)> sink) { m_notice = std::move(sink); }

    // Shows nothing else, and answers every question with its safe default.
    void yield() override;
    void logLine(const std::string& stampedLine) override;
    void notice(const std::string& text, MsgIcon icon) override;

private:
    std::ostream& m_err;
    std::function<void()> m_yield;
    std::function<void(const std::string&)> m_notice;
    bool m_inYield = false;
};

}  // namespace kestrel
