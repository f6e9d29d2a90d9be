// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace kestrel {

class Clock;
class Host;

// The program log: every report of the program goes through WriteLog, which shows it to the
// user (log list and status bar, through the host) and appends it, stamped, to logs/kestrel.log
// (0600: it names the user's files).
// A log longer than 5,000,000 bytes is renamed to kestrel.log001..999 before the next entry.
class Log {
public:
    static constexpr std::int64_t kRotateAbove = 5'000'000;
    static constexpr size_t kListCapacity = 20'000;
    static constexpr int kMaxRotations = 999;

    // logDir "" keeps no file: entries reach only the host and the list.
    Log(std::string logDir, Clock& clock, Host& host);

    // Never fails towards the caller: an entry that cannot be written to the file is lost
    // there but still shown.
    void WriteLog(std::string_view text);

    // The log list of the main window: at most kListCapacity stamped lines, oldest first.
    const std::deque<std::string>& lines() const { return m_lines; }
    std::string filePath() const;
    // The file name of rotation n ("kestrel.log001").
    std::string rotatedPath(int n) const;

private:
    std::string stamp() const;
    void addListLine(std::string_view piece);
    void rotateIfNeeded();

    std::string m_dir;
    Clock& m_clock;
    Host& m_host;
    std::deque<std::string> m_lines;
    fs::AppendFile m_file;  // kept open between entries: a run logs a line per file
};

}  // namespace kestrel
