// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/host.h"

namespace kestrel {

MsgAnswer ask(Host& host, const std::string& text, MsgIcon icon, MsgButtons buttons,
              MsgAnswer safeDefault) {
    if (host.canAsk()) {
        return host.messageBox(text, icon, buttons, safeDefault);
    }
    host.notice(text, icon);
    return safeDefault;
}

void tell(Host& host, const std::string& text, MsgIcon icon) {
    if (host.canAsk()) {
        host.messageBox(text, icon, MsgButtons::Ok, MsgAnswer::Ok);
    } else {
        host.notice(text, icon);
    }
}

int choose(Host& host, const std::string& text, const std::vector<std::string>& choices,
           int safeDefault) {
    if (host.canAsk()) {
        return host.choiceBox(text, choices, safeDefault);
    }
    host.notice(text, MsgIcon::Question);
    return safeDefault;
}

void tellFailure(Host& host, const std::string& text, const std::string& details) {
    if (host.canAsk()) {
        host.failureBox(text, details);
    } else {
        host.notice(details.empty() ? text : text + "\n" + details, MsgIcon::Critical);
    }
}

}  // namespace kestrel
