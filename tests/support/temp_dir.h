// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::test {

// A fresh folder below the system's temporary folder, removed with everything in it when the
// object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(std::string_view relative) const;
    // Writes a file (creating its folders) and returns its path.
    std::string write(std::string_view relative, std::string_view content) const;

private:
    std::string m_path;
};

// The whole content of a file; "" when it cannot be read.
std::string readAll(const std::string& path);

// Bytes that do not compress, the same for the same seed; eight made at a time, so that tests
// fill megabytes quickly.
std::string noise(size_t size, std::uint64_t seed);

}  // namespace kestrel::test
