// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/date_time.h"
#include "platform/file_facts.h"

namespace kestrel {

// A folder name held once for all the files listed in it: a run lists a million files in far
// fewer folders. Copies share the text; assigning gives the copy a text of its own, so a change
// to one record never shows in another. One pointer wide, as the records are many.
class SharedPath {
public:
    SharedPath() = default;
    // Implicit both ways: it reads and assigns as the string it replaces.
    SharedPath(std::string text) : m_text(std::make_unique<Text>(std::move(text)).release()) {}
    SharedPath(const char* text) : SharedPath(std::string(text)) {}
    SharedPath(const SharedPath& other) : m_text(other.m_text) {
        if (m_text != nullptr) {
            m_text->uses.fetch_add(1, std::memory_order_relaxed);
        }
    }
    SharedPath(SharedPath&& other) noexcept : m_text(std::exchange(other.m_text, nullptr)) {}
    SharedPath& operator=(SharedPath other) noexcept {
        std::swap(m_text, other.m_text);
        return *this;
    }
    ~SharedPath() {
        if (m_text != nullptr && m_text->uses.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::unique_ptr<Text> last(m_text);  // the last holder frees it
        }
    }

    const std::string& str() const { return m_text != nullptr ? m_text->text : none(); }
    operator const std::string&() const { return str(); }
    operator std::string_view() const { return str(); }

    std::size_t size() const { return str().size(); }
    bool empty() const { return str().empty(); }
    // Whether both hold the one text, not only equal ones.
    bool sharesWith(const SharedPath& other) const {
        return m_text != nullptr && m_text == other.m_text;
    }

    friend std::string operator+(const SharedPath& a, std::string_view b) {
        std::string s;
        s.reserve(a.size() + b.size());
        return s.append(a.str()).append(b);
    }
    friend std::string operator+(std::string_view a, const SharedPath& b) {
        std::string s;
        s.reserve(a.size() + b.size());
        return s.append(a).append(b.str());
    }
    friend bool operator==(const SharedPath& a, std::string_view b) { return a.str() == b; }

private:
    struct Text {
        explicit Text(std::string t) : text(std::move(t)) {}
        std::atomic<std::uint32_t> uses{1};
        const std::string text;
    };
    static const std::string& none() {
        static const std::string text;
        return text;
    }

    Text* m_text = nullptr;  // owned together with the other holders of it
};

// One file on disk as the engine lists it: name, folder, size, attributes and three times.
// A million of them are held at once, so the fields are ordered to leave no room between them.
struct clsDskFile {
    std::string filename;  // without folder
    SharedPath path;       // folder, ending in a separator; path + filename is the full name
    std::int64_t dSize = 0;
    std::int64_t dAttrib = 0;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    // Mode (permission, set-id and sticky bits), owner and group where the listing read them.
    std::uint32_t posixMode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    bool hasPosix = false;
    // The nanoseconds below lastWriteTime's 100 (0..99), where the listing read them: what an
    // unchanged copy at the destination must match too.
    std::uint8_t lastWriteNs = 0;

    std::string fullName() const { return path + filename; }

    void tCreationTimeSet(std::int32_t high, std::int32_t low) { creationTime = {high, low}; }
    void tLastAccessTimeSet(std::int32_t high, std::int32_t low) { lastAccessTime = {high, low}; }
    void tLastWriteTimeSet(std::int32_t high, std::int32_t low) { lastWriteTime = {high, low}; }

    // The record of an existing file or folder, with its facts read from disk; nothing when it
    // cannot be examined.
    static std::optional<clsDskFile> fromPath(const std::string& fullPath);
};

}  // namespace kestrel
