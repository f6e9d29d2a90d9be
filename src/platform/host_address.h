// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestrel::net {

// Whether every address the host name (or literal address) resolves to is on the loopback or
// a private or link-local network, where traffic in clear stays off the internet. A name that
// does not resolve is not local.
bool hostIsLocal(const std::string& host);

}  // namespace kestrel::net
