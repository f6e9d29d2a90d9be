#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "jobs/backup.h"

namespace kestrel {

// Every job of the program, in the order of the job store. Names need not be unique: a lookup
// by name takes the first exact (case-sensitive) match.
class Jobs {
public:
    size_t count() const { return m_jobs.size(); }
    bool empty() const { return m_jobs.empty(); }
    clsBackup& at(size_t index) { return *m_jobs.at(index); }
    const clsBackup& at(size_t index) const { return *m_jobs.at(index); }

    // Takes ownership of the job and returns it.
    clsBackup& append(std::unique_ptr<clsBackup> job);
    void removeAt(size_t index);
    void clear() { m_jobs.clear(); }

    clsBackup* find(std::string_view name);
    const clsBackup* find(std::string_view name) const;
    // Position of the first job with that name, or -1.
    std::ptrdiff_t indexOf(std::string_view name) const;

    auto begin() const { return m_jobs.begin(); }
    auto end() const { return m_jobs.end(); }

private:
    std::vector<std::unique_ptr<clsBackup>> m_jobs;
};

}  // namespace kestrel
