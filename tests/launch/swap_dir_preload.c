/* Preloaded into a launcher by the startup cache tests: plays the other user
   who swaps the cache directory for one of her own at the worst moment, just
   before the runtime opens a file in it. On the first open of a path in
   $TVX_SWAP_DIR (or under /proc/self/fd/) whose name ends in $TVX_SWAP_SUFFIX
   (".jsa": the archive being mapped; ".tmp": the archive being written at
   exit), $TVX_SWAP_DIR is renamed to $TVX_SWAP_DIR.held and $TVX_SWAP_WITH
   takes its place; with $TVX_SWAP_LINK set, a link to that file is planted
   there first under the name the stamp's temporary file of this process
   would have (<archive>.ok.<pid>.tmp). Each matching open appends the
   opened file's inode number to $TVX_SWAP_LOG. */
#define _GNU_SOURCE
/* 32-bit builds compile with the 64-bit file interface, which makes open an
   alias of open64; the shim defines both entry points itself. */
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int swapped;

static int Matches(const char* path) {
    const char* dir = getenv("TVX_SWAP_DIR");
    const char* suffix = getenv("TVX_SWAP_SUFFIX");
    if (!dir || !suffix || !path) return 0;
    size_t n = strlen(dir), length = strlen(path), s = strlen(suffix);
    int inside = (strncmp(path, dir, n) == 0 && path[n] == '/') || strncmp(path, "/proc/self/fd/", 14) == 0;
    return inside && length > s && strcmp(path + length - s, suffix) == 0;
}

static void Swap(const char* path) {
    const char* dir = getenv("TVX_SWAP_DIR");
    const char* with = getenv("TVX_SWAP_WITH");
    const char* link = getenv("TVX_SWAP_LINK");
    char held[4096], planted[4096];
    if (swapped || !with) return;
    swapped = 1;
    if (link) {
        /* The archive's name: the opened name up to and with ".jsa". */
        const char* base = strrchr(path, '/');
        const char* jsa = base ? strstr(base + 1, ".jsa") : NULL;
        if (jsa)
            snprintf(planted, sizeof planted, "%s/%.*s.ok.%ld.tmp", with, (int)(jsa + 4 - (base + 1)), base + 1,
                     (long)getpid());
        if (jsa) symlink(link, planted);
    }
    snprintf(held, sizeof held, "%s.held", dir);
    rename(dir, held);
    rename(with, dir);
}

static void Log(int fd) {
    const char* log = getenv("TVX_SWAP_LOG");
    struct stat64 st;
    if (fd < 0 || !log || fstat64(fd, &st) != 0) return;
    FILE* f = fopen(log, "a");
    if (!f) return;
    fprintf(f, "%llu\n", (unsigned long long)st.st_ino);
    fclose(f);
}

#define OPEN_SHIM(name, ...)                                                     \
    {                                                                            \
        mode_t mode = 0;                                                         \
        if (flags & (O_CREAT | O_TMPFILE)) {                                     \
            va_list ap;                                                          \
            va_start(ap, flags);                                                 \
            mode = (mode_t)va_arg(ap, int);                                      \
            va_end(ap);                                                          \
        }                                                                        \
        int match = Matches(path);                                               \
        if (match) Swap(path);                                                   \
        int (*real)() = (int (*)())dlsym(RTLD_NEXT, name);                       \
        int fd = real ? real(__VA_ARGS__, flags, mode) : -1;                     \
        if (match) Log(fd);                                                      \
        return fd;                                                               \
    }

int open(const char* path, int flags, ...) OPEN_SHIM("open", path)
int open64(const char* path, int flags, ...) OPEN_SHIM("open64", path)
int openat(int dir, const char* path, int flags, ...) OPEN_SHIM("openat", dir, path)
int openat64(int dir, const char* path, int flags, ...) OPEN_SHIM("openat64", dir, path)
