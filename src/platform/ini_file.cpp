// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ini_file.h"

#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isComment(std::string_view trimmed) {
    return !trimmed.empty() && trimmed.front() == ';';
}

// The key of a line, or nothing when the line has no "=" or is a comment.
std::optional<std::string_view> keyOf(std::string_view line) {
    const std::string_view trimmed = text::trimSpace(line);
    if (isComment(trimmed)) {
        return std::nullopt;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return text::trimSpace(line.substr(0, eq));
}

std::string_view valueOf(std::string_view line) {
    std::string_view v = line.substr(line.find('=') + 1);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) {
        v.remove_prefix(1);
    }
    return v;
}

}  // namespace

IniFile IniFile::parse(std::string_view content) {
    IniFile ini;
    // Editors that save UTF-8 with a byte-order mark put it before the first header.
    if (content.starts_with(kByteOrderMark)) {
        content.remove_prefix(kByteOrderMark.size());
    }
    text::LineReader lines(content);
    for (text::Line line; lines.next(line);) {
        const std::string_view trimmed = text::trimSpace(line.text);
        if (trimmed.empty()) {
            continue;
        }
        if (trimmed.front() == '[') {
            std::string_view name = trimmed.substr(1);
            // The last "]" closes the name, so names holding "]" survive a round trip.
            const size_t close = name.rfind(']');
            if (close != std::string_view::npos) {
                name = name.substr(0, close);
            }
            name = text::trimSpace(name);
            ini.m_sections.push_back(Section{std::string(name), {}});
            ini.m_index.try_emplace(text::lower(name), ini.m_sections.size() - 1);
            continue;
        }
        if (ini.m_sections.empty()) {
            ini.m_sections.push_back(Section{"", {}});
            ini.m_preamble = true;
        }
        ini.m_sections.back().lines.emplace_back(line.text);
    }
    return ini;
}

IniFile::LoadResult IniFile::load(const std::string& path, std::string* error) {
    *this = IniFile();
    if (!fs::exists(path)) {
        return LoadResult::Missing;
    }
    auto content = fs::readFile(path, error);
    if (!content) {
        return LoadResult::Failed;
    }
    *this = parse(*content);
    return LoadResult::Loaded;
}

std::string IniFile::serialize() const {
    std::string out;
    for (const Section& section : m_sections) {
        if (!(m_preamble && &section == &m_sections.front())) {
            if (!out.empty()) {
                out += "\r\n";
            }
            out += "[" + section.name + "]\r\n";
        }
        for (const std::string& line : section.lines) {
            out += line;
            out += "\r\n";
        }
    }
    // A first line that itself begins with a byte-order mark would lose it to the next read,
    // and a "[" behind it would turn it into a section: one more mark keeps it a line.
    if (out.starts_with(kByteOrderMark)) {
        out.insert(0, kByteOrderMark);
    }
    return out;
}

bool IniFile::save(const std::string& path, unsigned mode, std::string* error) const {
    return fs::writeFileAtomic(path, serialize(), mode, error);
}

const IniFile::Section* IniFile::find(std::string_view section) const {
    const auto it = m_index.find(text::lower(section));
    return it == m_index.end() ? nullptr : &m_sections[it->second];
}

IniFile::Section* IniFile::find(std::string_view section) {
    const auto it = m_index.find(text::lower(section));
    return it == m_index.end() ? nullptr : &m_sections[it->second];
}

IniFile::Section& IniFile::findOrAdd(std::string_view section) {
    if (Section* s = find(section)) {
        return *s;
    }
    m_sections.push_back(Section{std::string(section), {}});
    m_index.emplace(text::lower(section), m_sections.size() - 1);
    return m_sections.back();
}

bool IniFile::hasSection(std::string_view section) const {
    return find(section) != nullptr;
}

bool IniFile::hasLinesOutsideSections() const {
    if (m_sections.empty() || !m_preamble) {
        return false;
    }
    for (const std::string& line : m_sections.front().lines) {
        if (!isComment(text::trimSpace(line))) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> IniFile::sectionNames() const {
    std::vector<std::string> names;
    for (const Section& s : m_sections) {
        if (!s.name.empty()) {
            names.push_back(s.name);
        }
    }
    return names;
}

std::optional<std::vector<std::string>> IniFile::sectionLines(std::string_view section) const {
    const Section* s = find(section);
    if (s == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    lines.reserve(s->lines.size());
    for (const std::string& line : s->lines) {
        const std::string_view trimmed = text::trimSpace(line);
        if (isComment(trimmed)) {
            continue;
        }
        if (auto key = keyOf(line)) {
            lines.push_back(std::string(*key) + "=" + std::string(valueOf(line)));
        } else {
            lines.emplace_back(trimmed);
        }
    }
    return lines;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    const Section* s = find(section);
    if (s == nullptr) {
        return std::nullopt;
    }
    for (const std::string& line : s->lines) {
        auto k = keyOf(line);
        if (k && text::iequals(*k, key)) {
            return std::string(valueOf(line));
        }
    }
    return std::nullopt;
}

void IniFile::writeSection(std::string_view section, const std::vector<std::string>& lines) {
    findOrAdd(section).lines = lines;
}

void IniFile::writeValue(std::string_view section, std::string_view key, std::string_view value) {
    Section& s = findOrAdd(section);
    std::string line = std::string(key) + "=" + std::string(value);
    for (std::string& existing : s.lines) {
        auto k = keyOf(existing);
        if (k && text::iequals(*k, key)) {
            existing = std::move(line);
            return;
        }
    }
    s.lines.push_back(std::move(line));
}

bool IniFile::removeValue(std::string_view section, std::string_view key) {
    Section* s = find(section);
    if (s == nullptr) {
        return false;
    }
    const size_t before = s->lines.size();
    std::erase_if(s->lines, [&](const std::string& line) {
        auto k = keyOf(line);
        return k && text::iequals(*k, key);
    });
    return s->lines.size() != before;
}

bool IniFile::ensureSection(std::string_view section) {
    if (find(section) != nullptr) {
        return false;
    }
    findOrAdd(section);
    return true;
}

}  // namespace kestrel
