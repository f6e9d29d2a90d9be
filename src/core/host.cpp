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

}  // namespace kestrel
