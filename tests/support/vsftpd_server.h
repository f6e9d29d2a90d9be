#pragma once

#include "support/server_process.h"

namespace kestrel::test {

// vsftpd for anonymous users (no password) whose "/upload" folder is writable; runs as root only.
class VsFtpServer : public FtpServerProgram {
public:
    VsFtpServer();
};

}  // namespace kestrel::test
