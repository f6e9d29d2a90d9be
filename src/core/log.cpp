// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/log.h"

#include <cstdio>

#include "core/host.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {

Log::Log(std::string logDir, Clock& clock, Host& host)
    : m_dir(std::move(logDir)), m_clock(clock), m_host(host), m_file(filePath(), 0600) {}

Log::~Log() {
    flush();
}

std::string Log::filePath() const {
    return fs::join(m_dir, "kestrel.log");
}

std::string Log::rotatedPath(int n) const {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%03d", n);
    return filePath() + suffix;
}

std::string Log::stamp() const {
    // A run logs many lines a second: the stamp is formatted once per second.
    const DateTime now = m_clock.now();
    if (m_stampAt != now || m_stamp.empty()) {
        m_stampAt = now;
        m_stamp.assign(1, '[');
        m_stamp += now.format("yyyy MMM dd HH:mm:ss");
        m_stamp += "]-";
    }
    return m_stamp;
}

void Log::addListLine(std::string_view piece) {
    std::string line = stamp() + std::string(piece);
    m_lines.push_back(line);
    if (m_lines.size() > kListCapacity) {
        m_lines.pop_front();
    }
    m_host.logLine(line);
    m_host.setStatusText(2, std::string(piece));
}

void Log::WriteLog(std::string_view message) {
    flush();
    if (message.find("\r\n") == std::string_view::npos) {
        if (!text::trimBlanks(message).empty()) {
            addListLine(message);
        }
    } else {
        size_t start = 0;
        for (;;) {
            const size_t pos = message.find("\r\n", start);
            addListLine(message.substr(start, pos == std::string_view::npos ? pos : pos - start));
            if (pos == std::string_view::npos) {
                break;
            }
            start = pos + 2;
        }
    }

    if (m_dir.empty()) {
        return;
    }
    std::string entry = stamp();
    entry.append(message);
    entry += "\r\n";
    appendToFile(entry);
}

void Log::WriteLogBatched(std::string_view message) {
    if (message.find("\r\n") != std::string_view::npos || text::trimBlanks(message).empty()) {
        WriteLog(message);
        return;
    }
    if (m_held.empty()) {
        m_heldSince = m_clock.tickMs();
    }
    std::string line = stamp();
    line.append(message);
    if (!m_dir.empty()) {
        m_heldFile += line;
        m_heldFile += "\r\n";
    }
    m_heldBytes += line.size();
    m_held.push_back(std::move(line));
    m_heldLast = message;
    if (m_heldBytes >= kHoldBytes) {
        flush();
    } else {
        flushIfDue();
    }
}

void Log::flushIfDue() {
    if (!m_held.empty() && m_clock.tickMs() - m_heldSince >= kHoldMs) {
        flush();
    }
}

void Log::flush() {
    if (m_held.empty()) {
        return;
    }
    for (std::string& line : m_held) {
        m_lines.push_back(line);
        if (m_lines.size() > kListCapacity) {
            m_lines.pop_front();
        }
    }
    m_host.logLines(m_held);
    m_host.setStatusText(2, m_heldLast);
    m_held.clear();
    m_heldBytes = 0;
    if (!m_heldFile.empty()) {
        appendToFile(m_heldFile);
        m_heldFile.clear();
    }
}

// The size is looked at once per write: entries held back together may take the file a little
// past the limit before it is rotated.
void Log::appendToFile(const std::string& entries) {
    const auto size = m_file.size();
    if (size && *size > kRotateAbove) {
        m_file.close();
        rotateIfNeeded();
    }
    if (m_file.append(entries)) {
        return;
    }
    // The logs folder may have gone (or never been made); otherwise the entries are lost in the
    // file, and were shown all the same.
    if (!fs::isDirectory(m_dir) && fs::makePrivateDirs(m_dir) && !m_file.append(entries)) {
        // As above.
    }
}

void Log::rotateIfNeeded() {
    const std::string path = filePath();
    for (int n = 1; n <= kMaxRotations; ++n) {
        if (!fs::exists(rotatedPath(n))) {
            if (!fs::renameFile(path, rotatedPath(n))) {
                // The long log is written on; the next entry tries again.
            }
            return;
        }
    }
    // Every name is taken: drop the oldest and move the others down one, so that the log keeps
    // working and the newest rotations survive.
    if (!fs::removeFile(rotatedPath(1))) {
        return;
    }
    for (int n = 2; n <= kMaxRotations; ++n) {
        if (!fs::renameFile(rotatedPath(n), rotatedPath(n - 1))) {
            return;
        }
    }
    if (!fs::renameFile(path, rotatedPath(kMaxRotations))) {
        // As above: the long log is written on.
    }
}

}  // namespace kestrel
