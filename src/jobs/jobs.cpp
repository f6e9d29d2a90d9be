// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/jobs.h"

#include "platform/text.h"

namespace kestrel {

clsBackup& Jobs::append(std::shared_ptr<clsBackup> job) {
    m_jobs.push_back(std::move(job));
    return *m_jobs.back();
}

void Jobs::removeAt(size_t index) {
    if (index < m_jobs.size()) {
        m_jobs.erase(m_jobs.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void Jobs::replaceAt(size_t index, std::shared_ptr<clsBackup> job) {
    if (index < m_jobs.size()) {
        m_jobs[index] = std::move(job);
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

std::ptrdiff_t Jobs::indexOfAnyCase(std::string_view name) const {
    for (size_t i = 0; i < m_jobs.size(); ++i) {
        if (text::iequals(m_jobs[i]->sName, name)) {
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

std::shared_ptr<clsBackup> Jobs::findShared(std::string_view name) const {
    const std::ptrdiff_t i = indexOf(name);
    return i < 0 ? nullptr : m_jobs[static_cast<size_t>(i)];
}

}  // namespace kestrel
