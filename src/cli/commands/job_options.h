// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "jobs/backup.h"

namespace kestrel {

struct AppContext;
class Messages;

// The options that describe a job, shared by `new` and `edit`. A new job takes every option,
// with the defaults of a new job; a changed job takes only the options given and keeps the rest
// of its fields.
class JobOptions {
public:
    enum class Use { New, Edit };

    explicit JobOptions(Use use) : m_use(use) {}
    JobOptions(const JobOptions&) = delete;
    JobOptions& operator=(const JobOptions&) = delete;

    // Adds the options to the command; they parse into this object, which must outlive the
    // parse and apply.
    void add(CLI::App& command);
    // Sets on job what the options say. Throws UsageError for a value it refuses. Passwords
    // given as "-" are read from standard input here, the FTP password before the job's.
    void apply(AppContext& ctx, clsBackup& job) const;

private:
    bool given(const CLI::Option* option) const { return option != nullptr && option->count() > 0; }
    // A new job takes every option, given or not.
    bool takes(const CLI::Option* option) const { return m_use == Use::New || given(option); }
    void applyDestination(clsBackup& job) const;
    void applyTls(clsKestrel& dest, bool fresh) const;
    void applySchedule(AppContext& ctx, clsBackup& job) const;

    Use m_use;
    std::string m_name;
    std::vector<std::string> m_sources;
    std::string m_dest;
    std::string m_ftpHost;
    int m_ftpPort = 21;
    std::string m_ftpUser = "anonymous";
    std::string m_ftpPassword;
    bool m_ftpActive = false;
    bool m_ftpPassive = false;
    bool m_noFtp = false;
    std::string m_ftpTls = "off";
    std::string m_ftpTlsPin;
    std::string m_type = "full";
    std::string m_storage = "compressed";
    std::string m_split;
    bool m_noSplit = false;
    std::string m_include = "*.*";
    std::string m_exclude;
    std::string m_password;
    bool m_noPassword = false;
    std::string m_schedule;
    std::string m_scheduleFrom;

    CLI::Option* m_nameOption = nullptr;
    CLI::Option* m_sourceOption = nullptr;
    CLI::Option* m_destOption = nullptr;
    CLI::Option* m_ftpOption = nullptr;
    CLI::Option* m_ftpPortOption = nullptr;
    CLI::Option* m_ftpUserOption = nullptr;
    CLI::Option* m_ftpPasswordOption = nullptr;
    CLI::Option* m_ftpTlsOption = nullptr;
    CLI::Option* m_ftpTlsPinOption = nullptr;
    CLI::Option* m_typeOption = nullptr;
    CLI::Option* m_storageOption = nullptr;
    CLI::Option* m_splitOption = nullptr;
    CLI::Option* m_includeOption = nullptr;
    CLI::Option* m_excludeOption = nullptr;
    CLI::Option* m_passwordOption = nullptr;
    CLI::Option* m_scheduleOption = nullptr;
    CLI::Option* m_scheduleFromOption = nullptr;
};

// The warning that new and edit print for a job whose FTP password and data would travel in
// clear beyond the local network; "" when there is nothing to warn about.
std::string clearTextWarning(const Messages& messages, const clsBackup& job);

}  // namespace kestrel
