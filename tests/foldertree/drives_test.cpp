// SPDX-License-Identifier: GPL-3.0-or-later
#include "foldertree/drives.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace kestrel {
namespace {

// Lines as a Debian desktop's /proc/self/mountinfo has them.
const char* const kDesktop =
    "22 28 0:20 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw\n"
    "23 28 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "24 28 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev rw,size=8000000k\n"
    "25 24 0:22 / /dev/pts rw,nosuid,noexec,relatime shared:3 - devpts devpts rw,gid=5\n"
    "26 28 0:23 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,mode=755\n"
    "28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "29 22 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw\n"
    "30 24 0:28 / /dev/shm rw,nosuid,nodev shared:4 - tmpfs tmpfs rw\n"
    "45 28 259:1 / /boot/efi rw,relatime shared:30 - vfat /dev/nvme0n1p1 rw,fmask=0077\n"
    "46 28 259:3 / /home rw,relatime shared:31 - xfs /dev/nvme0n1p3 rw\n"
    "60 26 0:40 / /run/user/1000 rw,nosuid,nodev,relatime shared:300 - tmpfs tmpfs rw\n"
    "61 60 0:41 / /run/user/1000/gvfs rw,nosuid,nodev shared:310 - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "70 26 8:17 / /run/media/u/USB\\040STICK rw,nosuid shared:400 - exfat /dev/sdb1 rw\n"
    "71 28 0:50 / /mnt/nas rw,relatime shared:410 - nfs4 nas:/export rw,vers=4.2\n"
    "72 28 0:51 / /mnt/share\\011tab rw,relatime shared:411 - cifs //srv/share rw\n"
    "73 28 0:52 / /mnt/remote rw,nosuid,nodev shared:412 - fuse.sshfs u@host: rw\n"
    "74 28 8:33 / /mnt/win rw,relatime shared:413 - fuseblk /dev/sdc1 rw\n"
    "75 28 7:0 / /snap/core/17200 ro,nodev,relatime shared:414 - squashfs /dev/loop0 ro\n"
    "76 28 0:53 / /mnt/auto rw,relatime shared:415 - autofs systemd-1 rw\n"
    "77 28 0:54 / /mnt/back\\134slash rw,relatime - btrfs /dev/sdd1 rw\n";

TEST(MountInfo, KeepsTheRealFileSystemsInTheirOrderOnce) {
    EXPECT_EQ(parseMountInfo(QString::fromUtf8(kDesktop)),
              QStringList({"/", "/boot/efi", "/home", "/run/media/u/USB STICK", "/mnt/nas",
                           "/mnt/share\ttab", "/mnt/remote", "/mnt/win", "/mnt/back\\slash"}));
    const std::pair<const char*, QStringList> cases[] = {
        // Any number of optional fields.
        {"51 28 8:2 / /b rw shared:1 master:2 propagate_from:3 unbindable - ext4 /dev/sda2 rw\n",
         {"/b"}},
        // Lines that are not well formed.
        {"\ngarbage\n52 28 8:1 / /no-dash rw shared:1 ext4 /dev/sda1 rw\n"
         "53 28 8:1 / /no-type rw -\n54 28 8:1 / relative rw - ext4 /dev/sda1 rw\n55 28 8:1 / "
         "/kept rw - ext4 /dev/sda1 rw",
         {"/kept"}},
        // A backslash that starts no escape is kept.
        {"56 28 8:1 / /x\\12 rw - ext4 /dev/sda1 rw\n57 28 8:1 / /y\\9zz rw - ext4 /dev/sda1 rw\n"
         "58 28 8:1 / /z\\040 rw - ext4 /dev/sda1 rw\n",
         {"/x\\12", "/y\\9zz", "/z "}},
    };
    for (const auto& [text, mounts] : cases) {
        EXPECT_EQ(parseMountInfo(QString::fromUtf8(text)), mounts) << text;
    }
}

}  // namespace
}  // namespace kestrel
