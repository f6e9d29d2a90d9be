#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// A file kept open for appending under one name (a log): an entry costs a stat of the name (size)
// and one write instead of an open and close each. When the name no longer leads to the open file
// (another process renamed or removed it), size() lets go of it and the next append opens the
// name again, so that entries never go into a file set aside.
class AppendFile {
public:
    AppendFile(std::string path, unsigned mode) : m_path(std::move(path)), m_mode(mode) {}
    ~AppendFile() { close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // The size of the file under the name now; nullopt when there is none. Call it before each
    // append: it is what follows the name.
    std::optional<std::int64_t> size();
    // Appends data, opening (creating) the file when it is not open.
    [[nodiscard]] bool append(std::string_view data, std::string* error = nullptr);
    // Lets go of the file (before it is renamed).
    void close();

private:
    std::string m_path;
    unsigned m_mode;
    int m_fd = -1;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
};

}  // namespace kestrel
