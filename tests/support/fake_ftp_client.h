// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ftp/ftp_client.h"

namespace kestrel {

class Host;

namespace test {

// A server's folders and files in memory for FakeFtpClient sessions (no socket): what it
// refuses, every call it got, and whether a call came while another one was still running.
struct FakeRemote {
    std::string start = "/";                                 // where a session starts
    std::map<std::string, std::vector<clsFTPFile>> folders;  // entries by folder
    std::map<std::string, std::string> files;                // contents by path
    bool refuseLogin = false;
    // The fingerprint of a certificate no authority vouches for: a TLS session that has not
    // pinned it fails, and tells it.
    std::string fingerprint;
    // Whether the server lists exact sizes and times and sets times (MLSD, MFMT), and the
    // times it set, by path (an upload or a rename leaves the time of neither behind).
    bool exactListing = false;
    std::map<std::string, std::int64_t> modified;
    bool dropped = false;            // the server went away after the login
    std::set<std::string> refused;   // paths no upload, download, rename or removal reaches
    std::vector<std::string> calls;  // "LIST /a", "STOR /b/x", "connect", ...
    int depth = 0;                   // calls running now
    bool reentered = false;
    int disconnects = 0;
    int sessions = 0;

    // A folder (and the folders above it), or a file with its content.
    void makeFolder(const std::string& path);
    void put(const std::string& path, const std::string& content);
    void remove(const std::string& path);
};

// What a server makes of a path ("//" is "/", no "/" at the end), and the folder it lies in.
std::string normalRemotePath(std::string path);
std::string remoteParentOf(const std::string& path);

// A folder or file entry as a listing gives it.
clsFTPFile ftpEntry(const std::string& name, bool folder, std::int64_t size = 0);

// A session on a FakeRemote; listings and folder changes yield to the host, as a real one waits.
class FakeFtpClient : public FtpClient {
public:
    explicit FakeFtpClient(FakeRemote& remote, Host* host = nullptr);

    State connectionState() const override;
    void SetupConnection(const std::string&, std::int32_t, const std::string&, const std::string&,
                         bool) override {}
    void SetupTls(bool required, const std::string& pin) override {
        m_tls = required;
        m_pin = pin;
    }
    std::string serverFingerprint() const override { return m_shown; }
    bool EstablishConnection() override;
    bool Disconnect() override;
    GetResult GetFile(const std::string& remotePath, const std::string& localPath) override;
    bool StoreFileAs(const std::string& localPath, const std::string& remotePath) override;
    bool RenameFile(const std::string& from, const std::string& to) override;
    bool DeleteFile(const std::string& path) override;
    int lastReplyCode() const override { return m_reply; }
    std::optional<std::vector<clsFTPFile>> GetFileList() override;
    std::optional<std::vector<ExactEntry>> GetExactFileList(const std::string& folder) override;
    bool SetModifiedTime(const std::string& path, std::int64_t modified) override;
    std::string GetRootDir() override;
    bool ChangeCurrentDirectory(const std::string& path) override;
    bool CreateFTPDirectory(std::string& path) override;
    bool DeleteFTPDirectory(std::string& path) override;

private:
    // Notes a call for as long as it runs.
    class Call {
    public:
        Call(FakeRemote& remote, std::string what);
        ~Call() { --m_remote.depth; }

    private:
        FakeRemote& m_remote;
    };
    bool reaches(const std::string& path);
    void yield();

    FakeRemote& m_remote;
    Host* m_host;
    State m_state = State::NotConnected;
    std::string m_cwd;
    int m_reply = 0;
    bool m_tls = false;
    std::string m_pin;
    std::string m_shown;
};

// Makes FakeFtpClient sessions on remote, where the windows and the engine take a factory.
FtpClientFactory fakeFtpFactory(FakeRemote& remote);

}  // namespace test
}  // namespace kestrel
