#include "platform/terminal.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>

namespace kestrel::terminal {
namespace {

std::atomic<bool>* g_interruptFlag = nullptr;  // only touched by the signal handler

extern "C" void onInterrupt(int) {
    if (g_interruptFlag == nullptr || g_interruptFlag->exchange(true)) {
        ::_exit(130);
    }
}

}  // namespace

bool isTerminal(Stream stream) {
    return ::isatty(static_cast<int>(stream)) == 1;
}

void setInterruptFlag(std::atomic<bool>* flag) {
    g_interruptFlag = flag;
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
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
