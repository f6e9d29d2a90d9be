// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/listing.h"

namespace kestrel {

class RunControl;

// What the backup run, the restore and the front ends need of an FTP session. clsFTPConnection
// implements it; tests put scripted sessions in its place.
class FtpClient {
public:
    // Where a session stands, with the values it has always had.
    enum class State { LoggedIn = 0, NotConnected = 1, Connected = 3 };

    virtual ~FtpClient() = default;
    virtual State connectionState() const = 0;
    virtual void SetupConnection(const std::string& host, std::int32_t port,
                                 const std::string& user, const std::string& password,
                                 bool passive) = 0;
    // Before EstablishConnection: whether the session must run inside TLS, and the
    // certificate fingerprint the user pinned ("" for none). Plain sessions ignore it.
    virtual void SetupTls(bool required, const std::string& pin) {
        (void)required;
        (void)pin;
    }
    // The SHA-256 fingerprint (normalizedFingerprint's form) of the certificate the server
    // last showed, also when it was refused; "" when none was shown.
    virtual std::string serverFingerprint() const { return ""; }
    // Connects and logs in; false (with its own log lines) on failure.
    [[nodiscard]] virtual bool EstablishConnection() = 0;
    virtual bool Disconnect() = 0;
    // What a download did, with the values it has always had.
    enum class GetResult { Failed = 0, Downloaded = 1, Kept = 2 };
    // Downloads a remote file to a local path; Kept when the user kept an existing local file.
    [[nodiscard]] virtual GetResult GetFile(const std::string& remotePath,
                                            const std::string& localPath) = 0;
    // Uploads a local file into the remote folder under its own name.
    [[nodiscard]] bool StoreFile(const std::string& localPath, const std::string& remoteFolder);
    // Uploads a local file under the remote path given. True only when the server confirmed
    // the transfer and, where it tells sizes, holds every byte. A transfer that failed, was
    // stopped or cancelled (the engine flags) may leave a partial remote file behind: the
    // caller removes it. A cancelled transfer leaves bCancelFile set for the caller to see.
    [[nodiscard]] virtual bool StoreFileAs(const std::string& localPath,
                                           const std::string& remotePath) = 0;
    // Renames a remote file (RNFR, RNTO); false when the server refused either step.
    [[nodiscard]] virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
    // Removes a remote file (DELE); false when the server refused.
    [[nodiscard]] virtual bool DeleteFile(const std::string& path) = 0;
    // The code of the last reply the server gave (0 before any): after a failed download, 550
    // tells a file the server refuses from a transfer that broke off.
    virtual int lastReplyCode() const { return 0; }
    // The entries of the current remote folder; nothing on failure.
    [[nodiscard]] virtual std::optional<std::vector<clsFTPFile>> GetFileList() = 0;
    // A file of a remote folder with the facts a listing gives exactly (MLSD): its size in
    // bytes and its last-write time to the second (seconds since 1970, UTC).
    struct ExactEntry {
        std::string name;
        std::int64_t size = 0;
        std::int64_t modified = 0;
    };
    // The files of a remote folder with their exact size and time, where the server lists them
    // so (MLSD, offered in its FEAT reply); nothing when it does not or the listing failed. A
    // listing with times to the minute or the day (LIST) is never taken for one.
    [[nodiscard]] virtual std::optional<std::vector<ExactEntry>> GetExactFileList(
        const std::string& folder) {
        (void)folder;
        return std::nullopt;
    }
    // Sets a remote file's last-write time (MFMT), where the server offers it; false otherwise.
    virtual bool SetModifiedTime(const std::string& path, std::int64_t modified) {
        (void)path;
        (void)modified;
        return false;
    }
    // The current remote folder, "" on failure.
    [[nodiscard]] virtual std::string GetRootDir() = 0;
    [[nodiscard]] virtual bool ChangeCurrentDirectory(const std::string& path) = 0;
    // Creating and removing a folder write the path as sent ("//" made "/") back to path.
    [[nodiscard]] virtual bool CreateFTPDirectory(std::string& path) = 0;
    [[nodiscard]] virtual bool DeleteFTPDirectory(std::string& path) = 0;
};

// Makes the FTP session of a run, a restore or a listing; may return null when no FTP client is
// available.
using FtpClientFactory = std::function<std::unique_ptr<FtpClient>(RunControl&)>;

// The factory of real sessions (clsFTPConnection).
std::unique_ptr<FtpClient> makeFtpClient(RunControl& rc);

// A certificate fingerprint as a user may type or paste it (hex digits, any case, with or
// without colons or blanks, an optional "SHA256:" before it) in the stored form: 64 lowercase
// hex digits. Nothing when it is not a SHA-256 fingerprint.
std::optional<std::string> normalizedFingerprint(std::string_view text);

// A remote path: folder and name joined by one "/" (an empty folder gives the name alone, so
// that it is taken relative to the session's current folder).
std::string remoteJoin(std::string_view folder, std::string_view name);

}  // namespace kestrel
