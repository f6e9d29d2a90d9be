// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

namespace kestrel::terminal {

bool isTerminal(Stream stream) {
    return ::isatty(static_cast<int>(stream)) == 1;
}

std::optional<std::string> readSecretLine() {
    const bool tty = isTerminal(Stream::In);
    struct termios saved {};
    if (tty && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (tty) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << '\n';
    }
    if (!got) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace kestrel::terminal
