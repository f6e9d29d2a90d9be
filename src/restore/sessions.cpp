// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/sessions.h"

#include <algorithm>
#include <unordered_map>

#include "platform/text.h"

namespace kestrel {

std::vector<SessionSummary> groupSessions(const std::vector<clsRestoreFileData>& records) {
    std::vector<SessionSummary> sessions;
    std::unordered_map<std::int64_t, size_t> byStamp;
    for (size_t i = 0; i < records.size(); ++i) {
        const clsRestoreFileData& rec = records[i];
        auto [it, added] = byStamp.emplace(rec.dSession.serialSeconds(), sessions.size());
        if (added) {
            sessions.push_back(SessionSummary{rec.dSession, {}, 0, {}});
        }
        SessionSummary& s = sessions[it->second];
        s.records.push_back(i);
        s.bytes += rec.size;
        for (const std::string& v : {rec.arcStart, rec.arcEnd}) {
            if (!v.empty() && std::find(s.volumes.begin(), s.volumes.end(), v) == s.volumes.end()) {
                s.volumes.push_back(v);
            }
        }
    }
    return sessions;
}

DateTime newestSession(const std::vector<clsRestoreFileData>& records) {
    DateTime newest;
    for (const clsRestoreFileData& r : records) {
        if (newest.isZero() || newest < r.dSession) {
            newest = r.dSession;
        }
    }
    return newest;
}

PathFilter::PathFilter(const std::vector<std::string>& paths) {
    for (std::string p : paths) {
        while (p.size() > 1 && p.back() == '/') {
            p.pop_back();
        }
        m_paths.push_back(std::move(p));
    }
}

bool PathFilter::operator()(const std::string& fname) const {
    return std::any_of(m_paths.begin(), m_paths.end(), [&](const std::string& p) {
        return p == "/" || fname == p ||
               (text::startsWith(fname, p) && fname.size() > p.size() && fname[p.size()] == '/');
    });
}

std::vector<size_t> recordsToRestore(const std::vector<clsRestoreFileData>& records,
                                     const std::vector<std::string>& paths,
                                     const std::optional<DateTime>& session) {
    const PathFilter isWanted(paths);
    std::unordered_map<std::string, size_t> chosen;
    for (size_t i = 0; i < records.size(); ++i) {
        const clsRestoreFileData& r = records[i];
        if ((session && r.dSession != *session) || !isWanted(r.fname)) {
            continue;
        }
        auto [it, added] = chosen.emplace(r.fname, i);
        if (!added && records[it->second].dSession < r.dSession) {
            it->second = i;
        }
    }
    std::vector<size_t> out;
    out.reserve(chosen.size());
    for (const auto& entry : chosen) {
        out.push_back(entry.second);
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace kestrel
