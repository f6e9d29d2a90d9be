// SPDX-License-Identifier: GPL-3.0-or-later
#include <iostream>

#include "cli/cli_app.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
    kestrel::SystemClock clock;
    return kestrel::runCli(argc, argv, std::cout, std::cerr, clock);
}
