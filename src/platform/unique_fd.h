// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <utility>

namespace kestrel {

// Owns a file descriptor: closes it when it goes out of scope or is replaced. -1 holds none.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }
    // Closes the descriptor held, if any, and takes fd.
    void reset(int fd = -1);
    // Closes now and says whether the close succeeded (errno tells why not): a failing close
    // of a written file can mean lost data. True when nothing was held.
    bool close();

private:
    int m_fd = -1;
};

}  // namespace kestrel
