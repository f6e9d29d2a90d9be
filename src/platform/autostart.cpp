// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/autostart.h"

#include <string_view>

#include "platform/fs.h"
#include "platform/program_folder.h"

namespace kestrel {
namespace {

// A text as a value of the desktop entry format, escaped so that it reads back as it is.
std::string entryValue(std::string_view text) {
    std::string value;
    for (const char c : text) {
        switch (c) {
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            case '\\':
                value += "\\\\";
                break;
            default:
                value += c;
        }
    }
    return value;
}

// The program as one argument of Exec: quoted where it holds a reserved character, and its
// % doubled, which would otherwise start a field code.
std::string execArgument(std::string_view path) {
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string argument;
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            argument += '\\';
        }
        argument += c == '%' ? std::string("%%") : std::string(1, c);
    }
    if (path.find_first_of(kReserved) != std::string_view::npos) {
        argument = '"' + argument + '"';
    }
    return entryValue(argument);
}

}  // namespace

std::string autostartEntryPath() {
    const std::string config = userConfigHome();
    return config.empty() ? "" : fs::join(config, "autostart/kestrel.desktop");
}

std::string autostartEntryText(const std::string& executable, const std::string& comment) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kestrel\n"
           "Comment=" +
           entryValue(comment) +
           "\n"
           "Exec=" +
           execArgument(executable) +
           "\n"
           "Icon=kestrel\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool autostartEnabled() {
    const std::string path = autostartEntryPath();
    const auto text = path.empty() ? std::nullopt : fs::readFile(path);
    if (!text) {
        return false;
    }
    for (std::string_view line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        const size_t at = text->find(line);
        if (at != std::string::npos && (at == 0 || (*text)[at - 1] == '\n')) {
            return false;
        }
    }
    return true;
}

bool setAutostart(bool on, const std::string& comment, std::string* error) {
    const std::string path = autostartEntryPath();
    if (path.empty()) {
        if (error != nullptr) {
            *error = "HOME is not set";
        }
        return false;
    }
    if (!on) {
        return !fs::exists(path) || fs::removeFile(path, error);
    }
    return fs::makeDirs(fs::parentOf(path), error) &&
           fs::writeFileAtomic(path, autostartEntryText(fs::executablePath(), comment), 0644,
                               error);
}

}  // namespace kestrel
