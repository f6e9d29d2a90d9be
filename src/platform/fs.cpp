// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <functional>
#include <random>

namespace kestrel::fs {
namespace {

void setError(std::string* error, const std::string& what, int err) {
    tellError(Status::fromErrno(err, what), error);
}

bool writeAll(int fd, std::string_view data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string join(std::string_view a, std::string_view b) {
    if (a.empty()) {
        return std::string(b);
    }
    if (b.empty()) {
        return std::string(a);
    }
    std::string out(a);
    const bool aEnds = out.back() == kSeparator;
    const bool bStarts = b.front() == kSeparator;
    if (aEnds && bStarts) {
        out.append(b.substr(1));
    } else if (aEnds || bStarts) {
        out.append(b);
    } else {
        out += kSeparator;
        out.append(b);
    }
    return out;
}

std::string parentOf(std::string_view path) {
    const size_t pos = path.find_last_of(kSeparator);
    if (pos == std::string_view::npos) {
        return "";
    }
    if (pos == 0) {
        return "/";
    }
    return std::string(path.substr(0, pos));
}

std::string fileNameOf(std::string_view path) {
    const size_t pos = path.find_last_of(kSeparator);
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

FileStamp stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
    stamp.inode = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<std::int64_t>(st.st_size);
    stamp.changeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 +
                     static_cast<std::int64_t>(st.st_ctim.tv_nsec);
    return stamp;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isWritableDirectory(const std::string& path) {
    return isDirectory(path) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::int64_t> fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_size);
}

namespace {

bool makeDirsWithMode(const std::string& path, mode_t mode, std::string* error) {
    if (path.empty()) {
        setError(error, "cannot create a folder without a name", EINVAL);
        return false;
    }
    if (isDirectory(path)) {
        return true;
    }
    const std::string parent = parentOf(path);
    if (!parent.empty() && parent != path && !makeDirsWithMode(parent, mode, error)) {
        return false;
    }
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        setError(error, "cannot create folder " + path, errno);
        return false;
    }
    if (!isDirectory(path)) {
        setError(error, "cannot create folder " + path, ENOTDIR);  // something else is there
        return false;
    }
    return true;
}

}  // namespace

bool makeDirs(const std::string& path, std::string* error) {
    return makeDirsWithMode(path, 0777, error);
}

bool makePrivateDirs(const std::string& path, std::string* error) {
    // The umask can only take bits away from 0700: what is made is never more open.
    return makeDirsWithMode(path, 0700, error);
}

bool makePrivate(const std::string& path, std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        setError(error, "cannot read the mode of " + path, errno);
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), st.st_mode & 07700) != 0) {
        setError(error, "cannot make " + path + " private", errno);
        return false;
    }
    return true;
}

bool makeOwnPrivateDir(const std::string& path, std::string* error) {
    if (!makePrivateDirs(path, error)) {
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        setError(error, "cannot read the mode of " + path, errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        setError(error, path + " is not a folder of this user's", EPERM);
        return false;
    }
    return makePrivate(path, error);
}

bool removeFile(const std::string& path, std::string* error) {
    if (::unlink(path.c_str()) != 0) {
        setError(error, "cannot delete " + path, errno);
        return false;
    }
    return true;
}

bool renameFile(const std::string& from, const std::string& to, std::string* error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        setError(error, "cannot rename " + from + " to " + to, errno);
        return false;
    }
    return true;
}

std::optional<std::vector<std::string>> listDir(const std::string& path, std::string* error) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        setError(error, "cannot list " + path, errno);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (struct dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(dir);
    return names;
}

std::optional<std::unordered_map<std::string, EntryFacts>> regularFilesIn(
    const std::string& folder, const std::function<bool(std::string_view)>& wanted) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::unordered_map<std::string, EntryFacts> files;
    const int fd = ::dirfd(dir);
    while (struct dirent* entry = ::readdir(dir)) {
        // The type in the entry spares a look at folders and links; some file systems leave
        // it unknown.
        if ((entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) || !wanted(entry->d_name)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        files.emplace(entry->d_name, EntryFacts{static_cast<std::int64_t>(st.st_size),
                                                static_cast<std::int64_t>(st.st_mtim.tv_sec),
                                                static_cast<std::int32_t>(st.st_mtim.tv_nsec),
                                                static_cast<unsigned>(st.st_mode & 07777)});
    }
    ::closedir(dir);
    return files;
}

bool deleteFilesIn(const std::string& path, std::string* error) {
    auto names = listDir(path, error);
    if (!names) {
        return false;
    }
    bool ok = true;
    for (const std::string& name : *names) {
        const std::string full = join(path, name);
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            ok = removeFile(full, error) && ok;
        }
    }
    return ok;
}

std::optional<std::string> readFile(const std::string& path, std::string* error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        setError(error, "cannot open " + path, errno);
        return std::nullopt;
    }
    std::string data;
    // Sized once: growing by doubling would hold up to twice a large file's size and copy it.
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        data.reserve(static_cast<size_t>(st.st_size) + 1);
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            setError(error, "cannot read " + path, errno);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

bool writeFileAtomic(const std::string& path, std::string_view data, unsigned mode,
                     std::string* error) {
    std::string tmpl = path + std::string(kAtomicInfix) + "XXXXXX";
    UniqueFd fd(::mkstemp(tmpl.data()));
    if (fd.get() < 0) {
        setError(error, "cannot create a temporary file beside " + path, errno);
        return false;
    }
    auto fail = [&](const std::string& what) {
        setError(error, what, errno);
        ::unlink(tmpl.c_str());
        return false;
    };
    if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0) {
        return fail("cannot set the mode of " + tmpl);
    }
    if (!writeAll(fd.get(), data)) {
        return fail("cannot write " + tmpl);
    }
    if (::fsync(fd.get()) != 0) {
        return fail("cannot flush " + tmpl);
    }
    if (!fd.close()) {
        return fail("cannot close " + tmpl);
    }
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
        return fail("cannot rename " + tmpl + " to " + path);
    }
    // The rename itself is only durable once the folder is flushed: a failed flush is a failed
    // write, though the new content may already be in place. EINVAL: a file system that cannot
    // flush folders at all.
    const std::string dir = parentOf(path).empty() ? "." : parentOf(path);
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0 && ::fsync(dirFd.get()) != 0 && errno != EINVAL) {
        const int err = errno;
        std::string what = "cannot flush the folder ";
        what += dir;
        setError(error, what, err);
        return false;
    }
    return true;
}

bool appendToFile(const std::string& path, std::string_view data, unsigned mode,
                  std::string* error) {
    UniqueFd fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, static_cast<mode_t>(mode)));
    if (fd.get() < 0) {
        setError(error, "cannot open " + path, errno);
        return false;
    }
    if (!writeAll(fd.get(), data)) {
        setError(error, "cannot write " + path, errno);
        return false;
    }
    if (!fd.close()) {
        setError(error, "cannot close " + path, errno);
        return false;
    }
    return true;
}

std::optional<std::int64_t> AppendFile::size() {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
        close();
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(st.st_dev) != m_device ||
        static_cast<std::uint64_t>(st.st_ino) != m_inode) {
        close();
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool AppendFile::append(std::string_view data, std::string* error) {
    if (!m_fd.valid()) {
        m_fd.reset(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                          static_cast<mode_t>(m_mode)));
        struct stat st {};
        if (!m_fd.valid() || ::fstat(m_fd.get(), &st) != 0) {
            setError(error, "cannot open " + m_path, errno);
            close();
            return false;
        }
        // A file made by an older version may allow more than it should. Another user's file
        // cannot be changed; it is written all the same.
        if ((st.st_mode & 07777 & ~static_cast<mode_t>(m_mode)) != 0) {
            static_cast<void>(::fchmod(m_fd.get(), st.st_mode & static_cast<mode_t>(m_mode)));
        }
        m_device = static_cast<std::uint64_t>(st.st_dev);
        m_inode = static_cast<std::uint64_t>(st.st_ino);
    }
    if (!writeAll(m_fd.get(), data)) {
        setError(error, "cannot write " + m_path, errno);
        return false;
    }
    return true;
}

void AppendFile::close() {
    m_fd.reset();
}

std::string absolutePath(std::string_view path) {
    std::string full;
    if (path.empty() || path.front() != kSeparator) {
        char buf[PATH_MAX];
        full = ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string("/");
        full += kSeparator;
    }
    full.append(path);
    std::vector<std::string_view> parts;
    size_t start = 0;
    const std::string_view view = full;
    while (start <= view.size()) {
        size_t end = view.find(kSeparator, start);
        if (end == std::string_view::npos) {
            end = view.size();
        }
        const std::string_view part = view.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string_view part : parts) {
        out += kSeparator;
        out.append(part);
    }
    return out.empty() ? std::string(1, kSeparator) : out;
}

namespace {

// The process's umask, read once (a program that changes it later gets copies with fewer
// bits, never more); nothing when it cannot be read.
std::optional<mode_t> processUmask() {
    static const std::optional<mode_t> mask = []() -> std::optional<mode_t> {
        const auto status = readFile("/proc/self/status");
        const size_t at = status ? status->find("\nUmask:") : std::string::npos;
        if (at == std::string::npos) {
            return std::nullopt;
        }
        return static_cast<mode_t>(std::strtoul(status->c_str() + at + 7, nullptr, 8));
    }();
    return mask;
}

// Creates path + infix + six letters and digits, new, with the given mode: what mkstemp does,
// with the final mode from the start.
UniqueFd createBeside(const std::string& path, std::string_view infix, mode_t mode,
                      std::string* made, int folder = -1) {
    static constexpr std::string_view kLetters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = path + std::string(infix);
        std::uint64_t bits = random();
        for (int i = 0; i < 6; ++i) {
            name += kLetters[bits % kLetters.size()];
            bits /= kLetters.size();
        }
        UniqueFd fd(folder >= 0
                        ? ::openat(folder, std::string(fileNameOf(name)).c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode)
                        : ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd.valid() || errno != EEXIST) {
            *made = std::move(name);
            return fd;
        }
    }
    return UniqueFd(-1);
}

}  // namespace

UniqueFd openFolder(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool copyFile(const std::string& from, const std::string& to, Status* status,
              const std::function<bool()>& keepGoing, CopyMode mode, int intoFolder,
              int fromFolder) {
    const auto tell = [&](Status why) {
        if (status != nullptr) {
            *status = std::move(why);
        }
        return false;
    };
    // O_NONBLOCK: a FIFO put in the file's place must not hang the open. Reading a regular file
    // ignores it; where a file system does not, it is cleared when a read would block.
    UniqueFd in(fromFolder >= 0 ? ::openat(fromFolder, fileNameOf(from).c_str(),
                                           O_RDONLY | O_CLOEXEC | O_NONBLOCK)
                                : ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0) {
        return tell(Status::fromErrno(errno, "cannot open " + from));
    }
    if (!S_ISREG(st.st_mode)) {
        return tell(Status::failure("not a regular file: " + from));
    }
    // Never the set-id bits: a copy must not run as anyone but its caller.
    const mode_t bits = mode == CopyMode::Private ? 0600 : (st.st_mode & 0700);
    // The copy is written beside its name, with its final mode, and renamed into place when
    // complete, so that a copy cut short (a kill, a crash) never lies under the file's name.
    std::string tmpl;
    UniqueFd out = createBeside(to, kPartInfix, bits, &tmpl, intoFolder);
    if (out.get() < 0) {
        return tell(Status::fromErrno(errno, "cannot create " + to));
    }
    const std::string tmplName(fileNameOf(tmpl));
    const auto removeTemp = [&] {
        if (intoFolder >= 0) {
            ::unlinkat(intoFolder, tmplName.c_str(), 0);
        } else {
            ::unlink(tmpl.c_str());
        }
    };
    auto fail = [&](const std::string& what) {
        const Status why = Status::fromErrno(errno, what);
        removeTemp();
        return tell(why);
    };
    // copy_file_range lets the kernel move the bytes; fall back to read/write where it cannot.
    // Pieces are small enough that the caller is asked to go on several times a second. The
    // copy ends at end of file, or once the size the file had when opened is copied.
    bool kernelCopy = true;
    std::vector<char> buffer;
    std::int64_t copied = 0;
    for (;;) {
        if (keepGoing && !keepGoing()) {
            removeTemp();
            return tell(Status::failure("copy of " + from + " cancelled"));
        }
        ssize_t n = 0;
        if (kernelCopy) {
            n = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, 32 << 20, 0);
            if (n < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            buffer.resize(1 << 20);
            n = ::read(in.get(), buffer.data(), buffer.size());
            if (n > 0 &&
                !writeAll(out.get(), std::string_view(buffer.data(), static_cast<size_t>(n)))) {
                return fail("cannot write " + to);
            }
        }
        if (n < 0) {
            const int err = errno;
            if (err == EINTR) {
                continue;
            }
            if (err == EAGAIN) {
                ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
                continue;
            }
            std::string what;
            if (err == ENOSPC || err == EDQUOT) {
                what = "cannot write ";
                what += to;
            } else if (kernelCopy) {
                // The kernel's copy does not tell whether reading or writing failed.
                what = "cannot copy ";
                what += from;
                what += " to ";
                what += to;
            } else {
                what = "cannot read ";
                what += from;
            }
            errno = err;
            return fail(what);
        }
        copied += n;
        if (n == 0 || (st.st_size > 0 && copied >= st.st_size)) {
            break;
        }
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    const std::optional<mode_t> umask = processUmask();
    if ((!umask || (bits & *umask) != 0) && ::fchmod(out.get(), bits) != 0) {
        return fail("cannot set the attributes of " + to);
    }
    if (::futimens(out.get(), times) != 0) {
        return fail("cannot set the attributes of " + to);
    }
    if (!out.close()) {
        return fail("cannot write " + to);
    }
    if ((intoFolder >= 0 ? ::renameat(intoFolder, tmplName.c_str(), intoFolder,
                                      std::string(fileNameOf(to)).c_str())
                         : ::rename(tmpl.c_str(), to.c_str())) != 0) {
        return fail("cannot replace " + to);
    }
    return true;
}

namespace {

// NAME + infix + the six letters or digits mkstemp chose.
bool isLeftover(std::string_view name, std::string_view infix, std::string* stem) {
    const size_t at = name.rfind(infix);
    if (at == std::string_view::npos || at == 0 || name.size() - at != infix.size() + 6) {
        return false;
    }
    for (char c : name.substr(at + infix.size())) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    if (stem != nullptr) {
        *stem = std::string(name.substr(0, at));
    }
    return true;
}

}  // namespace

bool isCopyLeftover(std::string_view name, std::string* stem) {
    return isLeftover(name, kPartInfix, stem);
}

bool isAtomicWriteLeftover(std::string_view name, std::string* stem) {
    return isLeftover(name, kAtomicInfix, stem);
}

bool syncFile(const std::string& path, std::string* error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        setError(error, "cannot flush " + path, errno);
        return false;
    }
    return true;
}

bool syncFolder(const std::string& path) {
    UniqueFd fd(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && (::fsync(fd.get()) == 0 || errno == EINVAL);
}

void removeLeftover(const std::string& path) {
    ::remove(path.c_str());  // a file, or an empty folder
}

bool removeTree(const std::string& path, std::string* error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        setError(error, "cannot remove " + path, errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            setError(error, "cannot remove " + path, errno);
            return false;
        }
        return true;
    }
    auto names = listDir(path, error);
    if (!names) {
        return false;
    }
    bool ok = true;
    for (const std::string& name : *names) {
        ok = removeTree(join(path, name), error) && ok;
    }
    if (::rmdir(path.c_str()) != 0 && errno != ENOENT) {
        setError(error, "cannot remove " + path, errno);
        return false;
    }
    return ok;
}

std::optional<std::string> makeUniqueDir(const std::string& parent, const std::string& prefix,
                                         std::string* error) {
    std::string tmpl = join(parent, prefix + "XXXXXX");
    if (::mkdtemp(tmpl.data()) == nullptr) {
        setError(error, "cannot create a folder in " + parent, errno);
        return std::nullopt;
    }
    return tmpl;
}

std::string executablePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n <= 0 ? "" : std::string(buf, static_cast<size_t>(n));
}

std::string executableDir() {
    const std::string path = executablePath();
    return path.empty() ? "" : parentOf(path);
}

std::optional<std::string> getEnv(const char* name) {
    const char* value = ::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace kestrel::fs
