// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <optional>
#include <string>

namespace kestrel::test {

// Sets an environment variable (nothing: removes it) for the scope, then puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = ::getenv(name)) {
            m_old = old;
        }
        set(value);
    }
    ~ScopedEnv() { set(m_old); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const std::optional<std::string>& value) {
        value ? ::setenv(m_name, value->c_str(), 1) : ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// umask 0 for the scope: what the program makes must not rely on the user's umask.
class ScopedUmask {
public:
    ScopedUmask() : m_old(::umask(0)) {}
    ~ScopedUmask() { ::umask(m_old); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_old;
};

// The permission bits of a path (not following a last link); -1 when there is nothing.
inline int modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

}  // namespace kestrel::test
