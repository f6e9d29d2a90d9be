// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/console_host.h"

#include <cstdio>

namespace kestrel {

ConsoleHost::ConsoleHost(std::ostream& err, bool progressLine)
    : m_err(err), m_progressLine(progressLine) {}

void ConsoleHost::clearProgressLine() {
    if (m_progressShown) {
        m_err << "\r\x1b[K";
        m_progressShown = false;
    }
}

void ConsoleHost::logLine(const std::string& stampedLine) {
    clearProgressLine();
    // One write per line: the error stream is unbuffered and a run logs a line per file.
    m_err << (stampedLine + '\n');
}

void ConsoleHost::logLines(const std::vector<std::string>& stampedLines) {
    clearProgressLine();
    std::string block;
    for (const std::string& line : stampedLines) {
        block += line;
        block += '\n';
    }
    m_err << block;
}

void ConsoleHost::showProgress(const std::string&) {}

void ConsoleHost::updateProgress(const std::string& title, const std::string& item,
                                 double filePercent, double totalPercent) {
    if (!m_progressLine) {
        return;
    }
    std::string shown =
        item.size() > 50 ? item.substr(0, 25) + "..." + item.substr(item.size() - 26) : item;
    char pct[64];
    std::snprintf(pct, sizeof pct, "%6.2f%% %6.2f%%", filePercent, totalPercent);
    m_err << "\r\x1b[K" << pct << "  " << title << ' ' << shown << std::flush;
    m_progressShown = true;
}

void ConsoleHost::closeProgress() {
    clearProgressLine();
}

MsgAnswer ConsoleHost::messageBox(const std::string& text, MsgIcon icon, MsgButtons,
                                  MsgAnswer safeDefault) {
    notice(text, icon);
    return safeDefault;
}

void ConsoleHost::notice(const std::string& text, MsgIcon icon) {
    clearProgressLine();
    const char* prefix = icon == MsgIcon::Critical ? "error: " : "";
    m_err << prefix << text << '\n';
}

}  // namespace kestrel
