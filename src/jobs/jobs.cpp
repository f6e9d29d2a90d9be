#include "jobs/jobs.h"

namespace kestrel {

clsBackup& Jobs::append(std::unique_ptr<clsBackup> job) {
    m_jobs.push_back(std::move(job));
    return *m_jobs.back();
}

void Jobs::removeAt(size_t index) {
    if (index < m_jobs.size()) {
        m_jobs.erase(m_jobs.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

std::ptrdiff_t Jobs::indexOf(std::string_view name) const {
    for (size_t i = 0; i < m_jobs.size(); ++i) {
        if (m_jobs[i]->sName == name) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

clsBackup* Jobs::find(std::string_view name) {
    const std::ptrdiff_t i = indexOf(name);
    return i < 0 ? nullptr : m_jobs[static_cast<size_t>(i)].get();
}

const clsBackup* Jobs::find(std::string_view name) const {
    const std::ptrdiff_t i = indexOf(name);
    return i < 0 ? nullptr : m_jobs[static_cast<size_t>(i)].get();
}

}  // namespace kestrel
