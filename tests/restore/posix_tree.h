#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/fs.h"
#include "support/temp_dir.h"

namespace kestrel::test {

// A tree with what a POSIX system keeps beyond bytes and times: private and executable files, a
// private and a set-group-id folder, links to a file, to a folder and to nowhere, and an empty
// folder; when the tests run as root, a file and a folder of another owner.
class PosixTree {
public:
    // Makes the tree below root/tree/posix.
    explicit PosixTree(const TempDir& root) : m_base(root.file("tree/posix")) {
        namespace sfs = std::filesystem;
        using p = sfs::perms;
        root.write("tree/posix/private/id_rsa", "secret key");
        root.write("tree/posix/bin/script.sh", "#!/bin/sh\necho hi\n");
        root.write("tree/posix/shared/notes.txt", "shared notes");
        sfs::create_directories(m_base + "/empty");
        sfs::permissions(m_base + "/private/id_rsa", p::owner_read | p::owner_write);
        sfs::permissions(m_base + "/private", p::owner_all);
        sfs::permissions(m_base + "/bin/script.sh", p::owner_all | p::group_read | p::group_exec |
                                                        p::others_read | p::others_exec);
        sfs::permissions(m_base + "/shared", p::owner_all | p::group_all | p::others_read |
                                                 p::others_exec | p::set_gid);
        sfs::permissions(m_base + "/empty", p::owner_all | p::group_read | p::group_exec);
        sfs::create_symlink("private/id_rsa", m_base + "/link-to-file");
        sfs::create_symlink("bin", m_base + "/link-to-folder");
        sfs::create_symlink("/nonexistent/kestrel/target", m_base + "/dangling");
        if (::geteuid() == 0) {
            EXPECT_EQ(::chown((m_base + "/shared/notes.txt").c_str(), 1234, 2345), 0);
            EXPECT_EQ(::lchown((m_base + "/link-to-folder").c_str(), 1234, 2345), 0);
            EXPECT_EQ(::chown((m_base + "/shared").c_str(), 1234, 2345), 0);
            // chown clears set-id bits.
            sfs::permissions(m_base + "/shared", p::set_gid, sfs::perm_options::add);
        }
    }

    const std::string& base() const { return m_base; }

    // Every entry below the tree, relative, as it is at the original place.
    static std::vector<std::string> entries() {
        return {"private",          "private/id_rsa", "bin",          "bin/script.sh",  "shared",
                "shared/notes.txt", "empty",          "link-to-file", "link-to-folder", "dangling"};
    }

    // Checks that restored (the tree's base as restored) holds every entry as the original:
    // kind, mode, link target, and owner when run as root.
    void expectSameBelow(const std::string& restored) const {
        for (const std::string& e : entries()) {
            struct stat a {};
            struct stat b {};
            ASSERT_EQ(::lstat((m_base + "/" + e).c_str(), &a), 0) << e;
            ASSERT_EQ(::lstat((restored + "/" + e).c_str(), &b), 0) << "missing: " << e;
            EXPECT_EQ(a.st_mode & S_IFMT, b.st_mode & S_IFMT) << e;
            if (!S_ISLNK(a.st_mode)) {
                EXPECT_EQ(a.st_mode & 07777, b.st_mode & 07777) << e;
            } else {
                EXPECT_EQ(std::filesystem::read_symlink(m_base + "/" + e),
                          std::filesystem::read_symlink(restored + "/" + e))
                    << e;
            }
            if (::geteuid() == 0) {
                EXPECT_EQ(a.st_uid, b.st_uid) << e;
                EXPECT_EQ(a.st_gid, b.st_gid) << e;
            }
        }
        EXPECT_TRUE(std::filesystem::is_empty(restored + "/empty"));
    }

private:
    std::string m_base;
};

}  // namespace kestrel::test
