// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded to kill a program at a chosen rename, write or FTP command, or fail one of its file
// calls. N: the Nth counted call; "N+" for a FAIL_ variable: the Nth and every later one.
//   KESTREL_FAULT_MATCH             only paths (FTP: command lines) containing this text count
//   KESTREL_FAULT_KILL_AT_RENAME=N, KILL_AT_WRITE=N: SIGKILL before that rename or write
//   KESTREL_FAULT_KILL_AT_CHANGE=N  SIGKILL before the Nth write or rename, counted together
//   KESTREL_FAULT_STOP_AT_WRITE=N   SIGSTOP before that write, for the test to signal it there
//   KESTREL_FAULT_ENOSPC_AT_WRITE=N that write and every later one fail with ENOSPC
//   KESTREL_FAULT_FAIL_WRITE, FAIL_FSYNC (fsync, fdatasync, syncfs), FAIL_RENAME (rename,
//   renameat, renameat2), FAIL_OPEN (an open that creates or writes; mkstemp and its kin):
//                                   that call fails with KESTREL_FAULT_ERRNO
//   KESTREL_FAULT_ERRNO             EIO (default), ENOSPC, EDQUOT, EACCES, EPERM, EROFS, a number
//   KESTREL_FAULT_KILL_AT_FTP=N     SIGKILL before the Nth stor, RNFR, RNTO or DELE line sent
//   KESTREL_FAULT_KILL_AT_FTP_DATA=K SIGKILL once K upload bytes went out (in all, or with
//                                   KILL_AT_FTP=N in the upload of a stor at N), those sent whole
//   KESTREL_FAULT_REPORT=FILE       each fault appends "fail|kill|stop KIND N PATH" to FILE (FTP:
//                                   "kill ftp N COMMAND", "kill ftpdata K COMMAND")
//   KESTREL_FAULT_COUNT_FILE=FILE   at exit: "write=W rename=R fsync=F open=O ftp=C ftpdata=B"
// Renames count by their destination, opens by the path opened, writes (write, pwrite, pwrite64,
// copy_file_range) and flushes by their descriptor's path, standard streams excluded. FTP is
// seen in send, sendto and write on sockets, from one thread. Nothing counts unless asked for.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>  // renameat2
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

enum Kind { kWrite, kRename, kFsync, kOpen, kFtp, kFtpData, kKinds };
static const char* const kKindNames[kKinds] = {"write", "rename", "fsync",
                                               "open",  "ftp",    "ftpdata"};

// The Nth call of a kind, or (later) the Nth and every one after it.
struct Nth {
    long n;
    int later;
};

// Threads racing the first use read the same values: reading them twice is harmless.
static atomic_int g_ready;
static int g_active;
static const char* g_match;
static const char* g_report;
static const char* g_countFile;
static long g_killAtRename;
static long g_killAtWrite;
static long g_killAtChange;
static long g_stopAtWrite;
static long g_enospcAtWrite;
static long g_killAtFtp;
static long g_killAtFtpData;
static int g_ftpActive;
static struct Nth g_fail[kKinds];
static int g_errno = EIO;

static atomic_long g_counts[kKinds];
static atomic_long g_changes;  // writes and renames together

// Set while this thread looks up a real function: calls meanwhile go straight to the kernel.
static __thread int t_resolving;

static struct Nth envNth(const char* name) {
    struct Nth nth = {0, 0};
    const char* s = getenv(name);
    if (s == NULL || *s == '\0') {
        return nth;
    }
    g_active = 1;
    long n = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        if (n < 1000000000L) {
            n = n * 10 + (*s - '0');
        }
    }
    if (*s == '+') {
        nth.later = 1;
        ++s;
    }
    if (*s == '\0') {
        nth.n = n;
    }
    return nth;
}

static long envCount(const char* name) {
    const struct Nth nth = envNth(name);
    return nth.later ? 0 : nth.n;
}

static int errnoNamed(const char* s) {
    static const struct {
        const char* name;
        int value;
    } kNames[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EDQUOT", EDQUOT},
                  {"EACCES", EACCES}, {"EPERM", EPERM},   {"EROFS", EROFS}};
    if (s == NULL || *s == '\0') {
        return EIO;
    }
    for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
        if (strcmp(s, kNames[i].name) == 0) {
            return kNames[i].value;
        }
    }
    const int n = atoi(s);
    return n > 0 ? n : EIO;
}

static void readEnv(void) {
    if (atomic_load(&g_ready)) {
        return;
    }
    const char* match = getenv("KESTREL_FAULT_MATCH");
    g_match = match != NULL && *match != '\0' ? match : NULL;
    g_killAtRename = envCount("KESTREL_FAULT_KILL_AT_RENAME");
    g_killAtWrite = envCount("KESTREL_FAULT_KILL_AT_WRITE");
    g_killAtChange = envCount("KESTREL_FAULT_KILL_AT_CHANGE");
    g_stopAtWrite = envCount("KESTREL_FAULT_STOP_AT_WRITE");
    g_enospcAtWrite = envCount("KESTREL_FAULT_ENOSPC_AT_WRITE");
    g_killAtFtp = envCount("KESTREL_FAULT_KILL_AT_FTP");
    g_killAtFtpData = envCount("KESTREL_FAULT_KILL_AT_FTP_DATA");
    g_fail[kWrite] = envNth("KESTREL_FAULT_FAIL_WRITE");
    g_fail[kRename] = envNth("KESTREL_FAULT_FAIL_RENAME");
    g_fail[kFsync] = envNth("KESTREL_FAULT_FAIL_FSYNC");
    g_fail[kOpen] = envNth("KESTREL_FAULT_FAIL_OPEN");
    g_errno = errnoNamed(getenv("KESTREL_FAULT_ERRNO"));
    const char* report = getenv("KESTREL_FAULT_REPORT");
    g_report = report != NULL && *report != '\0' ? report : NULL;
    const char* countFile = getenv("KESTREL_FAULT_COUNT_FILE");
    g_countFile = countFile != NULL && *countFile != '\0' ? countFile : NULL;
    g_active = g_active || g_countFile != NULL;
    g_ftpActive = g_killAtFtp > 0 || g_killAtFtpData > 0 || g_countFile != NULL;
    atomic_store(&g_ready, 1);
}

static void* resolve(void* _Atomic* slot, const char* name) {
    void* f = atomic_load(slot);
    if (f != NULL || t_resolving) {
        return f;
    }
    t_resolving = 1;
    f = dlsym(RTLD_NEXT, name);
    t_resolving = 0;
    atomic_store(slot, f);
    return f;
}

// Appends text to the file straight through the kernel: the shim's own writes never count.
static void appendRaw(const char* file, const char* text, int flags) {
    const int fd =
        (int)syscall(SYS_openat, AT_FDCWD, file, O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0600);
    if (fd < 0) {
        return;
    }
    for (size_t done = 0, size = strlen(text); done < size;) {
        const long n = syscall(SYS_write, fd, text + done, size - done);
        if (n <= 0) {
            break;
        }
        done += (size_t)n;
    }
    syscall(SYS_close, fd);
}

static void report(const char* what, enum Kind kind, long nth, const char* path) {
    if (g_report == NULL) {
        return;
    }
    char line[PATH_MAX + 64];
    snprintf(line, sizeof line, "%s %s %ld %s\n", what, kKindNames[kind], nth,
             path != NULL ? path : "?");
    appendRaw(g_report, line, O_APPEND);
}

__attribute__((destructor)) static void writeCounts(void) {
    if (!atomic_load(&g_ready) || g_countFile == NULL) {
        return;
    }
    char line[200];
    snprintf(line, sizeof line, "write=%ld rename=%ld fsync=%ld open=%ld ftp=%ld ftpdata=%ld\n",
             atomic_load(&g_counts[kWrite]), atomic_load(&g_counts[kRename]),
             atomic_load(&g_counts[kFsync]), atomic_load(&g_counts[kOpen]),
             atomic_load(&g_counts[kFtp]), atomic_load(&g_counts[kFtpData]));
    appendRaw(g_countFile, line, O_TRUNC);
}

static int matches(const char* path) {
    return g_match == NULL || (path != NULL && strstr(path, g_match) != NULL);
}

// The target of /proc/self/fd/FD (or /proc/self/cwd for AT_FDCWD) into out, on the stack.
static int fdPath(int fd, char* out, size_t size) {
    char link[32] = "/proc/self/cwd";
    if (fd != AT_FDCWD) {
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    }
    const int saved = errno;
    const ssize_t n = readlink(link, out, size - 1);
    errno = saved;
    if (n <= 0) {
        return 0;
    }
    out[n] = '\0';
    return 1;
}

// A path given relative to a folder descriptor, made absolute.
static const char* pathAt(int dir, const char* path, char* out, size_t size) {
    if (path == NULL || path[0] == '/') {
        return path;
    }
    if (!fdPath(dir, out, size)) {
        return path;
    }
    const size_t at = strlen(out);
    snprintf(out + at, size - at, "/%s", path);
    return out;
}

// What the call is to do: 0 go ahead, else fail with *err. Kills the process itself.
static int fault(enum Kind kind, const char* path, int* err) {
    const long nth = atomic_fetch_add(&g_counts[kind], 1) + 1;
    const int change = kind == kWrite || kind == kRename;
    const long changes = change ? atomic_fetch_add(&g_changes, 1) + 1 : 0;
    if ((kind == kWrite && nth == g_killAtWrite) || (kind == kRename && nth == g_killAtRename)) {
        report("kill", kind, nth, path);
        raise(SIGKILL);
    }
    if (change && changes == g_killAtChange) {
        report("kill", kind, changes, path);
        raise(SIGKILL);
    }
    if (kind == kWrite && nth == g_stopAtWrite) {
        report("stop", kind, nth, path);
        raise(SIGSTOP);
    }
    const struct Nth fail = g_fail[kind];
    if (fail.n > 0 && (nth == fail.n || (fail.later && nth > fail.n))) {
        report("fail", kind, nth, path);
        *err = g_errno;
        return 1;
    }
    if (kind == kWrite && g_enospcAtWrite > 0 && nth >= g_enospcAtWrite) {
        report("fail", kind, nth, path);
        *err = ENOSPC;
        return 1;
    }
    return 0;
}

static int fdFault(enum Kind kind, int fd, int* err) {
    readEnv();
    if (!g_active || fd <= 2) {
        return 0;
    }
    char path[PATH_MAX];
    const int known = fdPath(fd, path, sizeof path);
    if (g_match != NULL && !(known && matches(path))) {
        return 0;
    }
    return fault(kind, known ? path : NULL, err);
}

static int pathFault(enum Kind kind, int dir, const char* path, int* err) {
    readEnv();
    if (!g_active) {
        return 0;
    }
    char full[PATH_MAX];
    const char* absolute = pathAt(dir, path, full, sizeof full);
    if (!matches(absolute)) {
        return 0;
    }
    return fault(kind, absolute, err);
}

// Only opens that create or write count.
static int openFault(int dir, const char* path, int flags, int* err) {
    const int writes = (flags & O_CREAT) != 0 || (flags & O_TRUNC) != 0 ||
                       (flags & O_ACCMODE) != O_RDONLY || (flags & O_TMPFILE) == O_TMPFILE;
    return writes && pathFault(kOpen, dir, path, err);
}

// The upload under way: its stor's connection (-1: none), command, bytes sent, whether to cut it.
static int g_storFd = -1;
static char g_storCommand[PATH_MAX];
static long g_uploadBytes;
static int g_cutThisUpload;

static int isFtpCommand(const char* text, size_t size) {
    static const char* const kCommands[] = {"stor ", "RNFR ", "RNTO ", "DELE "};
    for (size_t i = 0; i < sizeof kCommands / sizeof kCommands[0]; ++i) {
        if (size >= 5 && strncasecmp(text, kCommands[i], 5) == 0) {
            return 1;
        }
    }
    return 0;
}

// Sends the first n bytes through the kernel, so that the server gets them whole, then dies.
static void dieAfter(int fd, const char* data, size_t n, enum Kind kind, long nth,
                     const char* what) {
    report("kill", kind, nth, what);
    while (n > 0) {
        const long sent = syscall(SYS_sendto, fd, data, n, MSG_NOSIGNAL, NULL, 0);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            break;
        }
        data += sent;
        n -= (size_t)sent;
    }
    raise(SIGKILL);
}

// A counted command, another line on an upload's control connection (ending it), or upload data.
static void ftpSend(int fd, const void* buf, size_t size) {
    const char* text = buf;
    const int command = isFtpCommand(text, size);
    if (command || fd == g_storFd) {
        if (fd == g_storFd && g_cutThisUpload) {
            dieAfter(fd, text, 0, kFtpData, g_uploadBytes, g_storCommand);
        }
        g_storFd = -1;
        g_cutThisUpload = 0;
        if (!command) {
            return;
        }
        char line[PATH_MAX];
        size_t n = 0;
        for (; n < size && n + 1 < sizeof line && text[n] != '\r' && text[n] != '\n'; ++n) {
            line[n] = text[n];
        }
        line[n] = '\0';
        if (!matches(line)) {
            return;
        }
        const long nth = atomic_fetch_add(&g_counts[kFtp], 1) + 1;
        const int stor = strncasecmp(text, "stor ", 5) == 0;
        if (nth == g_killAtFtp && !(stor && g_killAtFtpData > 0)) {
            dieAfter(fd, text, 0, kFtp, nth, line);
        }
        if (stor) {
            g_storFd = fd;
            memcpy(g_storCommand, line, n + 1);
            g_uploadBytes = 0;
            g_cutThisUpload = nth == g_killAtFtp;
        }
        return;
    }
    if (g_storFd < 0) {
        return;
    }
    const long before = atomic_fetch_add(&g_counts[kFtpData], (long)size);
    long room = LONG_MAX;  // bytes that may go out before the kill
    if (g_cutThisUpload) {
        room = g_killAtFtpData - g_uploadBytes;
    } else if (g_killAtFtp == 0 && g_killAtFtpData > 0) {
        room = g_killAtFtpData - before;
    }
    if (room <= (long)size) {
        room = room < 0 ? 0 : room;
        dieAfter(fd, text, (size_t)room, kFtpData, g_uploadBytes + room, g_storCommand);
    }
    g_uploadBytes += (long)size;
}

// Never fails the call: a fault on a socket is a kill.
static int socketSend(int fd, const void* buf, size_t size) {
    readEnv();
    if (g_ftpActive && size > 0) {
        ftpSend(fd, buf, size);
    }
    return 0;
}

// check decides, setting err, whether the call fails; else the real function or fallback runs.
#define INTERPOSE(ret, name, params, args, check, fallback) \
    EXPORT ret name params {                                \
        static void* _Atomic real;                          \
        int err = 0;                                        \
        if (check) {                                        \
            errno = err;                                    \
            return -1;                                      \
        }                                                   \
        ret(*f) params = resolve(&real, #name);             \
        return f != NULL ? f args : (ret)(fallback);        \
    }

INTERPOSE(int, rename, (const char* from, const char* to), (from, to),
          pathFault(kRename, AT_FDCWD, to, &err),
          syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0))
INTERPOSE(int, renameat, (int fromDir, const char* from, int toDir, const char* to),
          (fromDir, from, toDir, to), pathFault(kRename, toDir, to, &err),
          syscall(SYS_renameat2, fromDir, from, toDir, to, 0))
INTERPOSE(int, renameat2,
          (int fromDir, const char* from, int toDir, const char* to, unsigned flags),
          (fromDir, from, toDir, to, flags), pathFault(kRename, toDir, to, &err),
          syscall(SYS_renameat2, fromDir, from, toDir, to, flags))

// A write on a socket may be FTP; one on a file may be faulted.
static int writeFault(int fd, const void* buf, size_t count, int* err) {
    readEnv();
    struct stat st;
    if (g_ftpActive && fd > 2 && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) {
        socketSend(fd, buf, count);
    }
    return fdFault(kWrite, fd, err);
}

INTERPOSE(ssize_t, write, (int fd, const void* buf, size_t count), (fd, buf, count),
          writeFault(fd, buf, count, &err), syscall(SYS_write, fd, buf, count))
INTERPOSE(ssize_t, pwrite, (int fd, const void* buf, size_t count, off_t offset),
          (fd, buf, count, offset), fdFault(kWrite, fd, &err),
          syscall(SYS_pwrite64, fd, buf, count, offset))
INTERPOSE(ssize_t, pwrite64, (int fd, const void* buf, size_t count, off64_t offset),
          (fd, buf, count, offset), fdFault(kWrite, fd, &err),
          syscall(SYS_pwrite64, fd, buf, count, offset))
INTERPOSE(ssize_t, copy_file_range,
          (int fdIn, off64_t* offIn, int fdOut, off64_t* offOut, size_t count, unsigned flags),
          (fdIn, offIn, fdOut, offOut, count, flags), fdFault(kWrite, fdOut, &err),
          syscall(SYS_copy_file_range, fdIn, offIn, fdOut, offOut, count, flags))
INTERPOSE(ssize_t, send, (int fd, const void* buf, size_t count, int flags),
          (fd, buf, count, flags), socketSend(fd, buf, count),
          syscall(SYS_sendto, fd, buf, count, flags, NULL, 0))
INTERPOSE(ssize_t, sendto,
          (int fd, const void* buf, size_t count, int flags, const struct sockaddr* to,
           socklen_t toSize),
          (fd, buf, count, flags, to, toSize), socketSend(fd, buf, count),
          syscall(SYS_sendto, fd, buf, count, flags, to, toSize))
INTERPOSE(int, fsync, (int fd), (fd), fdFault(kFsync, fd, &err), syscall(SYS_fsync, fd))
INTERPOSE(int, fdatasync, (int fd), (fd), fdFault(kFsync, fd, &err), syscall(SYS_fdatasync, fd))
INTERPOSE(int, syncfs, (int fd), (fd), fdFault(kFsync, fd, &err), syscall(SYS_syncfs, fd))

// mkstemp and its kin open inside the C library; the template counts, XXXXXX not filled in.
#define MKSTEMP(name, params, args) \
    INTERPOSE(int, name, params, args, pathFault(kOpen, AT_FDCWD, tmpl, &err), (errno = ENOSYS, -1))

MKSTEMP(mkstemp, (char* tmpl), (tmpl))
MKSTEMP(mkstemp64, (char* tmpl), (tmpl))
MKSTEMP(mkostemp, (char* tmpl, int flags), (tmpl, flags))
MKSTEMP(mkostemp64, (char* tmpl, int flags), (tmpl, flags))
MKSTEMP(mkstemps, (char* tmpl, int suffixLength), (tmpl, suffixLength))
MKSTEMP(mkostemps, (char* tmpl, int suffixLength, int flags), (tmpl, suffixLength, flags))

static int openVia(void* _Atomic* slot, const char* name, int dir, const char* path, int flags,
                   mode_t mode) {
    int err = 0;
    if (openFault(dir, path, flags, &err)) {
        errno = err;
        return -1;
    }
    void* f = resolve(slot, name);
    if (f != NULL && dir == AT_FDCWD) {
        return ((int (*)(const char*, int, ...))f)(path, flags, mode);
    }
    if (f != NULL) {
        return ((int (*)(int, const char*, int, ...))f)(dir, path, flags, mode);
    }
    return (int)syscall(SYS_openat, dir, path, flags, mode);
}

// The open calls; the mode argument is only there with O_CREAT or O_TMPFILE.
#define OPEN(name, params, dir)                                           \
    EXPORT int name params {                                              \
        static void* _Atomic real;                                        \
        mode_t mode = 0;                                                  \
        if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) { \
            va_list args;                                                 \
            va_start(args, flags);                                        \
            mode = (mode_t)va_arg(args, int);                             \
            va_end(args);                                                 \
        }                                                                 \
        return openVia(&real, #name, dir, path, flags, mode);             \
    }

OPEN(open, (const char* path, int flags, ...), AT_FDCWD)
OPEN(open64, (const char* path, int flags, ...), AT_FDCWD)
OPEN(openat, (int dir, const char* path, int flags, ...), dir)
OPEN(openat64, (int dir, const char* path, int flags, ...), dir)

// What a fortified build calls for opens with flags known at compile time, and creat.
#define OPEN_AS(name, real, params, dir, flags, mode)        \
    EXPORT int name params {                                 \
        static void* _Atomic slot;                           \
        return openVia(&slot, real, dir, path, flags, mode); \
    }

OPEN_AS(__open_2, "open", (const char* path, int flags), AT_FDCWD, flags, 0)
OPEN_AS(__open64_2, "open64", (const char* path, int flags), AT_FDCWD, flags, 0)
OPEN_AS(__openat_2, "openat", (int dir, const char* path, int flags), dir, flags, 0)
OPEN_AS(__openat64_2, "openat64", (int dir, const char* path, int flags), dir, flags, 0)
OPEN_AS(creat, "open", (const char* path, mode_t mode), AT_FDCWD, O_CREAT | O_WRONLY | O_TRUNC,
        mode)
OPEN_AS(creat64, "open64", (const char* path, mode_t mode), AT_FDCWD, O_CREAT | O_WRONLY | O_TRUNC,
        mode)
