// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date_time.h"
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
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Never fails towards the caller: an entry that cannot be written to the file is lost
    // there but still shown.
    void WriteLog(std::string_view text);
    // An entry of the kind a run writes for every file: held back with those that follow it and
    // written (file, list and host) together once about a second has passed or 64 KB have
    // gathered, before any entry of WriteLog, and at flush(). A crash loses at most the last
    // second of them; failures go through WriteLog and are written at once.
    void WriteLogBatched(std::string_view text);
    // Writes the entries held back; flushIfDue only those held for about a second (for work
    // that logs nothing for a while, such as a long copy).
    void flush();
    void flushIfDue();

    // The log list of the main window: at most kListCapacity stamped lines, oldest first.
    const std::deque<std::string>& lines() const { return m_lines; }
    std::string filePath() const;
    // The file name of rotation n ("kestrel.log001").
    std::string rotatedPath(int n) const;

private:
    std::string stamp() const;
    void addListLine(std::string_view piece);
    void rotateIfNeeded();
    void appendToFile(const std::string& entries);

    static constexpr size_t kHoldBytes = 64 * 1024;
    static constexpr std::uint64_t kHoldMs = 1000;

    std::string m_dir;
    Clock& m_clock;
    Host& m_host;
    std::deque<std::string> m_lines;
    fs::AppendFile m_file;            // kept open between entries: a run logs a line per file
    std::vector<std::string> m_held;  // stamped lines held back by WriteLogBatched
    std::string m_heldFile;           // their file entries
    std::string m_heldLast;           // the last one's text, for the status bar
    size_t m_heldBytes = 0;
    std::uint64_t m_heldSince = 0;
    mutable DateTime m_stampAt;  // the second m_stamp shows
    mutable std::string m_stamp;
};

}  // namespace kestrel
