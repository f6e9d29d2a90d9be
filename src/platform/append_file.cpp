#include "platform/append_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

std::optional<std::int64_t> AppendFile::size() {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
        close();
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(st.st_dev) != m_device ||
        static_cast<std::uint64_t>(st.st_ino) != m_inode) {
        close();
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool AppendFile::append(std::string_view data, std::string* error) {
    if (m_fd < 0) {
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                      static_cast<mode_t>(m_mode));
        struct stat st {};
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
            if (error != nullptr) {
                *error = "cannot open " + m_path + ": " + ::strerror(errno);
            }
            close();
            return false;
        }
        m_device = static_cast<std::uint64_t>(st.st_dev);
        m_inode = static_cast<std::uint64_t>(st.st_ino);
    }
    while (!data.empty()) {
        const ssize_t n = ::write(m_fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (error != nullptr) {
                *error = "cannot write " + m_path + ": " + ::strerror(n < 0 ? errno : ENOSPC);
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void AppendFile::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace kestrel
