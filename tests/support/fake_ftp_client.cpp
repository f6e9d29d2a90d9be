// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/fake_ftp_client.h"

#include <fstream>
#include <sstream>

#include "core/host.h"
#include "core/run_control.h"

namespace kestrel::test {

std::string normalRemotePath(std::string path) {
    for (size_t at; (at = path.find("//")) != std::string::npos;) {
        path.erase(at, 1);
    }
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path.empty() ? "/" : path;
}

std::string remoteParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

namespace {

std::string nameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

clsFTPFile ftpEntry(const std::string& name, bool folder, std::int64_t size) {
    clsFTPFile f;
    f.strName = name;
    f.bDir = folder;
    f.dSize = size;
    return f;
}

void FakeRemote::makeFolder(const std::string& path) {
    const std::string p = normalRemotePath(path);
    if (folders.count(p) != 0) {
        return;
    }
    folders[p];
    if (p != "/") {
        makeFolder(remoteParentOf(p));
        folders[remoteParentOf(p)].push_back(ftpEntry(nameOf(p), true));
    }
}

void FakeRemote::put(const std::string& path, const std::string& content) {
    const std::string p = normalRemotePath(path);
    makeFolder(remoteParentOf(p));
    files[p] = content;
    modified.erase(p);
    std::vector<clsFTPFile>& listing = folders[remoteParentOf(p)];
    std::erase_if(listing, [&](const clsFTPFile& e) { return e.strName == nameOf(p); });
    listing.push_back(ftpEntry(nameOf(p), false, static_cast<std::int64_t>(content.size())));
}

void FakeRemote::remove(const std::string& path) {
    const std::string p = normalRemotePath(path);
    files.erase(p);
    modified.erase(p);
    folders.erase(p);
    std::erase_if(folders[remoteParentOf(p)],
                  [&](const clsFTPFile& e) { return e.strName == nameOf(p); });
}

FakeFtpClient::Call::Call(FakeRemote& remote, std::string what) : m_remote(remote) {
    m_remote.calls.push_back(std::move(what));
    if (++m_remote.depth > 1) {
        m_remote.reentered = true;
    }
}

FakeFtpClient::FakeFtpClient(FakeRemote& remote, Host* host) : m_remote(remote), m_host(host) {
    ++m_remote.sessions;
}

FtpClient::State FakeFtpClient::connectionState() const {
    return m_remote.dropped && m_state == State::LoggedIn ? State::Connected : m_state;
}

bool FakeFtpClient::EstablishConnection() {
    Call call(m_remote, "connect");
    if (m_remote.refuseLogin) {
        return false;
    }
    if (m_tls && !m_remote.fingerprint.empty()) {
        m_shown = m_remote.fingerprint;
        if (m_pin != m_shown) {
            return false;
        }
    }
    m_state = State::LoggedIn;
    m_cwd = m_remote.start;
    return true;
}

bool FakeFtpClient::Disconnect() {
    Call call(m_remote, "disconnect");
    ++m_remote.disconnects;
    m_state = State::NotConnected;
    return true;
}

bool FakeFtpClient::reaches(const std::string& path) {
    const bool ok =
        m_state == State::LoggedIn && !m_remote.dropped && m_remote.refused.count(path) == 0;
    m_reply = ok ? 250 : 550;
    return ok;
}

void FakeFtpClient::yield() {
    if (m_host != nullptr) {
        m_host->yield();
    }
}

FtpClient::GetResult FakeFtpClient::GetFile(const std::string& remotePath,
                                            const std::string& localPath) {
    const std::string p = normalRemotePath(remotePath);
    Call call(m_remote, "RETR " + p);
    const auto found = m_remote.files.find(p);
    if (!reaches(p) || found == m_remote.files.end()) {
        m_reply = 550;
        return GetResult::Failed;
    }
    std::ofstream(localPath, std::ios::binary | std::ios::trunc) << found->second;
    return GetResult::Downloaded;
}

bool FakeFtpClient::StoreFileAs(const std::string& localPath, const std::string& remotePath) {
    const std::string p = normalRemotePath(remotePath);
    Call call(m_remote, "STOR " + p);
    std::ifstream in(localPath, std::ios::binary);
    if (!reaches(p) || !in || m_remote.folders.count(remoteParentOf(p)) == 0) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    m_remote.put(p, content.str());
    return true;
}

bool FakeFtpClient::RenameFile(const std::string& from, const std::string& to) {
    const std::string f = normalRemotePath(from);
    const std::string t = normalRemotePath(to);
    Call call(m_remote, "RNFR " + f + " RNTO " + t);
    if (!reaches(f) || !reaches(t) || m_remote.files.count(f) == 0) {
        return false;
    }
    const std::string content = m_remote.files[f];
    m_remote.remove(f);
    m_remote.put(t, content);
    return true;
}

bool FakeFtpClient::DeleteFile(const std::string& path) {
    const std::string p = normalRemotePath(path);
    Call call(m_remote, "DELE " + p);
    if (!reaches(p) || m_remote.files.count(p) == 0) {
        m_reply = 550;
        return false;
    }
    m_remote.remove(p);
    return true;
}

std::optional<std::vector<clsFTPFile>> FakeFtpClient::GetFileList() {
    Call call(m_remote, "LIST " + m_cwd);
    yield();
    const auto found = m_remote.folders.find(m_cwd);
    if (m_state != State::LoggedIn || found == m_remote.folders.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::vector<FtpClient::ExactEntry>> FakeFtpClient::GetExactFileList(
    const std::string& folder) {
    const std::string p = normalRemotePath(folder);
    Call call(m_remote, "MLSD " + p);
    const auto found = m_remote.folders.find(p);
    if (!m_remote.exactListing || m_state != State::LoggedIn || found == m_remote.folders.end()) {
        return std::nullopt;
    }
    std::vector<ExactEntry> entries;
    for (const clsFTPFile& e : found->second) {
        const std::string path = normalRemotePath(p + "/" + e.strName);
        if (m_remote.files.count(path) != 0) {
            const auto time = m_remote.modified.find(path);
            entries.push_back(ExactEntry{e.strName,
                                         static_cast<std::int64_t>(m_remote.files[path].size()),
                                         time == m_remote.modified.end() ? 0 : time->second});
        }
    }
    return entries;
}

bool FakeFtpClient::SetModifiedTime(const std::string& path, std::int64_t modified) {
    const std::string p = normalRemotePath(path);
    Call call(m_remote, "MFMT " + p);
    if (!m_remote.exactListing || m_remote.files.count(p) == 0) {
        return false;
    }
    m_remote.modified[p] = modified;
    return true;
}

std::string FakeFtpClient::GetRootDir() {
    Call call(m_remote, "PWD");
    m_cwd = m_remote.start;
    return m_remote.start;
}

bool FakeFtpClient::ChangeCurrentDirectory(const std::string& path) {
    const std::string p = normalRemotePath(path);
    Call call(m_remote, "CWD " + p);
    yield();
    if (m_state != State::LoggedIn || m_remote.folders.count(p) == 0) {
        return false;
    }
    m_cwd = p;
    return true;
}

bool FakeFtpClient::CreateFTPDirectory(std::string& path) {
    path = normalRemotePath(path);
    Call call(m_remote, "MKD " + path);
    if (!reaches(path) || path.find('/') == std::string::npos ||
        m_remote.folders.count(remoteParentOf(path)) == 0 || m_remote.folders.count(path) != 0) {
        return false;
    }
    m_remote.makeFolder(path);
    return true;
}

bool FakeFtpClient::DeleteFTPDirectory(std::string& path) {
    path = normalRemotePath(path);
    Call call(m_remote, "RMD " + path);
    const auto found = m_remote.folders.find(path);
    if (!reaches(path) || found == m_remote.folders.end() || !found->second.empty()) {
        return false;
    }
    m_remote.remove(path);
    return true;
}

FtpClientFactory fakeFtpFactory(FakeRemote& remote) {
    return [&remote](RunControl& rc) { return std::make_unique<FakeFtpClient>(remote, &rc.host); };
}

}  // namespace kestrel::test
