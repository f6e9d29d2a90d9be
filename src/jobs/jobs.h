// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "jobs/backup.h"

namespace kestrel {

// Every job of the program, in the order of the job store. Names need not be unique: a lookup
// by name takes the first exact (case-sensitive) match.
//
// The jobs are shared: a copy of the collection shares its jobs, and a job stays alive while
// anything holds it, even after it left the collection. Whoever walks the collection across
// calls that may change it (a run, a yield) walks a copy.
class Jobs {
public:
    size_t count() const { return m_jobs.size(); }
    bool empty() const { return m_jobs.empty(); }
    clsBackup& at(size_t index) { return *m_jobs.at(index); }
    const clsBackup& at(size_t index) const { return *m_jobs.at(index); }
    const std::shared_ptr<clsBackup>& shared(size_t index) const { return m_jobs.at(index); }

    clsBackup& append(std::shared_ptr<clsBackup> job);
    void removeAt(size_t index);
    // Puts the job in the place of the one at index.
    void replaceAt(size_t index, std::shared_ptr<clsBackup> job);
    void clear() { m_jobs.clear(); }

    clsBackup* find(std::string_view name);
    const clsBackup* find(std::string_view name) const;
    std::shared_ptr<clsBackup> findShared(std::string_view name) const;
    // Position of the first job with that name, or -1.
    std::ptrdiff_t indexOf(std::string_view name) const;
    // Position of the first job whose name matches without regard to ASCII case (the store's
    // sections do), or -1.
    std::ptrdiff_t indexOfAnyCase(std::string_view name) const;

    auto begin() const { return m_jobs.begin(); }
    auto end() const { return m_jobs.end(); }

private:
    std::vector<std::shared_ptr<clsBackup>> m_jobs;
};

}  // namespace kestrel
