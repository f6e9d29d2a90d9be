#pragma once

#include <functional>
#include <ostream>

#include "core/host.h"

namespace kestrel {

// The host of `kestrel` without a display: no windows; log lines go to the error stream (which
// the journal collects for the service), questions take their safe default and are logged, and
// every yield of a long run serves the program's own loop (the scheduler's ticks).
class HeadlessHost : public Host {
public:
    explicit HeadlessHost(std::ostream& err) : m_err(err) {}

    // What a yield serves; what a notice is written to (the program log).
    void setYieldHook(std::function<void()> hook) { m_yield = std::move(hook); }
    void setNoticeSink(std::function<void(const std::string&)> sink) { m_notice = std::move(sink); }

    void yield() override;
    bool windowVisible() const override { return false; }
    bool canAsk() const override { return false; }
    void logLine(const std::string& stampedLine) override;
    void setStatusText(int, const std::string&) override {}
    void setCaptionSuffix(const std::string&) override {}
    void setTrayTip(const std::string&) override {}
    void showProgress(const std::string&) override {}
    void updateProgress(const std::string&, const std::string&, double, double) override {}
    void closeProgress() override {}
    MsgAnswer messageBox(const std::string&, MsgIcon, MsgButtons, MsgAnswer safeDefault) override {
        return safeDefault;
    }
    void notice(const std::string& text, MsgIcon icon) override;

private:
    std::ostream& m_err;
    std::function<void()> m_yield;
    std::function<void(const std::string&)> m_notice;
    bool m_inYield = false;
};

}  // namespace kestrel
