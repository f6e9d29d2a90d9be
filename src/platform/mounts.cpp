// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mounts.h"

#include <algorithm>
#include <array>

#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel::mounts {
namespace {

constexpr const char* kMountInfo = "/proc/self/mountinfo";
// Longest first, so that /run/media is not taken for a folder below something shorter.
constexpr std::array<std::string_view, 3> kRemovableRoots = {"/run/media", "/media", "/mnt"};

bool isAtOrBelow(std::string_view path, std::string_view folder) {
    if (folder == "/") {
        return !path.empty() && path.front() == '/';
    }
    return path == folder || (path.size() > folder.size() && text::startsWith(path, folder) &&
                              path[folder.size()] == '/');
}

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo writes a blank, tab, newline and backslash in a path as a backslash and three
// octal digits.
std::string unescape(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
            isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> parseMountInfo(std::string_view text) {
    std::vector<std::string> points;
    for (const std::string& line : text::split(text, '\n')) {
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT ...: the fifth field.
        std::vector<std::string_view> fields;
        std::string_view rest = line;
        while (fields.size() < 5 && !rest.empty()) {
            const size_t start = rest.find_first_not_of(' ');
            if (start == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(start);
            const size_t end = std::min(rest.find(' '), rest.size());
            fields.push_back(rest.substr(0, end));
            rest.remove_prefix(end);
        }
        if (fields.size() == 5 && fields[4].front() == '/') {
            points.push_back(unescape(fields[4]));
        }
    }
    return points;
}

std::optional<std::string> removableRoot(std::string_view path) {
    for (std::string_view root : kRemovableRoots) {
        if (path != root && isAtOrBelow(path, root)) {
            return std::string(root);
        }
    }
    return std::nullopt;
}

bool belowUnmountedPoint(std::string_view path, std::string_view existing,
                         const std::vector<std::string>& mountPoints) {
    const auto root = removableRoot(path);
    if (!root) {
        return false;
    }
    for (const std::string& point : mountPoints) {
        if (isAtOrBelow(point, *root) && isAtOrBelow(existing, point)) {
            return false;
        }
    }
    return true;
}

bool onUnmountedDisk(const std::string& path, const std::optional<std::string>& mountInfo) {
    const std::string full = fs::absolutePath(path);
    const auto root = removableRoot(full);
    if (!root || fs::exists(full)) {
        return false;
    }
    std::string existing = fs::parentOf(full);
    while (existing != "/" && !fs::isDirectory(existing)) {
        existing = fs::parentOf(existing);
    }
    std::optional<std::string> listed = mountInfo ? mountInfo : fs::readFile(kMountInfo);
    std::vector<std::string> points;
    if (listed) {
        points = parseMountInfo(*listed);
    } else {
        // A mount point is where the device changes on the way up.
        for (std::string folder = existing; isAtOrBelow(folder, *root);
             folder = fs::parentOf(folder)) {
            if (fs::stampOf(folder).device != fs::stampOf(fs::parentOf(folder)).device) {
                points.push_back(folder);
            }
        }
    }
    return belowUnmountedPoint(full, existing, points);
}

}  // namespace kestrel::mounts
