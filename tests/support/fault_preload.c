// Preloaded into a program under test to make it die at a chosen rename or write, or to make
// its disk look full, without root. Driven by environment variables:
//   KESTREL_FAULT_MATCH            only paths containing this text count (all when unset/empty)
//   KESTREL_FAULT_KILL_AT_RENAME=N the Nth counted rename raises SIGKILL before renaming
//   KESTREL_FAULT_KILL_AT_WRITE=N  the Nth counted write raises SIGKILL before writing
//   KESTREL_FAULT_ENOSPC_AT_WRITE=N the Nth counted write and every later one fail with ENOSPC
// Renames count by their destination path; writes (write, pwrite, pwrite64, copy_file_range)
// by the path of the file descriptor written to, standard streams excluded.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>  // renameat2
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

// Threads racing the first use all read the same values, so reading them twice is harmless.
static atomic_int g_ready;
static const char* g_match;
static long g_killAtRename;
static long g_killAtWrite;
static long g_enospcAtWrite;

static atomic_long g_renames;
static atomic_long g_writes;

// Set while this thread asks the dynamic linker for a real function: a write or rename made
// meanwhile goes straight to the kernel instead of back into the lookup.
static __thread int t_resolving;

static long envCount(const char* name) {
    const char* s = getenv(name);
    if (s == NULL || *s == '\0') {
        return 0;
    }
    long n = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        if (n < 1000000000L) {
            n = n * 10 + (*s - '0');
        }
    }
    return *s == '\0' ? n : 0;
}

static void readEnv(void) {
    if (atomic_load(&g_ready)) {
        return;
    }
    const char* match = getenv("KESTREL_FAULT_MATCH");
    g_match = match != NULL && *match != '\0' ? match : NULL;
    g_killAtRename = envCount("KESTREL_FAULT_KILL_AT_RENAME");
    g_killAtWrite = envCount("KESTREL_FAULT_KILL_AT_WRITE");
    g_enospcAtWrite = envCount("KESTREL_FAULT_ENOSPC_AT_WRITE");
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

static int matches(const char* path) {
    return g_match == NULL || (path != NULL && strstr(path, g_match) != NULL);
}

static int countedRename(const char* to) {
    readEnv();
    if (g_killAtRename <= 0 || !matches(to)) {
        return 0;
    }
    return atomic_fetch_add(&g_renames, 1) + 1 == g_killAtRename;
}

// What a write to fd is to do: 0 go ahead, 1 fail with ENOSPC. Kills the process itself.
static int writeFault(int fd) {
    readEnv();
    if (fd <= 2 || (g_killAtWrite <= 0 && g_enospcAtWrite <= 0)) {
        return 0;
    }
    if (g_match != NULL) {
        // On the stack: no allocation, and safe for any number of threads.
        char link[32] = "/proc/self/fd/";
        char digits[16];
        int d = 0;
        for (unsigned v = (unsigned)fd; d == 0 || v > 0; v /= 10) {
            digits[d++] = (char)('0' + v % 10);
        }
        size_t at = strlen(link);
        while (d > 0) {
            link[at++] = digits[--d];
        }
        link[at] = '\0';
        char path[PATH_MAX];
        const int saved = errno;
        const ssize_t n = readlink(link, path, sizeof path - 1);
        errno = saved;
        if (n <= 0) {
            return 0;
        }
        path[n] = '\0';
        if (!matches(path)) {
            return 0;
        }
    }
    const long nth = atomic_fetch_add(&g_writes, 1) + 1;
    if (g_killAtWrite > 0 && nth == g_killAtWrite) {
        raise(SIGKILL);
    }
    return g_enospcAtWrite > 0 && nth >= g_enospcAtWrite;
}

EXPORT int rename(const char* from, const char* to) {
    static void* _Atomic real;
    if (countedRename(to)) {
        raise(SIGKILL);
    }
    int (*f)(const char*, const char*) = resolve(&real, "rename");
    if (f == NULL) {
        return (int)syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0);
    }
    return f(from, to);
}

EXPORT int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static void* _Atomic real;
    if (countedRename(to)) {
        raise(SIGKILL);
    }
    int (*f)(int, const char*, int, const char*) = resolve(&real, "renameat");
    if (f == NULL) {
        return (int)syscall(SYS_renameat2, fromDir, from, toDir, to, 0);
    }
    return f(fromDir, from, toDir, to);
}

EXPORT int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    static void* _Atomic real;
    if (countedRename(to)) {
        raise(SIGKILL);
    }
    int (*f)(int, const char*, int, const char*, unsigned) = resolve(&real, "renameat2");
    if (f == NULL) {
        return (int)syscall(SYS_renameat2, fromDir, from, toDir, to, flags);
    }
    return f(fromDir, from, toDir, to, flags);
}

EXPORT ssize_t write(int fd, const void* buf, size_t count) {
    static void* _Atomic real;
    if (writeFault(fd)) {
        errno = ENOSPC;
        return -1;
    }
    ssize_t (*f)(int, const void*, size_t) = resolve(&real, "write");
    if (f == NULL) {
        return syscall(SYS_write, fd, buf, count);
    }
    return f(fd, buf, count);
}

EXPORT ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    static void* _Atomic real;
    if (writeFault(fd)) {
        errno = ENOSPC;
        return -1;
    }
    ssize_t (*f)(int, const void*, size_t, off_t) = resolve(&real, "pwrite");
    if (f == NULL) {
        return syscall(SYS_pwrite64, fd, buf, count, offset);
    }
    return f(fd, buf, count, offset);
}

EXPORT ssize_t pwrite64(int fd, const void* buf, size_t count, off64_t offset) {
    static void* _Atomic real;
    if (writeFault(fd)) {
        errno = ENOSPC;
        return -1;
    }
    ssize_t (*f)(int, const void*, size_t, off64_t) = resolve(&real, "pwrite64");
    if (f == NULL) {
        return syscall(SYS_pwrite64, fd, buf, count, offset);
    }
    return f(fd, buf, count, offset);
}

EXPORT ssize_t copy_file_range(int fdIn, off64_t* offIn, int fdOut, off64_t* offOut, size_t count,
                               unsigned flags) {
    static void* _Atomic real;
    if (writeFault(fdOut)) {
        errno = ENOSPC;
        return -1;
    }
    ssize_t (*f)(int, off64_t*, int, off64_t*, size_t, unsigned) =
        resolve(&real, "copy_file_range");
    if (f == NULL) {
        return syscall(SYS_copy_file_range, fdIn, offIn, fdOut, offOut, count, flags);
    }
    return f(fdIn, offIn, fdOut, offOut, count, flags);
}
