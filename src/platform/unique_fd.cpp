// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/unique_fd.h"

#include <unistd.h>

namespace kestrel {

void UniqueFd::reset(int fd) {
    if (m_fd >= 0 && m_fd != fd) {
        ::close(m_fd);
    }
    m_fd = fd;
}

bool UniqueFd::close() {
    const int fd = release();
    return fd < 0 || ::close(fd) == 0;
}

}  // namespace kestrel
