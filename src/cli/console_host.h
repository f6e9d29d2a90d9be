// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <ostream>

#include "core/host.h"

namespace kestrel {

// The host of the command-line front end and the service: log lines and messages go to the
// error stream, progress to a single updating line when that stream is a terminal. Nobody
// answers questions: each gets its safe default (options such as --overwrite decide in advance),
// so that an unattended run never hangs.
class ConsoleHost : public Host {
public:
    ConsoleHost(std::ostream& err, bool progressLine);

    void yield() override {}
    bool windowVisible() const override { return false; }
    // Nobody answers at a console: questions take their safe default and are noticed.
    bool canAsk() const override { return false; }
    void logLine(const std::string& stampedLine) override;
    void logLines(const std::vector<std::string>& stampedLines) override;
    void setStatusText(int, const std::string&) override {}
    void setCaptionSuffix(const std::string&) override {}
    void setTrayTip(const std::string&) override {}
    void showProgress(const std::string& title) override;
    void updateProgress(const std::string& title, const std::string& item, double filePercent,
                        double totalPercent) override;
    void closeProgress() override;
    MsgAnswer messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                         MsgAnswer safeDefault) override;
    void notice(const std::string& text, MsgIcon icon) override;

private:
    void clearProgressLine();

    std::ostream& m_err;
    bool m_progressLine;
    bool m_progressShown = false;
};

}  // namespace kestrel
