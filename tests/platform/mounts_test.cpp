#include "platform/mounts.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(Mounts, ParseMountInfoTakesTheFifthFieldAndDecodesEscapes) {
    const std::string text =
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "40 27 8:17 / /media/ann/My\\040Disk rw,nosuid - vfat /dev/sdb1 rw\n"
        "41 27 8:18 /sub /mnt/back\\134slash rw - ext4 /dev/sdb2 rw\n"
        "42 27 0:5 / relative rw - tmpfs none rw\n"  // not a path: left out
        "43 27 0:6 /\n"                              // cut short
        "\n"
        "44 27 8:19 / /mnt/cut\\04 rw - ext4 /dev/sdb3 rw\n";  // incomplete escape kept as is
    EXPECT_EQ(
        mounts::parseMountInfo(text),
        (std::vector<std::string>{"/", "/media/ann/My Disk", "/mnt/back\\slash", "/mnt/cut\\04"}));
}

TEST(Mounts, AFolderBelowAMountPointThatHoldsNoDiskIsOnAnUnmountedDisk) {
    struct Case {
        const char* path;
        const char* existing;  // the deepest folder of path that exists
        std::vector<std::string> mounted;
        bool unmounted;
    };
    const std::vector<std::string> root = {"/", "/home"};
    const Case cases[] = {
        // udisks removes /media/USER/DISK when the disk goes.
        {"/media/ann/Disk/backup", "/media/ann", root, true},
        {"/media/ann/Disk/backup", "/media/ann/Disk", {"/", "/media/ann/Disk"}, false},
        {"/run/media/ann/Disk/b", "/run/media/ann", {"/", "/run"}, true},  // /run is no disk
        {"/run/media/ann/Disk/b", "/run/media/ann/Disk", {"/", "/run/media/ann/Disk"}, false},
        // An fstab mount point stays as an empty folder.
        {"/mnt/usb/backup", "/mnt/usb", root, true},
        {"/mnt/usb/backup", "/mnt/usb", {"/", "/mnt/usb"}, false},
        {"/mnt/backup", "/mnt", {"/", "/mnt"}, false},  // a disk mounted on /mnt itself
        {"/media/usb0/b", "/media/usb0", {"/", "/media/usb0"}, false},
        {"/media/usb0/b", "/", root, true},  // not even /media exists
        // A disk mounted elsewhere below the root does not carry this path.
        {"/media/ann/Disk/backup", "/media/ann", {"/", "/media/ann/Other"}, true},
        {"/mnt/usb2/backup", "/mnt", {"/", "/mnt/usb"}, true},
        // Names that only begin like a removable root, and the roots themselves.
        {"/mnt2/backup", "/", root, false},
        {"/mediafiles/x", "/", root, false},
        {"/home/ann/backup", "/home/ann", root, false},
        {"/media", "/", root, false},
        {"/mnt", "/", root, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mounts::belowUnmountedPoint(c.path, c.existing, c.mounted), c.unmounted)
            << c.path << " (existing " << c.existing << ")";
    }
}

TEST(Mounts, OnlyAFolderThatIsNotThereIsJudged) {
    test::TempDir dir;
    const std::string onlyRoot = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
    // The test's own folders are no removable disk, whether they exist or not.
    EXPECT_FALSE(mounts::onUnmountedDisk(dir.path(), onlyRoot));
    EXPECT_FALSE(mounts::onUnmountedDisk(dir.file("new/folder"), onlyRoot));
    // No disk is listed below /media, so a folder there would land on the root's disk.
    const std::string missing = "/media/kestrel-no-such-disk-7f3a/backup";
    ASSERT_FALSE(fs::exists(missing));
    EXPECT_TRUE(mounts::onUnmountedDisk(missing, onlyRoot));
    EXPECT_TRUE(
        mounts::onUnmountedDisk("/media/./kestrel-no-such-disk-7f3a/x/../backup", onlyRoot));
    EXPECT_FALSE(mounts::onUnmountedDisk("/media", onlyRoot));
}

}  // namespace
}  // namespace kestrel
