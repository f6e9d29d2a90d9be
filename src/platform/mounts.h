// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whether a folder lies on a removable disk that is not there. Removable disks are mounted
// below /media (udisks: /media/USER/DISK, usbmount: /media/usb0), /run/media (/run/media/USER/
// DISK) and /mnt; a folder made there while the disk is unplugged lands on the system disk (or
// in memory, for /run) instead.
namespace kestrel::mounts {

// The mount points a mountinfo text (as /proc/self/mountinfo) lists, with the octal escapes of
// blanks and other characters ("\040") decoded. Malformed lines are left out.
std::vector<std::string> parseMountInfo(std::string_view text);

// The folder below which the path expects a mounted disk (/media, /run/media or /mnt); nothing
// for any other path and for those folders themselves. path is absolute and normalised.
std::optional<std::string> removableRoot(std::string_view path);

// Whether a folder to be made at path would not be on a removable disk: path lies below a
// removable root and no mount point lies between that root (inclusive) and existing, the
// deepest folder of path that exists (inclusive). Paths are absolute and normalised.
bool belowUnmountedPoint(std::string_view path, std::string_view existing,
                         const std::vector<std::string>& mountPoints);

// The same for the running system: false when the folder exists. The mount points are read
// from /proc/self/mountinfo, or taken from mountInfo when given (tests); where the system does
// not list them, a folder whose device differs from its parent's counts as one.
bool onUnmountedDisk(const std::string& path,
                     const std::optional<std::string>& mountInfo = std::nullopt);

}  // namespace kestrel::mounts
