// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "jobs/backup.h"
#include "support/temp_dir.h"

namespace kestrel::test {

// A job as a test needs it, said in one expression:
//   JobBuilder("Docs").folder(src).to(dest).archive().compressed().incremental().build()
// It starts as a full plain-copy job of every file ("*.*") with no source and no destination.
class JobBuilder {
public:
    explicit JobBuilder(const std::string& name) : m_job(std::make_unique<clsBackup>()) {
        m_job->sName = name;
        m_job->IncludeMask = "*.*";
    }

    JobBuilder& folder(const std::string& path) { return source(path, kSourceFolder); }
    JobBuilder& file(const std::string& path) { return source(path, kSourceFile); }
    JobBuilder& to(const std::string& folder) {
        m_job->sDestinationDir = folder;
        return *this;
    }
    // An FTP destination: the folder on the server, which logs in user with password.
    JobBuilder& ftp(const std::string& host, int port, const std::string& user,
                    const std::string& password, const std::string& folder) {
        m_job->destFTP = true;
        m_job->objDestination = std::make_shared<clsKestrel>();
        m_job->objDestination->hostname = host;
        m_job->objDestination->port = port;
        m_job->objDestination->username = user;
        m_job->objDestination->password = password;
        return to(folder);
    }
    JobBuilder& archive(bool on = true) {
        m_job->archived = on;
        return *this;
    }
    JobBuilder& compressed(bool on = true) {
        m_job->bZipped = on;
        return *this;
    }
    JobBuilder& incremental(bool on = true) {
        m_job->bIncremental = on;
        return *this;
    }
    JobBuilder& split(std::int32_t bytes) {
        m_job->splitSize = bytes;
        return *this;
    }
    // Protected by a password; none leaves the job unprotected.
    JobBuilder& password(const std::string& password) {
        m_job->Protected = !password.empty();
        m_job->password = password;
        return *this;
    }
    JobBuilder& masks(const std::string& include, const std::string& exclude = "") {
        m_job->IncludeMask = include;
        m_job->ExcludeMask = exclude;
        return *this;
    }

    std::unique_ptr<clsBackup> build() { return std::move(m_job); }

private:
    JobBuilder& source(const std::string& path, std::int32_t kind) {
        m_job->AddFile(std::make_unique<clsBackupFile>(clsBackupFile{path, kind, 0, 0}));
        return *this;
    }

    std::unique_ptr<clsBackup> m_job;
};

// An enabled schedule; hour is the time of day of daily and monthly ones.
inline std::shared_ptr<clsSchedule> schedule(std::uint8_t tip, std::uint8_t data, DateTime start,
                                             DateTime hour = {}) {
    auto s = std::make_shared<clsSchedule>();
    s->Tip = tip;
    s->Data = data;
    s->start = start;
    s->StartHour = hour;
    s->enabled = true;
    return s;
}

// Gives key of job a new value in the job store file, as damage or a hand edit would.
inline void setStoredValue(const std::string& store, const std::string& job, const std::string& key,
                           const std::string& value) {
    std::string content = readAll(store);
    const size_t at = content.find("\r\n" + key + "=", content.find("[" + job + "]"));
    if (at != std::string::npos) {
        const size_t from = at + key.size() + 3;
        content.replace(from, content.find("\r\n", from) - from, value);
        std::ofstream(store, std::ios::binary) << content;
    }
}

}  // namespace kestrel::test
