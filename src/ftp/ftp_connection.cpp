// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/ftp_connection.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/run_control.h"
#include "platform/file_handle.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr int kDataInactivityMs = 60'000;  // a data connection silent this long has failed
constexpr int kTransferEndMs = 60'000;     // the 226 after a transfer may take a while
constexpr const char* kAnonymousPassword = "kestrel@localhost";
// No server's reply comes near this; one that grows past it without ending is not a reply.
constexpr size_t kMaxReplyBytes = 1 << 20;

// The progress window of a transfer, opened on "verb: path" with the log told the same.
void beginProgress(RunControl& rc, const char* verbKey, const std::string& path) {
    const std::string title = rc.msg(verbKey) + "...";
    rc.showProgress(title);
    rc.updateProgress(title, path, 0, 0);
    rc.WriteLog(rc.msg(verbKey) + ": " + path);
}

void stepProgress(RunControl& rc, const char* titleKey, const std::string& host,
                  const std::string& path, std::int64_t done, double total) {
    const double pct = 100.0 * static_cast<double>(done) / total;
    rc.updateProgress(rc.format(titleKey, {{"%h", host}}), path, pct, pct);
}

}  // namespace

clsFTPConnection::clsFTPConnection(RunControl& rc) : m_rc(rc), ctrlSocket(&rc), sckData(nullptr) {}

clsFTPConnection::~clsFTPConnection() = default;

void clsFTPConnection::SetupConnection(const std::string& host, std::int32_t port,
                                       const std::string& user, const std::string& password,
                                       bool passive) {
    m_host = host;
    m_port = port;
    m_user = user;
    m_password = password;
    bPassiveMode = passive;
}

void clsFTPConnection::SetupTls(bool required, const std::string& pin) {
    m_tlsRequired = required;
    // A pin that is no fingerprint matches no certificate.
    m_tlsPin = pin.empty() ? "" : normalizedFingerprint(pin).value_or(pin);
}

bool clsFTPConnection::EstablishConnection() {
    return Connect(m_host, m_port) && Login(m_user, m_password);
}

std::optional<clsFTPConnection::Reply> clsFTPConnection::takeReply() {
    auto reply = m_framer.take();
    if (!reply) {
        return std::nullopt;
    }
    ctrlSocket.echoReply(reply->whole);
    m_lastReplyCode = reply->code;
    return Reply{reply->code, std::move(reply->line), std::move(reply->whole)};
}

std::optional<clsFTPConnection::Reply> clsFTPConnection::readReply(int timeoutMs) {
    const std::uint64_t start = m_rc.clock.tickMs();
    for (;;) {
        if (auto reply = takeReply()) {
            return reply;
        }
        const auto elapsed = static_cast<int>(m_rc.clock.tickMs() - start);
        if (elapsed >= timeoutMs) {
            return std::nullopt;
        }
        const TcpSocket::Read r =
            ctrlSocket.receive(m_framer.pending(), std::min(timeoutMs - elapsed, 100));
        if (r == TcpSocket::Read::Closed || r == TcpSocket::Read::Failed) {
            return takeReply();
        }
        if (m_framer.pending().size() > kMaxReplyBytes) {
            if (auto reply = takeReply()) {
                return reply;
            }
            // Not an FTP server, or a broken one: nothing more it says can be trusted.
            m_framer.clear();
            ctrlSocket.FTPDisconnect();
            return std::nullopt;
        }
        m_rc.host.yield();
    }
}

std::int32_t clsFTPConnection::WaitAnswer(std::int32_t expected, std::string* answer,
                                          int timeoutMs) {
    for (const clsFTPAnswer& a : m_answers) {
        if (a.replycode == expected) {
            if (answer != nullptr) {
                *answer = a.replytext;
            }
            return expected;
        }
    }
    const std::uint64_t start = m_rc.clock.tickMs();
    for (;;) {
        const auto elapsed = static_cast<int>(m_rc.clock.tickMs() - start);
        auto reply = readReply(timeoutMs - elapsed);
        if (!reply) {
            return 0;
        }
        m_answers.push_back({reply->code, reply->line});
        if (reply->code == expected) {
            if (answer != nullptr) {
                *answer = reply->line;
            }
            return expected;
        }
        // A preliminary reply may precede the awaited one; any other final reply ends the wait.
        if (!(reply->code / 100 == 1 && expected / 100 != 1)) {
            return 0;
        }
    }
}

std::int32_t clsFTPConnection::WaitTransferStart(std::string* answer) {
    auto reply = readReply(5000);
    if (!reply) {
        return 0;
    }
    m_answers.push_back({reply->code, reply->line});
    if (answer != nullptr) {
        *answer = reply->line;
    }
    return reply->code == 150 || reply->code == 125 ? reply->code : 0;
}

bool clsFTPConnection::Connect(const std::string& host, std::int32_t port) {
    m_host = host;
    m_port = port;
    if (m_state != State::NotConnected) {
        return false;
    }
    m_framer.clear();
    m_epsvRefused = false;
    std::string error;
    if (!ctrlSocket.FTPConnect(host, port, &error)) {
        m_rc.WriteLog(m_rc.format("strMsgFtpConnectError", {{"%e", error}}));
        return false;
    }
    for (int i = 0; i < 10; ++i) {
        if (WaitAnswer(220) == 220) {
            break;
        }
        m_rc.WriteLog(m_rc.msg("strMsgNoWelcome"));
        m_rc.host.yield();
        if (!ctrlSocket.isOpen()) {
            break;
        }
    }
    ClearAnswers();
    if (m_tlsRequired && !secureControl()) {
        ctrlSocket.FTPDisconnect();
        return false;
    }
    m_state = State::Connected;
    return true;
}

bool clsFTPConnection::secureControl() {
    m_fingerprint.clear();
    ctrlSocket.sendData("AUTH TLS");
    const bool accepted = WaitAnswer(234) == 234;
    ClearAnswers();
    if (!accepted) {
        m_rc.WriteLog(m_rc.format("strMsgFtpTlsRefused", {{"%h", m_host}}));
        return false;
    }
    // Whatever came in clear after the 234 cannot be taken as said inside TLS.
    m_framer.clear();
    std::string error;
    if (!ctrlSocket.startTls(m_host, nullptr, &error)) {
        if (ctrlSocket.tls() != nullptr) {
            m_fingerprint = ctrlSocket.tls()->fingerprint();
        }
        m_rc.WriteLog(m_rc.format("strMsgFtpTlsFailed", {{"%h", m_host}, {"%e", error}}));
        return false;
    }
    return certificateAccepted(*ctrlSocket.tls());
}

bool clsFTPConnection::certificateAccepted(const TlsSession& tls) {
    m_fingerprint = tls.fingerprint();
    // A certificate the system trusts for this host needs no pin; any other only the pinned one.
    if (tls.trusted() || (!m_tlsPin.empty() && m_fingerprint == m_tlsPin)) {
        return true;
    }
    m_rc.WriteLog(m_rc.format(m_tlsPin.empty() ? "strMsgFtpCertUntrusted" : "strMsgFtpCertChanged",
                              {{"%h", m_host}, {"%s", m_fingerprint}}));
    return false;
}

bool clsFTPConnection::protectData() {
    ctrlSocket.sendData("PBSZ 0");
    bool ok = WaitAnswer(200) == 200;
    ClearAnswers();
    if (ok) {
        ctrlSocket.sendData("PROT P");
        ok = WaitAnswer(200) == 200;
        ClearAnswers();
    }
    if (!ok) {
        m_rc.WriteLog(m_rc.format("strMsgFtpTlsFailed", {{"%h", m_host}, {"%e", "PROT P"}}));
    }
    return ok;
}

bool clsFTPConnection::secureData() {
    if (!m_tlsRequired) {
        return true;
    }
    std::string error;
    if (sckData.startTls(m_host, &ctrlSocket, &error)) {
        // The data connection must reach the server the control connection checked.
        const TlsSession& tls = *sckData.tls();
        if (tls.resumed() || tls.fingerprint() == m_fingerprint) {
            return true;
        }
        error = m_rc.format("strMsgFtpCertChanged", {{"%h", m_host}, {"%s", tls.fingerprint()}});
    }
    m_rc.WriteLog(m_rc.format("strMsgFtpTlsFailed", {{"%h", m_host}, {"%e", error}}));
    sckData.FTPDisconnect();
    return false;
}

bool clsFTPConnection::Login(std::string user, std::string password) {
    m_user = user;
    m_password = password;
    // Never a user name or password in clear when TLS is asked for.
    if (m_state != State::Connected || (m_tlsRequired && ctrlSocket.tls() == nullptr)) {
        return false;
    }
    if (user.empty()) {
        user = "anonymous";
        password = kAnonymousPassword;
    }
    ctrlSocket.sendData("USER " + user);
    auto reply = readReply(5000);
    std::int32_t code = reply ? reply->code : 0;
    m_rc.WriteLog(">...Login," + std::to_string(code) + "," +
                  std::to_string(static_cast<int>(m_state)));
    if (code == 331) {
        ctrlSocket.sendData("pass " + password);
        reply = readReply(5000);
        code = reply ? reply->code : 0;
        m_rc.WriteLog(">...Login," + std::to_string(code) + "," +
                      std::to_string(static_cast<int>(m_state)));
    }
    // Servers that let a user in without a password answer "USER" with 230 at once.
    if (code == 230 && (!m_tlsRequired || protectData())) {
        m_state = State::LoggedIn;
        m_type = DataType::Ascii;
    }
    ClearAnswers();
    return m_state == State::LoggedIn;
}

bool clsFTPConnection::Disconnect() {
    if (m_state != State::Connected && m_state != State::LoggedIn) {
        return false;
    }
    ctrlSocket.sendData("QUIT");
    sckData.FTPDisconnect();
    ctrlSocket.FTPDisconnect();
    m_state = State::NotConnected;
    return true;
}

int clsFTPConnection::passivePort(const std::string& line) {
    const size_t open = line.find('(');
    const size_t close = line.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return 0;
    }
    const std::vector<std::string> parts =
        text::split(line.substr(open + 1, close - open - 1), ',');
    if (parts.size() < 6) {
        return 0;
    }
    auto high = text::parseInt(parts[4]);
    auto low = text::parseInt(parts[5]);
    if (!high || !low || *high < 0 || *high > 255 || *low < 0 || *low > 255) {
        return 0;
    }
    return static_cast<int>(*high * 256 + *low);
}

std::optional<std::int64_t> clsFTPConnection::announcedSize(const std::string& line) {
    const size_t open = line.find('(');
    const size_t close = line.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) {
        return std::nullopt;
    }
    const std::string inside =
        text::replaceAll(line.substr(open + 1, close - open - 1), "bytes", "");
    auto n = text::parseInt(inside);
    if (!n || *n < 0) {
        return std::nullopt;
    }
    return n;
}

int clsFTPConnection::extendedPassivePort(const std::string& line) {
    const size_t open = line.find('(');
    const size_t close = line.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos || close - open < 6) {
        return 0;
    }
    // "(|||port|)": one delimiter, any printable character, four times around the port.
    const std::string inside = line.substr(open + 1, close - open - 1);
    const char d = inside[0];
    if (d < 33 || d > 126 || inside[1] != d || inside[2] != d || inside.back() != d) {
        return 0;
    }
    const std::string digits = inside.substr(3, inside.size() - 4);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    auto port = text::parseInt(digits);
    return port && *port > 0 && *port <= 65535 ? static_cast<int>(*port) : 0;
}

bool clsFTPConnection::enterPassive(int* port) {
    std::string line;
    // PASV names an IPv4 address, so an IPv6 session asks for EPSV first; a server that does not
    // know it is asked once per session.
    if (ctrlSocket.isIpv6() && !m_epsvRefused) {
        ctrlSocket.sendData("EPSV");
        if (WaitAnswer(229, &line) == 229) {
            *port = extendedPassivePort(line);
            return passiveGiven(*port);
        }
        if (m_lastReplyCode != 500 && m_lastReplyCode != 502) {
            m_rc.WriteLog(m_rc.msg("strMsgFailedToEnterPassiveMode"));
            return false;
        }
        m_epsvRefused = true;
        ClearAnswers();
    }
    ctrlSocket.sendData("PASV");
    if (WaitAnswer(227, &line) != 227) {
        m_rc.WriteLog(m_rc.msg("strMsgFailedToEnterPassiveMode"));
        return false;
    }
    *port = passivePort(line);
    return passiveGiven(*port);
}

bool clsFTPConnection::passiveGiven(int port) {
    // Without a port no transfer command is sent, so no reply to it can be taken for the next.
    if (port <= 0) {
        ClearAnswers();
        m_rc.WriteLog(m_rc.msg("strMsgFailedToEnterPassiveMode"));
    }
    return port > 0;
}

bool clsFTPConnection::openDataConnection(int port) {
    // The data connection goes to the server the control connection reached, whatever address
    // the reply named.
    std::string peer = ctrlSocket.peerAddress();
    if (peer.empty()) {
        peer = m_host;
    }
    const std::uint64_t start = m_rc.clock.tickMs();
    for (;;) {
        if (port > 0 && sckData.SimpleConnect(peer, port)) {
            return secureData();
        }
        if (port <= 0 || m_rc.clock.tickMs() - start > 5000) {
            m_rc.WriteLog(m_rc.msg("strMsgFailCreateDC"));
            return false;
        }
        m_rc.host.yield();
    }
}

std::optional<FtpClient::GetResult> clsFTPConnection::claimLocalPath(const std::string& remotePath,
                                                                     const std::string& localPath) {
    if (!fs::exists(localPath)) {
        return std::nullopt;
    }
    // A file in a working folder may always be replaced: the safe default is Yes.
    const MsgAnswer a =
        ask(m_rc.host, m_rc.format("strMsgFileExistsOverWrite", {{"%d", localPath}}),
            MsgIcon::Question, MsgButtons::YesNo, MsgAnswer::Yes);
    if (a != MsgAnswer::Yes) {
        return GetResult::Kept;
    }
    std::string error;
    if (!fs::removeFile(localPath, &error)) {
        m_rc.WriteLog(m_rc.format("strMsgDownloadFailed", {{"%d", remotePath}}) + " (" + error +
                      ")");
        return GetResult::Failed;
    }
    return std::nullopt;
}

bool clsFTPConnection::retrieve(const std::string& remotePath, FileHandle& local) {
    auto failed = [&](bool log) {
        sckData.FTPDisconnect();
        ClearAnswers();
        m_rc.closeProgress();
        if (log) {
            m_rc.WriteLog(m_rc.format("strMsgDownloadFailed", {{"%d", remotePath}}));
        }
        return false;
    };
    int port = 0;
    if (!enterPassive(&port)) {
        return failed(false);
    }
    useType(DataType::Image);
    // What the server says the file holds, asked before the transfer: a server that ends a
    // transfer early may still confirm it, and a short catalogue must not pass for a whole one.
    const std::optional<std::int64_t> sized = remoteSize(remotePath);
    ctrlSocket.sendData("RETR " + remotePath);
    if (!openDataConnection(port)) {
        return failed(false);
    }
    std::string line;
    if (WaitTransferStart(&line) == 0) {
        return failed(true);
    }
    // The answer to SIZE counts before the 150's announcement, which some servers round.
    const std::optional<std::int64_t> expected = sized ? sized : announcedSize(line);
    beginProgress(m_rc, "strMsgDownloadingFile", remotePath);

    // Data until the server closes the connection.
    std::int64_t received = 0;
    std::string block;
    for (;;) {
        block.clear();
        const TcpSocket::Read r = sckData.receive(block, kDataInactivityMs);
        if (r == TcpSocket::Read::Closed) {
            break;
        }
        if (r != TcpSocket::Read::Data) {
            return failed(true);
        }
        const auto n = static_cast<std::int64_t>(block.size());
        if (local.writeAt(block.data(), n, received) != n) {
            m_rc.WriteLog(m_rc.msg("strMsgErrorWritingFile") + " (" + local.status().text() + ")");
            return failed(false);
        }
        received += n;
        if (m_rc.flags.bPauseBackup) {
            WaitWhilePaused(m_rc);
        }
        if (m_rc.flags.stopping()) {
            abandonTransfer();
            return failed(false);
        }
        if (expected && *expected > 0) {
            stepProgress(m_rc, "strMsgDownloadingFrom", m_host, remotePath, received,
                         static_cast<double>(*expected));
        }
        m_rc.host.yield();
    }
    const bool confirmed = endTransfer();
    // A transfer the server confirms must also have brought every byte it announced.
    if (confirmed && expected && *expected != received) {
        m_rc.WriteLog(
            m_rc.format("strMsgDownloadSizeMismatch", {{"%d", remotePath},
                                                       {"%s", std::to_string(received)},
                                                       {"%i", std::to_string(*expected)}}));
    }
    if (!confirmed || (expected && *expected != received)) {
        return failed(true);
    }
    if (!local.sync()) {
        m_rc.WriteLog(m_rc.msg("strMsgErrorWritingFile") + " (" + local.status().text() + ")");
        return failed(true);
    }
    return true;
}

FtpClient::GetResult clsFTPConnection::GetFile(const std::string& remotePath,
                                               const std::string& localPath) {
    if (auto refused = claimLocalPath(remotePath, localPath)) {
        return *refused;
    }
    if (m_state != State::LoggedIn || !bPassiveMode) {
        return GetResult::Failed;
    }
    FileHandle local;
    if (!local.open(localPath, FileHandle::Mode::Write)) {
        m_rc.WriteLog("ERROR:clsFile.fOpen()->" + local.status().text() + "---" + localPath);
        return GetResult::Failed;
    }
    const bool received = retrieve(remotePath, local);
    local.close();
    if (!received) {
        fs::removeLeftover(localPath);  // a partial download must not pass for the file
        return GetResult::Failed;
    }
    m_rc.WriteLog(m_rc.format("strMsgDownloadOK", {{"%f", remotePath}}));
    m_rc.closeProgress();
    return GetResult::Downloaded;
}

bool clsFTPConnection::StoreFileAs(const std::string& localPath, const std::string& remotePath) {
    FileHandle local;
    if (!local.open(localPath, FileHandle::Mode::Read, true)) {
        m_rc.WriteLog("ERROR:clsFile.fOpen()->" + local.status().text() + "---" + localPath);
        return false;
    }
    if (m_state != State::LoggedIn || !bPassiveMode) {
        return false;
    }
    const std::int64_t size = local.size().value_or(0);
    useType(DataType::Image);
    int port = 0;
    if (!enterPassive(&port)) {
        return false;
    }
    const std::string& remote = remotePath;
    ctrlSocket.sendData("stor " + remote);
    if (!openDataConnection(port)) {
        return false;
    }
    if (WaitTransferStart() == 0) {
        sckData.FTPDisconnect();
        return false;
    }
    beginProgress(m_rc, "strMsgUploadingFile", localPath);

    const double total = static_cast<double>(size) + 1;
    std::int64_t position = 0;
    std::string block(1024 * 1024, '\0');
    bool readFailed = false;
    for (;;) {
        const std::int64_t n =
            local.readAt(block.data(), static_cast<std::int64_t>(block.size()), position);
        if (n < 0) {
            readFailed = true;
            m_rc.WriteLog("ERROR:" + local.status().text() + "---" + localPath);
        }
        if (n < 1) {
            break;
        }
        if (!sckData.sendBinaryData(std::string_view(block.data(), static_cast<size_t>(n)))) {
            break;
        }
        position += n;
        if (m_rc.flags.bPauseBackup) {
            WaitWhilePaused(m_rc);
        }
        // Closing the data connection is how a stream upload ends, so the server takes what
        // came for the whole file: the caller removes it.
        if (m_rc.flags.stopping() || m_rc.flags.bCancelFile) {
            abandonTransfer();
            m_rc.closeProgress();
            return false;
        }
        stepProgress(m_rc, "strMsgUploadingTO", m_host, localPath, position, total);
    }
    bool ok = endTransfer() && position == size && !readFailed;
    if (ok) {
        // The server's idea of the size, where it tells it, must be the file's.
        const std::optional<std::int64_t> stored = remoteSize(remote);
        if (stored && *stored != size) {
            m_rc.WriteLog(m_rc.format(
                "strMsgUploadSizeMismatch",
                {{"%d", remote}, {"%s", std::to_string(*stored)}, {"%i", std::to_string(size)}}));
            ok = false;
        }
    }
    m_rc.closeProgress();
    return ok;
}

bool clsFTPConnection::RenameFile(const std::string& from, const std::string& to) {
    if (m_state != State::LoggedIn) {
        return false;
    }
    ctrlSocket.sendData("RNFR " + from);
    bool ok = WaitAnswer(350) == 350;
    ClearAnswers();
    if (ok) {
        ctrlSocket.sendData("RNTO " + to);
        ok = WaitAnswer(250) == 250;
        ClearAnswers();
    }
    return ok;
}

bool clsFTPConnection::DeleteFile(const std::string& path) {
    if (m_state != State::LoggedIn) {
        return false;
    }
    ctrlSocket.sendData("DELE " + path);
    const bool ok = WaitAnswer(250) == 250;
    ClearAnswers();
    return ok;
}

std::optional<std::int64_t> clsFTPConnection::remoteSize(const std::string& path) {
    std::string line;
    ctrlSocket.sendData("SIZE " + path);
    const bool told = WaitAnswer(213, &line) == 213;
    ClearAnswers();
    if (!told || line.size() < 5) {
        return std::nullopt;
    }
    const std::string_view value = text::trimSpace(std::string_view(line).substr(4));
    auto n = text::parseInt(value);
    if (!n || *n < 0) {
        return std::nullopt;
    }
    return n;
}

bool clsFTPConnection::endTransfer() {
    sckData.FTPDisconnect();
    const bool confirmed = WaitAnswer(226, nullptr, kTransferEndMs) == 226;
    ClearAnswers();
    return confirmed;
}

void clsFTPConnection::useType(DataType type) {
    if (m_type == type) {
        return;
    }
    ctrlSocket.sendData(type == DataType::Image ? "TYPE I" : "TYPE A");
    if (WaitAnswer(200) == 200) {
        m_type = type;
    }
    ClearAnswers();
}

void clsFTPConnection::abandonTransfer() {
    sckData.FTPDisconnect();
    // 426 or 226, whichever the server makes of it; a server that says nothing is waited for
    // only briefly.
    const std::uint64_t start = m_rc.clock.tickMs();
    for (;;) {
        const auto elapsed = static_cast<int>(m_rc.clock.tickMs() - start);
        auto reply = readReply(std::max(0, 5000 - elapsed));
        if (!reply || reply->code / 100 != 1) {
            break;
        }
    }
    ClearAnswers();
}

std::optional<std::vector<clsFTPFile>> clsFTPConnection::GetFileList() {
    std::vector<clsFTPFile> list;
    if (!listData("LIST", [&](std::string& pending) { ParseListing(pending, list); })) {
        return std::nullopt;
    }
    return list;
}

bool clsFTPConnection::listData(const std::string& command,
                                const std::function<void(std::string&)>& consume) {
    if (m_state != State::LoggedIn) {
        return false;
    }
    useType(DataType::Ascii);
    TcpListener listener;
    if (bPassiveMode) {
        int port = 0;
        if (!enterPassive(&port)) {
            return false;
        }
        ctrlSocket.sendData(command);
        if (!openDataConnection(port)) {
            return false;
        }
    } else {
        // The server reaches this end at the address of the control connection.
        const std::string own = ctrlSocket.localAddress();
        // The usual port may be taken (another listing, another program): then any free one.
        if (!listener.listen(own, kActiveDataPort) && !listener.listen(own, 0)) {
            m_rc.WriteLog(m_rc.msg("strMsgFailCreateDC"));
            return false;
        }
        const int port = listener.port();
        if (ctrlSocket.isIpv6()) {
            ctrlSocket.sendData("EPRT |2|" + own + "|" + std::to_string(port) + "|");
        } else {
            ctrlSocket.sendData("PORT " + text::replaceAll(own, ".", ",") + "," +
                                std::to_string(port / 256) + "," + std::to_string(port % 256));
        }
        if (WaitAnswer(200) != 200) {
            tell(m_rc.host, m_rc.msg("strMsgPortCommandFailed"), MsgIcon::Critical);
            return false;
        }
        ctrlSocket.sendData(command);
        if (!sckData.WaitForConnection(listener, 10'000)) {
            m_rc.WriteLog(m_rc.msg("strMsgFailCreateDC"));
            ClearAnswers();
            return false;
        }
        if (!secureData()) {
            ClearAnswers();
            return false;
        }
    }
    if (WaitTransferStart() == 0 && !bPassiveMode) {
        sckData.FTPDisconnect();
        return false;
    }
    std::string pending;
    for (;;) {
        const TcpSocket::Read r = sckData.receive(pending, kDataInactivityMs);
        if (r != TcpSocket::Read::Data) {
            break;
        }
        consume(pending);
        m_rc.host.yield();
    }
    if (!pending.empty()) {
        pending += "\r\n";
        consume(pending);
    }
    endTransfer();
    return true;
}

namespace {

// Days since 1970-01-01 of a date of the Gregorian calendar, and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::string utcStamp(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04lld%02u%02u%02lld%02lld%02lld", static_cast<long long>(y), m,
                  d, static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return buf;
}

// "YYYYMMDDHHMMSS", with any fraction after it, as seconds since 1970 (UTC).
std::optional<std::int64_t> machineTime(std::string_view v) {
    if (v.size() < 14 || v.find_first_not_of("0123456789") < 14) {
        return std::nullopt;
    }
    auto num = [&](size_t at, size_t n) {
        return static_cast<unsigned>(*text::parseInt(v.substr(at, n)));
    };
    const unsigned mo = num(4, 2), d = num(6, 2), h = num(8, 2), mi = num(10, 2), sec = num(12, 2);
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 60) {
        return std::nullopt;
    }
    return daysFromCivil(num(0, 4), mo, d) * 86400 + h * 3600 + mi * 60 + sec;
}

}  // namespace

std::vector<FtpClient::ExactEntry> clsFTPConnection::parseMachineListing(std::string_view lines) {
    std::vector<ExactEntry> entries;
    for (std::string_view line : text::split(std::string(lines), '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const size_t space = line.find(' ');
        if (space == std::string_view::npos || space + 1 >= line.size()) {
            continue;
        }
        ExactEntry entry;
        entry.name = std::string(line.substr(space + 1));
        bool file = false;
        std::optional<std::int64_t> size;
        std::optional<std::int64_t> modified;
        for (const std::string& fact : text::split(std::string(line.substr(0, space)), ';')) {
            const size_t eq = fact.find('=');
            if (eq == std::string::npos) {
                continue;
            }
            const std::string key = text::lower(fact.substr(0, eq));
            const std::string_view value = std::string_view(fact).substr(eq + 1);
            if (key == "type") {
                file = text::lower(std::string(value)) == "file";
            } else if (key == "size") {
                size = text::parseInt(value);
            } else if (key == "modify") {
                modified = machineTime(value);
            }
        }
        if (file && size && *size >= 0 && modified) {
            entry.size = *size;
            entry.modified = *modified;
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

void clsFTPConnection::learnFeatures() {
    if (m_featuresKnown || m_state != State::LoggedIn) {
        return;
    }
    m_featuresKnown = true;
    ctrlSocket.sendData("FEAT");
    const auto reply = readReply(5000);
    ClearAnswers();
    if (!reply || reply->code != 211) {
        return;
    }
    for (std::string raw : text::split(reply->whole, '\n')) {
        std::erase(raw, '\r');
        const std::string line = text::lower(std::string(text::trimSpace(raw)));
        if (line.starts_with("mlst ") && line.find("size") != std::string::npos &&
            line.find("modify") != std::string::npos) {
            m_mlsd = true;
        } else if (line == "mfmt") {
            m_mfmt = true;
        }
    }
}

std::optional<std::vector<FtpClient::ExactEntry>> clsFTPConnection::GetExactFileList(
    const std::string& folder) {
    learnFeatures();
    if (!m_mlsd) {
        return std::nullopt;
    }
    std::string all;
    if (!listData("MLSD " + folder, [&](std::string& pending) {
            all += pending;
            pending.clear();
        })) {
        return std::nullopt;
    }
    return parseMachineListing(all);
}

bool clsFTPConnection::SetModifiedTime(const std::string& path, std::int64_t modified) {
    learnFeatures();
    if (!m_mfmt) {
        return false;
    }
    ctrlSocket.sendData("MFMT " + utcStamp(modified) + " " + path);
    const bool ok = WaitAnswer(213) == 213;
    ClearAnswers();
    return ok;
}

std::string clsFTPConnection::GetRootDir() {
    if (m_state != State::LoggedIn) {
        return "";
    }
    std::string line;
    ctrlSocket.sendData("PWD");
    const bool ok = WaitAnswer(257, &line) == 257;
    ClearAnswers();
    if (!ok || line.size() < 6) {
        return "";
    }
    const size_t close = line.find('"', 5);
    return close == std::string::npos ? "" : line.substr(5, close - 5);
}

bool clsFTPConnection::folderCommand(const std::string& command, std::string& path,
                                     std::int32_t expected) {
    path = text::replaceAll(path, "//", "/");
    if (m_state != State::LoggedIn) {
        return false;
    }
    ctrlSocket.sendData(command + path);
    const bool ok = WaitAnswer(expected) == expected;
    ClearAnswers();
    return ok;
}

bool clsFTPConnection::ChangeCurrentDirectory(const std::string& path) {
    std::string p = path;
    return folderCommand("CWD ", p, 250);
}

bool clsFTPConnection::CreateFTPDirectory(std::string& path) {
    return folderCommand("MKD ", path, 257);
}

bool clsFTPConnection::DeleteFTPDirectory(std::string& path) {
    return folderCommand("RMD ", path, 250);
}

std::unique_ptr<FtpClient> makeFtpClient(RunControl& rc) {
    return std::make_unique<clsFTPConnection>(rc);
}

bool FtpClient::StoreFile(const std::string& localPath, const std::string& remoteFolder) {
    return StoreFileAs(localPath, remoteJoin(remoteFolder, fs::fileNameOf(localPath)));
}

std::optional<std::string> normalizedFingerprint(std::string_view text) {
    constexpr std::string_view kPrefix = "sha256:";
    if (text.size() >= kPrefix.size()) {
        std::string head(text.substr(0, kPrefix.size()));
        for (char& c : head) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (head == kPrefix) {
            text.remove_prefix(kPrefix.size());
        }
    }
    std::string hex;
    for (const char c : text) {
        if (c == ':' || c == ' ') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 64) {
        return std::nullopt;
    }
    return hex;
}

std::string remoteJoin(std::string_view folder, std::string_view name) {
    if (folder.empty()) {
        return std::string(name);
    }
    std::string out(folder);
    while (!out.empty() && out.back() == '/') {
        out.pop_back();
    }
    while (!name.empty() && name.front() == '/') {
        name.remove_prefix(1);
    }
    return text::replaceAll(out + "/" + std::string(name), "//", "/");
}

}  // namespace kestrel
