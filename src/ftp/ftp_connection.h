// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftp_client.h"
#include "ftp/ftp_socket.h"
#include "ftp/listing.h"
#include "ftp/reply_framer.h"

namespace kestrel {

class FileHandle;
class RunControl;

// One reply of the server: its code and its last line.
struct clsFTPAnswer {
    std::int32_t replycode = 0;
    std::string replytext;
};

// One FTP session with one server: log in, download and upload single files (passive mode,
// image type), list the current folder (passive or active), and change, create and remove
// folders. Replies are framed by lines as RFC 959 defines them. Over IPv6 the data connections
// are negotiated with EPSV and EPRT (RFC 2428).
class clsFTPConnection : public FtpClient {
public:
    static constexpr int kActiveDataPort = 14135;  // "PORT a,b,c,d,55,55"

    explicit clsFTPConnection(RunControl& rc);
    ~clsFTPConnection() override;

    State connectionState() const override { return m_state; }
    void SetupConnection(const std::string& host, std::int32_t port, const std::string& user,
                         const std::string& password, bool passive) override;
    void SetupTls(bool required, const std::string& pin) override;
    std::string serverFingerprint() const override { return m_fingerprint; }
    [[nodiscard]] bool EstablishConnection() override;
    [[nodiscard]] bool Connect(const std::string& host, std::int32_t port);
    [[nodiscard]] bool Login(std::string user, std::string password);
    bool Disconnect() override;

    // 1 downloaded, 2 the user kept an existing local file, 0 failed.
    [[nodiscard]] GetResult GetFile(const std::string& remotePath,
                                    const std::string& localPath) override;
    [[nodiscard]] bool StoreFileAs(const std::string& localPath,
                                   const std::string& remotePath) override;
    [[nodiscard]] bool RenameFile(const std::string& from, const std::string& to) override;
    [[nodiscard]] bool DeleteFile(const std::string& path) override;
    int lastReplyCode() const override { return m_lastReplyCode; }
    // The entries of the current remote folder; nothing on failure.
    [[nodiscard]] std::optional<std::vector<clsFTPFile>> GetFileList() override;
    // MLSD of the folder, where FEAT offers MLST with sizes and times; files only.
    [[nodiscard]] std::optional<std::vector<ExactEntry>> GetExactFileList(
        const std::string& folder) override;
    // MFMT, where FEAT offers it.
    bool SetModifiedTime(const std::string& path, std::int64_t modified) override;
    // The files of MLSD lines ("type=file;size=5;modify=20240101120000; a.txt"); entries
    // without a size or a time, and folders, are left out.
    static std::vector<ExactEntry> parseMachineListing(std::string_view lines);
    [[nodiscard]] std::string GetRootDir() override;
    [[nodiscard]] bool ChangeCurrentDirectory(const std::string& path) override;
    [[nodiscard]] bool CreateFTPDirectory(std::string& path) override;
    [[nodiscard]] bool DeleteFTPDirectory(std::string& path) override;

    // Waits for a reply with the expected code; returns it, or 0 when another final reply or
    // none came within timeoutMs. *answer receives the reply's last line.
    std::int32_t WaitAnswer(std::int32_t expected, std::string* answer = nullptr,
                            int timeoutMs = 5000);
    void ClearAnswers() { m_answers.clear(); }
    // Waits for the reply that starts a transfer: 150, or 125 when the server had the data
    // connection open already. Returns the code, or 0.
    std::int32_t WaitTransferStart(std::string* answer = nullptr);

    bool bPassiveMode = true;

    // The port of a 227 reply ("(h1,h2,h3,h4,p1,p2)" -> p1 * 256 + p2), 0 when there is none.
    static int passivePort(const std::string& line);
    // The port of a 229 reply ("(|||port|)"), 0 when there is none.
    static int extendedPassivePort(const std::string& line);
    // The size a 150 reply announces ("(2048 bytes)"), nothing when it gives none.
    static std::optional<std::int64_t> announcedSize(const std::string& line);

private:
    struct Reply {
        std::int32_t code = 0;
        std::string line;
        std::string whole;  // every line of it
    };
    std::optional<Reply> readReply(int timeoutMs);
    std::optional<Reply> takeReply();
    bool openDataConnection(int port);
    // AUTH TLS and the handshake on the control connection; false (logged) when the server
    // refuses or its certificate is neither trusted nor pinned.
    bool secureControl();
    bool certificateAccepted(const TlsSession& tls);
    // PBSZ 0 and PROT P after the login.
    bool protectData();
    // TLS on a fresh data connection, resuming the control connection's session.
    bool secureData();
    // CWD, MKD or RMD with "//" made "/" in the path (written back).
    bool folderCommand(const std::string& command, std::string& path, std::int32_t expected);
    // EPSV or PASV; false (logged) when the server gave no port.
    bool enterPassive(int* port);
    bool passiveGiven(int port);
    // Whether a download may write localPath: nothing when it may (an existing file the user
    // agreed to replace is gone), Kept when the user keeps it, Failed when it cannot be removed.
    std::optional<GetResult> claimLocalPath(const std::string& remotePath,
                                            const std::string& localPath);
    // PASV, TYPE I, SIZE and RETR, the data into local until the server closes, then its 226 and
    // the size it gave. On failure the data connection and the progress are closed and the
    // failure logged; the caller removes what reached local.
    bool retrieve(const std::string& remotePath, FileHandle& local);
    // The data connection of a finished transfer closed; true when the server confirmed it (226).
    bool endTransfer();
    // TYPE A or TYPE I, sent only when the session is in the other type: a run of transfers
    // pays for one, not two round trips per file.
    enum class DataType { Ascii, Image };
    void useType(DataType type);
    // After a transfer given up on this side: its data connection is closed and the server's
    // final reply to it read, so that it cannot be taken for the reply to the next command.
    void abandonTransfer();
    // SIZE: the size the server gives for a remote file, nothing when it does not tell.
    std::optional<std::int64_t> remoteSize(const std::string& path);
    // A listing command (LIST, MLSD) over a data connection: consume gets the bytes received
    // so far after each piece and, with a line end added, what is left at the end.
    bool listData(const std::string& command, const std::function<void(std::string&)>& consume);
    // FEAT, asked once per session, where a run first needs to know.
    void learnFeatures();

    RunControl& m_rc;
    clsFTPSocket ctrlSocket;
    clsFTPSocket sckData;
    State m_state = State::NotConnected;
    std::string m_host;
    std::int32_t m_port = 21;
    std::string m_user;
    std::string m_password;
    ReplyFramer m_framer;  // control bytes not yet framed into a reply
    std::vector<clsFTPAnswer> m_answers;
    int m_lastReplyCode = 0;
    DataType m_type = DataType::Ascii;  // what the server was last told (ASCII after login)
    bool m_epsvRefused = false;         // the server answered EPSV with 500 or 502
    bool m_featuresKnown = false;
    bool m_mlsd = false;  // MLST with size and modify facts
    bool m_mfmt = false;
    bool m_tlsRequired = false;
    std::string m_tlsPin;       // normalized, "" for none
    std::string m_fingerprint;  // of the certificate the server last showed
};

}  // namespace kestrel
