#include "support/fake_host.h"

namespace kestrel::test {

MsgAnswer FakeHost::messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                               MsgAnswer safeDefault) {
    boxes.push_back({text, icon, buttons});
    if (answers.empty()) {
        return safeDefault;
    }
    const MsgAnswer a = answers.front();
    answers.pop_front();
    return a;
}

}  // namespace kestrel::test
