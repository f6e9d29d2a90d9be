// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/headless_host.h"

namespace kestrel {

void HeadlessHost::yield() {
    // A tick that starts nothing may still log, and logging yields: serve the loop once.
    if (!m_yield || m_inYield) {
        return;
    }
    m_inYield = true;
    m_yield();
    m_inYield = false;
}

void HeadlessHost::logLine(const std::string& stampedLine) {
    m_err << stampedLine << '\n' << std::flush;
}

void HeadlessHost::notice(const std::string& text, MsgIcon) {
    if (m_notice) {
        m_notice(text);
    } else {
        m_err << text << '\n' << std::flush;
    }
}

}  // namespace kestrel
