// Upkeep of the startup cache directory. Every file is reached through the
// held, checked directory; the sweep reads one directory and a small file
// per archive, and runs only after a first run or once a day.
#include "launch/cache_upkeep.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/buffer.h"
#include "base/my_string.h"
#include "launch/startup_cache.h"

namespace startup_cache {

namespace {

bool EndsWith(const char* text, const char* end) {
    size_t a = strlen(text), b = strlen(end);
    return a > b && strcmp(text + a - b, end) == 0;
}

// True when `path` certainly names nothing any more (a missing file or a
// missing directory on its way); trouble of any other kind keeps the archive.
bool Gone(const char* path) {
    struct stat st;
    return stat(path, &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// The archive `name` and the files beside it.
void RemoveArchiveAt(int dir, const char* name) {
    unlinkat(dir, name, 0);
    unlinkat(dir, StampName(name), 0);
    unlinkat(dir, SourceName(name), 0);
}

// True when the archive's source file shows it can never be used again: its
// executable or runtime library is gone, or either was rebuilt (the name
// this pair gives now is another).
bool StaleAt(int dir, const char* name) {
    char bytes[2 * PATH_MAX + 4];
    const ssize_t length = ReadSmallFileAt(dir, SourceName(name), bytes, sizeof bytes);
    const char* exe = nullptr;
    const char* jvm = nullptr;
    if (length < 0 || !ParseSource(bytes, static_cast<size_t>(length), &exe, &jvm)) return false;
    if (Gone(exe) || Gone(jvm)) return true;
    MyCString now = ArchiveName(exe, jvm);
    return !now.IsEmpty() && now.Compare(name) != 0;
}

// Last use of the archive: its stamp's modification time, else its own.
long long LastUseAt(int dir, const char* name, const struct stat& archive) {
    struct stat st;
    if (fstatat(dir, StampName(name), &st, AT_SYMLINK_NOFOLLOW) == 0) return st.st_mtim.tv_sec;
    return archive.st_mtim.tv_sec;
}

}  // namespace

unsigned long long ParseCap(const char* text) {
    if (!text || !*text) return kDefaultCapBytes;
    unsigned long long value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > (1ull << 40)) return 0;
    }
    if (p == text) return 0;
    int shift = 0;
    if (*p == 'K' || *p == 'k') shift = 10;
    if (*p == 'M' || *p == 'm') shift = 20;
    if (*p == 'G' || *p == 'g') shift = 30;
    if (shift) ++p;
    // A cap beyond 2^62 bytes is no size a disk has: refused.
    if (*p || value > (1ull << (62 - shift))) return 0;
    return value << shift;
}

bool ParseSource(const char* bytes, size_t size, const char** exe, const char** jvm) {
    const char* first = static_cast<const char*>(memchr(bytes, '\0', size));
    if (!first) return false;
    const char* second = static_cast<const char*>(memchr(first + 1, '\0', size - static_cast<size_t>(first + 1 - bytes)));
    if (!second || second + 1 != bytes + size) return false;
    if (bytes[0] != '/' || first[1] != '/') return false;
    *exe = bytes;
    *jvm = first + 1;
    return true;
}

bool WriteSourceAt(int dir, const char* name, const char* exePath, const char* jvmPath) {
    CBufferT<char> bytes;
    bytes.Append(exePath, static_cast<int>(strlen(exePath)) + 1);
    bytes.Append(jvmPath, static_cast<int>(strlen(jvmPath)) + 1);
    const MyCString sourceName = SourceName(name);
    const MyCString temporary = TemporaryName(sourceName);
    if (temporary.IsEmpty()) return false;
    if (WriteNewFileAt(dir, temporary, bytes.GetData(), static_cast<size_t>(bytes.GetSize())) &&
        renameat(dir, temporary, dir, sourceName) == 0)
        return true;
    unlinkat(dir, temporary, 0);
    return false;
}

void NoteUseAt(int dir, const char* name) { utimensat(dir, StampName(name), nullptr, AT_SYMLINK_NOFOLLOW); }

bool SweepDueAt(int dir, time_t now) {
    struct stat st;
    return fstatat(dir, kSweptName, &st, AT_SYMLINK_NOFOLLOW) != 0 || now - st.st_mtim.tv_sec >= kSweepIntervalSeconds ||
           st.st_mtim.tv_sec > now;
}

int SweepAt(int dir, const char* keep, unsigned long long capBytes, time_t now) {
    // Marked first, so that the starts of the next day do not all sweep.
    int mark = openat(dir, kSweptName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (mark >= 0) {
        futimens(mark, nullptr);
        close(mark);
    }
    int listing = dup(dir);
    if (listing < 0) return 0;
    DIR* d = fdopendir(listing);
    if (!d) {
        close(listing);
        return 0;
    }
    rewinddir(d);
    int removed = 0;
    MyCStringArray names;
    CBufferT<long long> sizes, uses;
    unsigned long long total = 0;
    while (struct dirent* entry = readdir(d)) {
        const char* n = entry->d_name;
        struct stat st;
        if (fstatat(dir, n, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (EndsWith(n, ".tmp")) {
            if (now - st.st_mtim.tv_sec > kStaleTemporarySeconds) unlinkat(dir, n, 0);
            continue;
        }
        if (EndsWith(n, ".aot.conf") || EndsWith(n, ".aot.list") || EndsWith(n, ".aot.no") ||
            EndsWith(n, ".jsa.list") || EndsWith(n, ".jsa.no")) {
            if (now - st.st_mtim.tv_sec > kAotLeftoverSeconds) unlinkat(dir, n, 0);
            continue;
        }
        const bool stamp = EndsWith(n, ".ok"), source = EndsWith(n, ".src");
        if (stamp || source) {
            // Left behind by an archive that is gone.
            MyCString archive(n, static_cast<int>(strlen(n)) - (stamp ? 3 : 4));
            struct stat a;
            if (fstatat(dir, archive, &a, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) unlinkat(dir, n, 0);
            continue;
        }
        if (!IsArchiveName(n) || !S_ISREG(st.st_mode)) continue;
        if (strcmp(n, keep) != 0 && StaleAt(dir, n)) {
            RemoveArchiveAt(dir, n);
            ++removed;
            continue;
        }
        names.Add(n);
        sizes.Append(static_cast<long long>(st.st_size));
        // This run's archive goes last, even beside one used this second.
        uses.Append(strcmp(n, keep) == 0 ? LLONG_MAX : LastUseAt(dir, n, st));
        total += static_cast<unsigned long long>(sizes.GetData()[sizes.GetSize() - 1]);
    }
    closedir(d);
    // Least recently used first, while over the cap.
    while (total > capBytes) {
        int oldest = -1;
        for (int i = 0; i < names.GetCount(); ++i)
            if (sizes.GetData()[i] >= 0 && (oldest < 0 || uses.GetData()[i] < uses.GetData()[oldest])) oldest = i;
        if (oldest < 0) break;
        RemoveArchiveAt(dir, names[oldest]);
        total -= static_cast<unsigned long long>(sizes.GetData()[oldest]);
        sizes.GetBuffer()[oldest] = -1;
        ++removed;
    }
    return removed;
}

}  // namespace startup_cache
