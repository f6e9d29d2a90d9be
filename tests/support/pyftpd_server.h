#pragma once

#include "support/server_process.h"

namespace kestrel::test {

// pyftpdlib (start folder "/"), user "user" with password "secret", writable.
class PyFtpServer : public FtpServerProgram {
public:
    PyFtpServer();
};

}  // namespace kestrel::test
