#pragma once

#include "support/server_process.h"  // VsFtpServer is declared beside the other servers
