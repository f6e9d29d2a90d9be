// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/safe_dir.h"
#include "platform/status.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <random>
#include <vector>

#include "platform/fs.h"

namespace kestrel {
namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr size_t kNameMax = 255;
constexpr const char* kTempInfix = ".kestrel-";
constexpr int kTempRandomChars = 6;

void fail(std::string* error, const std::string& what, const std::string& why) {
    if (error != nullptr) {
        *error = what + ": " + why;
    }
}

void setError(std::string* error, const std::string& what, int err) {
    tellError(Status::fromErrno(err, what), error);
}

// One entry of the folder: a name with a separator in it would walk further (and follow links).
bool isEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool checkName(const std::string& dir, const std::string& name, std::string* error) {
    if (isEntryName(name)) {
        return true;
    }
    fail(error, "cannot use \"" + name + "\" in " + dir, "not a plain file name");
    return false;
}

bool isTempChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The part of a final name that its temporary name keeps: a long name is cut so that the
// suffix still fits.
std::string_view tempStem(std::string_view finalName) {
    const size_t suffix = std::char_traits<char>::length(kTempInfix) + kTempRandomChars;
    return finalName.substr(0, kNameMax - suffix);
}

// The final name's stem of a temporary name; nothing when name is not one.
std::optional<std::string_view> stemOfTemp(std::string_view name) {
    const std::string_view infix = kTempInfix;
    const size_t suffix = infix.size() + kTempRandomChars;
    if (name.size() <= suffix || name.substr(name.size() - suffix, infix.size()) != infix) {
        return std::nullopt;
    }
    for (char c : name.substr(name.size() - kTempRandomChars)) {
        if (!isTempChar(c)) {
            return std::nullopt;
        }
    }
    return name.substr(0, name.size() - suffix);
}

std::string randomChars(int count) {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 gen{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += kChars[pick(gen)];
    }
    return out;
}

int openChild(int dir, const std::string& name) {
    return ::openat(dir, name.c_str(), kDirFlags | O_NOFOLLOW);
}

// Follows the link name in dir when the policy allows it. The owner and the target are read
// through one descriptor of the link itself, so that a link swapped in between the check and
// the open cannot lend its owner to another's target.
int followLink(int dir, const std::string& name, const std::string& path,
               SafeDir::LinkPolicy policy, std::string* error) {
    const std::string what = "cannot open folder " + path;
    if (policy == SafeDir::LinkPolicy::Never) {
        fail(error, what, "it is a symbolic link, which is not followed here");
        return -1;
    }
    const UniqueFd link(::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (link.get() < 0 || ::fstat(link.get(), &st) != 0) {
        const int err = errno;
        setError(error, what, err);
        return -1;
    }
    if (!S_ISLNK(st.st_mode)) {
        fail(error, what, "it changed while it was being opened");
        return -1;
    }
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        fail(error, what,
             "it is a symbolic link owned by another user (uid " + std::to_string(st.st_uid) +
                 "), which is not followed");
        return -1;
    }
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(link.get(), "", target, sizeof target);
    if (n < 0 || static_cast<size_t>(n) >= sizeof target) {
        const int err = n < 0 ? errno : ENAMETOOLONG;
        setError(error, what, err);
        return -1;
    }
    const std::string to(target, static_cast<size_t>(n));
    // A relative target starts from the folder that holds the link, as the system would take it.
    const int fd = ::openat(dir, to.c_str(), kDirFlags);
    if (fd < 0) {
        const int err = errno;
        setError(error, what + " (a symbolic link to " + to + ")", err);
    }
    return fd;
}

}  // namespace

std::optional<SafeDir> SafeDir::open(const std::string& root, const std::string& relative,
                                     bool create, LinkPolicy policy, std::string* error) {
    if (root.empty()) {
        setError(error, "cannot open a folder without a name", EINVAL);
        return std::nullopt;
    }
    // All components are checked before the first folder is made, so that a refused path
    // leaves nothing behind.
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find(fs::kSeparator, start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        std::string part = relative.substr(start, end - start);
        if (part == "..") {
            fail(error, "cannot open folder " + fs::join(root, relative),
                 "\"..\" is not allowed in it");
            return std::nullopt;
        }
        if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }

    UniqueFd fd(::open(root.c_str(), kDirFlags));
    if (!fd.valid()) {
        const int err = errno;
        setError(error, "cannot open folder " + root, err);
        return std::nullopt;
    }
    SafeDir dir(std::move(fd), root);
    for (const std::string& part : parts) {
        if (!dir.enter(part, create, policy, error)) {
            return std::nullopt;
        }
    }
    return dir;
}

bool SafeDir::enter(const std::string& name, bool create, LinkPolicy policy, std::string* error) {
    const std::string path = fs::join(m_path, name);
    int fd = openChild(m_fd.get(), name);
    if (fd < 0 && errno == ENOENT && create) {
        // EEXIST: made meanwhile by someone else; the open below tells what it is.
        if (::mkdirat(m_fd.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
            const int err = errno;
            setError(error, "cannot create folder " + path, err);
            return false;
        }
        fd = openChild(m_fd.get(), name);
    }
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (::fstatat(m_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            setError(error, "cannot open folder " + path, err);
            return false;
        }
        if (!S_ISLNK(st.st_mode)) {
            setError(error, "cannot open folder " + path, S_ISDIR(st.st_mode) ? err : ENOTDIR);
            return false;
        }
        fd = followLink(m_fd.get(), name, path, policy, error);
        if (fd < 0) {
            return false;
        }
    }
    m_fd.reset(fd);
    m_path = path;
    return true;
}

bool SafeDir::createTemp(const std::string& finalName, FileHandle& out, std::string* tempName,
                         std::string* error, unsigned mode) {
    if (!checkName(m_path, finalName, error)) {
        return false;
    }
    const std::string stem(tempStem(finalName));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + kTempInfix + randomChars(kTempRandomChars);
        const int fd =
            ::openat(m_fd.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     static_cast<mode_t>(mode & 0777));
        if (fd >= 0) {
            // A file system without locks still gets the file; only its being told from a
            // leftover is lost there.
            (void)::flock(fd, LOCK_EX | LOCK_NB);
            *tempName = name;
            return out.adopt(fd, fs::join(m_path, name));
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const int err = errno;
    setError(error, "cannot create a temporary file beside " + fs::join(m_path, finalName), err);
    return false;
}

bool SafeDir::isTempNameFor(std::string_view name, std::string_view finalName) {
    const auto stem = stemOfTemp(name);
    return stem && *stem == tempStem(finalName);
}

std::vector<std::string> SafeDir::tempNames() const {
    std::vector<std::string> names = entries().value_or(std::vector<std::string>());
    std::erase_if(names, [](const std::string& name) { return !isTempName(name); });
    return names;
}

bool SafeDir::isTempName(std::string_view name) {
    return stemOfTemp(name).has_value();
}

std::optional<std::vector<std::string>> SafeDir::entries() const {
    // A descriptor of its own: the folder's is not moved through its entries.
    UniqueFd fd(::openat(m_fd.get(), ".", kDirFlags));
    DIR* d = fd.valid() ? ::fdopendir(fd.get()) : nullptr;
    if (d == nullptr) {
        return std::nullopt;
    }
    fd.release();  // closedir closes it
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(d);
    return names;
}

bool SafeDir::removeTempLeftover(const std::string& name, std::string* error) {
    if (!checkName(m_path, name, error) || !stemOfTemp(name)) {
        return false;
    }
    const UniqueFd file(
        ::openat(m_fd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return false;
    }
    // A writer holds its file locked from its creation until it is renamed or removed: a lock
    // had here means the writer is gone.
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    if (::unlinkat(m_fd.get(), name.c_str(), 0) != 0) {
        const int err = errno;
        setError(error, "cannot delete " + fs::join(m_path, name), err);
        return false;
    }
    return true;
}

bool SafeDir::createLink(const std::string& name, const std::string& target, std::string* error) {
    if (!checkName(m_path, name, error)) {
        return false;
    }
    if (target.empty() || target.find('\0') != std::string::npos) {
        fail(error, "cannot make the link " + fs::join(m_path, name), "its target is empty");
        return false;
    }
    const std::string stem(tempStem(name));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = stem + kTempInfix + randomChars(kTempRandomChars);
        if (::symlinkat(target.c_str(), m_fd.get(), temp.c_str()) == 0) {
            if (isFolder(name)) {
                ::unlinkat(m_fd.get(), temp.c_str(), 0);
                fail(error, "cannot make the link " + fs::join(m_path, name),
                     "a folder has that name");
                return false;
            }
            if (::renameat(m_fd.get(), temp.c_str(), m_fd.get(), name.c_str()) != 0) {
                const int err = errno;
                ::unlinkat(m_fd.get(), temp.c_str(), 0);
                setError(error, "cannot make the link " + fs::join(m_path, name), err);
                return false;
            }
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const int err = errno;
    setError(error, "cannot make the link " + fs::join(m_path, name), err);
    return false;
}

bool SafeDir::makeFolder(const std::string& name, std::string* error) {
    if (!checkName(m_path, name, error)) {
        return false;
    }
    if (::mkdirat(m_fd.get(), name.c_str(), 0700) == 0 || (errno == EEXIST && isFolder(name))) {
        return true;
    }
    const int err = errno == EEXIST ? ENOTDIR : errno;
    setError(error, "cannot make the folder " + fs::join(m_path, name), err);
    return false;
}

bool SafeDir::setFacts(const std::string& name, std::int64_t mode, std::int64_t uid,
                       std::int64_t gid, std::string* error) {
    if (!checkName(m_path, name, error)) {
        return false;
    }
    const std::string what = "cannot set the owner or mode of " + fs::join(m_path, name);
    if ((uid >= 0 || gid >= 0) &&
        ::fchownat(m_fd.get(), name.c_str(),
                   uid >= 0 ? static_cast<uid_t>(uid) : static_cast<uid_t>(-1),
                   gid >= 0 ? static_cast<gid_t>(gid) : static_cast<gid_t>(-1),
                   AT_SYMLINK_NOFOLLOW) != 0) {
        const int err = errno;
        setError(error, what, err);
        return false;
    }
    if (mode < 0) {
        return true;
    }
    // Set after the owner, which clears set-id bits, and through a descriptor of the entry
    // itself: a link swapped in for it is not followed.
    const UniqueFd entry(
        ::openat(m_fd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (entry.get() < 0 && errno == ELOOP) {
        return true;  // a link has no bits of its own
    }
    if (entry.get() < 0 || ::fchmod(entry.get(), static_cast<mode_t>(mode & 07777)) != 0) {
        const int err = errno;
        setError(error, what, err);
        return false;
    }
    return true;
}

bool SafeDir::isFolder(const std::string& name) const {
    struct stat st {};
    return ::fstatat(m_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
}

bool SafeDir::renameInto(const std::string& tempName, const std::string& finalName,
                         std::string* error, bool flushFolder) {
    if (!checkName(m_path, tempName, error) || !checkName(m_path, finalName, error)) {
        return false;
    }
    if (::renameat(m_fd.get(), tempName.c_str(), m_fd.get(), finalName.c_str()) != 0) {
        const int err = errno;
        setError(
            error,
            "cannot rename " + fs::join(m_path, tempName) + " to " + fs::join(m_path, finalName),
            err);
        return false;
    }
    // EINVAL: a file system that cannot flush folders at all; nothing more can be done there.
    if (flushFolder && ::fsync(m_fd.get()) != 0 && errno != EINVAL) {
        const int err = errno;
        setError(error, "cannot flush folder " + m_path, err);
        return false;
    }
    return true;
}

bool SafeDir::remove(const std::string& name, std::string* error) {
    if (!checkName(m_path, name, error)) {
        return false;
    }
    if (::unlinkat(m_fd.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
        const int err = errno;
        setError(error, "cannot delete " + fs::join(m_path, name), err);
        return false;
    }
    return true;
}

bool SafeDir::isLink(const std::string& name) const {
    struct stat st {};
    return isEntryName(name) &&
           ::fstatat(m_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(st.st_mode);
}

bool SafeDir::exists(const std::string& name) const {
    struct stat st {};
    return isEntryName(name) && ::fstatat(m_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void DeferredSync::add(const SafeDir& dir) {
    struct stat st {};
    if (::fstat(dir.fd(), &st) != 0) {
        return;
    }
    const auto device = static_cast<std::uint64_t>(st.st_dev);
    for (const Remembered& r : m_fds) {
        if (r.device == device) {
            return;
        }
    }
    UniqueFd fd(::fcntl(dir.fd(), F_DUPFD_CLOEXEC, 0));
    if (fd.valid()) {
        m_fds.push_back({device, std::move(fd), dir.path()});
    }
}

bool DeferredSync::flush(std::string* error) {
    bool ok = true;
    for (const Remembered& r : m_fds) {
        // syncfs reports a write that failed since this descriptor was opened.
        if (::syncfs(r.fd.get()) != 0 && ok) {
            setError(error, "cannot flush the files written in " + r.path + " to disk", errno);
            ok = false;
        }
    }
    return ok;
}

}  // namespace kestrel
