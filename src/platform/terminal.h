// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace kestrel::terminal {

enum class Stream { In = 0, Out = 1, Err = 2 };

// Whether the stream is connected to a terminal (a person can see it or answer on it).
bool isTerminal(Stream stream);

// Reads one line from standard input without echoing it when it is a terminal. Nothing at end
// of input.
std::optional<std::string> readSecretLine();

}  // namespace kestrel::terminal
