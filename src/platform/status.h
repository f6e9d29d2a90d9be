// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// What became of an operation that can fail: ok, or why not. A failure has a kind that callers
// branch on, the errno behind it (0 when there is none) and a text for the log that names what
// was being done ("cannot open /a/b: Permission denied"). Text from errno is built here and
// nowhere else.
class Status {
public:
    enum class Kind {
        Ok,
        Failed,    // any other failure
        DiskFull,  // no space or quota left: the run stops rather than fail file after file
        NotFound,  // what was asked for is not there
    };

    Status() = default;
    // what names the operation and its object; the text is "what: strerror(err)".
    static Status fromErrno(int err, std::string_view what);
    static Status failure(std::string text, Kind kind = Kind::Failed) {
        return Status(kind, 0, std::move(text));
    }

    bool ok() const { return m_kind == Kind::Ok; }
    explicit operator bool() const { return ok(); }
    Kind kind() const { return m_kind; }
    int errnum() const { return m_errno; }
    const std::string& text() const { return m_text; }
    bool isDiskFull() const { return m_kind == Kind::DiskFull; }
    // A later failure of work that already ran out of space still reports the full disk.
    void keepDiskFullOf(const Status& earlier) {
        if (earlier.isDiskFull() && !ok()) {
            m_kind = Kind::DiskFull;
        }
    }

private:
    Status(Kind kind, int err, std::string text)
        : m_kind(kind), m_errno(err), m_text(std::move(text)) {}

    Kind m_kind = Kind::Ok;
    int m_errno = 0;
    std::string m_text;
};

// Stores status's text in *error when both are there: for the callers that take a text.
inline bool tellError(const Status& status, std::string* error) {
    if (!status.ok() && error != nullptr) {
        *error = status.text();
    }
    return status.ok();
}

}  // namespace kestrel
