// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrel {

// An initialization file: "[section]" headers followed by "key=value" lines. Section names and
// keys match without regard to ASCII letter case; values are bytes, kept as written apart from
// the blanks between "=" and the value. Lines end in CR LF when written; CR LF and LF are read.
// A leading UTF-8 byte-order mark is skipped, and never written. There is no size limit on
// sections or values. Comment lines start with ";".
//
// The whole file is held in memory and written back as one atomic replacement (save).
class IniFile {
public:
    enum class LoadResult { Loaded, Missing, Failed };

    static IniFile parse(std::string_view text);
    // Replaces the content with the file's. Missing leaves an empty file; Failed (unreadable)
    // leaves it empty too and sets *error.
    LoadResult load(const std::string& path, std::string* error = nullptr);
    std::string serialize() const;
    // Writes the file atomically with the given permission bits.
    [[nodiscard]] bool save(const std::string& path, unsigned mode,
                            std::string* error = nullptr) const;

    bool hasSection(std::string_view section) const;
    // Whether the file has lines other than comments before its first section header.
    bool hasLinesOutsideSections() const;
    std::vector<std::string> sectionNames() const;

    // The lines of a section in file order, blank and comment lines left out, as the profile
    // section reader returns them: "key=value" with the key trimmed and the blanks after "="
    // removed; a line without "=" trimmed. Nothing when the section is absent.
    std::optional<std::vector<std::string>> sectionLines(std::string_view section) const;
    // The value of the first line of the section whose key matches; nothing when absent.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Replaces a whole section with the given lines, adding it at the end when absent.
    void writeSection(std::string_view section, const std::vector<std::string>& lines);
    // Sets a key: replaces the first line with that key, or appends one to the section (which
    // is added at the end when absent).
    void writeValue(std::string_view section, std::string_view key, std::string_view value);
    // Removes every line with that key; true when one was there.
    bool removeValue(std::string_view section, std::string_view key);
    // Adds an empty section when absent; true when it was added.
    bool ensureSection(std::string_view section);

private:
    struct Section {
        std::string name;  // empty for lines before the first header
        std::vector<std::string> lines;
    };
    Section* find(std::string_view section);
    const Section* find(std::string_view section) const;
    Section& findOrAdd(std::string_view section);

    std::vector<Section> m_sections;
    std::unordered_map<std::string, size_t> m_index;  // lower-case name -> first section
    bool m_preamble = false;  // m_sections.front() holds lines from before the first header
};

}  // namespace kestrel
