#pragma once

#include "support/server_process.h"  // PyFtpServer is declared beside the other servers
