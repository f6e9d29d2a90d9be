// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/system_facts.h"

#include <QString>
#include <QSysInfo>
#include <QtGlobal>
#include <map>

#include "platform/fs.h"
#include "platform/text.h"
#include "ui/version.h"

namespace kestrel::ui {

namespace {

// One os-release value: shell-like quoting with single or double quotes, backslash escapes
// inside double quotes.
std::string unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        return std::string(value.substr(1, value.size() - 2));
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        std::string out;
        const std::string_view inner = value.substr(1, value.size() - 2);
        for (size_t i = 0; i < inner.size(); ++i) {
            if (inner[i] == '\\' && i + 1 < inner.size()) {
                ++i;
            }
            out += inner[i];
        }
        return out;
    }
    return std::string(value);
}

std::map<std::string, std::string> parseOsRelease(std::string_view text) {
    std::map<std::string, std::string> values;
    for (const std::string& raw : text::split(text, '\n')) {
        std::string_view trimmed = raw;
        if (!trimmed.empty() && trimmed.back() == '\r') {
            trimmed.remove_suffix(1);
        }
        trimmed = text::trimSpace(trimmed);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        const size_t eq = trimmed.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        values[std::string(trimmed.substr(0, eq))] =
            unquote(text::trimSpace(trimmed.substr(eq + 1)));
    }
    return values;
}

}  // namespace

std::vector<std::string> defaultOsReleasePaths() {
    return {"/etc/os-release", "/usr/lib/os-release"};
}

std::string distributionName(std::string_view osRelease) {
    const auto values = parseOsRelease(osRelease);
    const auto get = [&](const char* key) {
        const auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    };
    if (std::string pretty = get("PRETTY_NAME"); !pretty.empty()) {
        return pretty;
    }
    std::string name = get("NAME");
    if (const std::string version = get("VERSION"); !version.empty()) {
        name += name.empty() ? version : " " + version;
    }
    return name;
}

SystemFacts gatherSystemFacts(const std::string& programFolder, const std::string& logPath,
                              const std::vector<std::string>& osReleasePaths) {
    SystemFacts facts;
    facts.kestrelVersion = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) +
                           " rev. " + std::to_string(kVersionRevision);
    facts.qtVersion = qVersion();
    for (const std::string& path : osReleasePaths) {
        if (auto text = fs::readFile(path)) {
            facts.distribution = distributionName(*text);
            break;
        }
    }
    const std::string kernelType = QSysInfo::kernelType().toStdString();
    const std::string kernelVersion = QSysInfo::kernelVersion().toStdString();
    facts.kernel = kernelType.empty() || kernelVersion.empty() ? kernelType + kernelVersion
                                                               : kernelType + " " + kernelVersion;
    facts.architecture = QSysInfo::currentCpuArchitecture().toStdString();
    facts.programFolder = programFolder;
    facts.logPath = logPath;
    return facts;
}

std::string systemFactsText(const SystemFacts& facts) {
    // Kept in English whatever the language: the lines go into bug reports.
    const std::pair<const char*, const std::string*> lines[] = {
        {"Kestrel version", &facts.kestrelVersion},
        {"Qt version", &facts.qtVersion},
        {"Distribution", &facts.distribution},
        {"Kernel", &facts.kernel},
        {"Architecture", &facts.architecture},
        {"Program folder", &facts.programFolder},
        {"Log file", &facts.logPath},
    };
    std::string text;
    bool known = false;
    for (const auto& [label, value] : lines) {
        known = known || !value->empty();
        text += std::string(label) + ": " + (value->empty() ? "unknown" : *value) + "\n";
    }
    if (!known) {
        return "";
    }
    text.pop_back();
    return text;
}

}  // namespace kestrel::ui
