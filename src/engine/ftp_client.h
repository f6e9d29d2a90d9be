#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrel {

struct AppContext;

// What the backup run and the restore need of an FTP session. The FTP client implements it;
// until a session can be made, runs to FTP destinations fail at the connection step.
class FtpClient {
public:
    static constexpr int kStateInitial = 1;

    virtual ~FtpClient() = default;
    // 1 while the session was never set up.
    virtual int connectionState() const = 0;
    virtual void SetupConnection(const std::string& host, std::int32_t port,
                                 const std::string& user, const std::string& password,
                                 bool passive) = 0;
    // Connects and logs in; false (with its own log lines) on failure.
    virtual bool EstablishConnection() = 0;
    // Downloads a remote file to a local path; 1 on success.
    virtual int GetFile(const std::string& remotePath, const std::string& localPath) = 0;
    virtual bool ChangeCurrentDirectory(const std::string& remoteFolder) = 0;
    // Uploads a local file into the remote folder under its own name.
    virtual bool StoreFile(const std::string& localPath, const std::string& remoteFolder) = 0;
};

// Makes the FTP session of a run or restore; may return null when no FTP client is available.
using FtpClientFactory = std::function<std::unique_ptr<FtpClient>(AppContext&)>;

}  // namespace kestrel
