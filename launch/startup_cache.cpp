// The startup cache. On a first run the runtime writes its class-data archive
// at exit into a temporary file of this process, which is renamed into place
// and then stamped (size, inode, modification time of the renamed file); a
// later run hands the archive to the runtime only when the stamp still
// matches, because a truncated or rewritten archive can crash the runtime
// while it maps it. The archive is never written in place, so a concurrent
// start never sees half an archive. Runtimes from 13 on take these options
// (24 and later also log under "aot"); older ones get nothing.
#include "launch/startup_cache.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/explain.h"
#include "launch/jvm_launcher.h"
#include "settings/settings_loader.h"

namespace {

const int kFirstDynamicArchiveFeature = 13;
const int kHighestFeature = 999;
// The end of an archive's name that changes with the files' identity: the
// identity hash's 16 hexadecimal digits and ".jsa".
const int kIdentitySuffixLength = 16 + 4;
// The first runtime feature whose class-data messages also log under "aot".
const int kFirstAotLoggingFeature = 24;
// Free space a first run needs beyond twice the executable's size: a runtime
// that runs out of room while it writes the archive ends the process with an
// error, so a nearly full disk gets no archive at all.
const unsigned long long kSpareBytes = 64ull << 20;
// Temporary archives of runs killed while writing are removed after this.
const time_t kStaleTemporarySeconds = 3600;

// Paths of this run's archive, for the publication at exit.
char g_temporary[PATH_MAX];
char g_archive[PATH_MAX];

unsigned long long Fnv1a(unsigned long long hash, const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

const unsigned long long kFnvStart = 14695981039346656037ull;

unsigned long long HashText(const char* text) { return Fnv1a(kFnvStart, text, strlen(text) + 1); }

// Path, size and modification time of the file at `path` into `hash`.
bool HashIdentity(const char* path, unsigned long long* hash) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    long long numbers[3] = {static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
                            static_cast<long long>(st.st_mtim.tv_nsec)};
    *hash = Fnv1a(Fnv1a(*hash, path, strlen(path) + 1), numbers, sizeof numbers);
    return true;
}

MyCString StampPath(const char* archive) {
    MyCString path(archive);
    path += ".ok";
    return path;
}

// Reads up to `size` - 1 bytes of a small file and ends them with a NUL;
// the number read, or -1 when the file cannot be read.
ssize_t ReadSmallFile(const char* path, char* buffer, size_t size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    ssize_t n = read(fd, buffer, size - 1);
    close(fd);
    if (n < 0) return -1;
    buffer[n] = '\0';
    return n;
}

bool WriteWholeFile(const char* path, const char* text, size_t length) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write(fd, text, length) == static_cast<ssize_t>(length);
    return close(fd) == 0 && ok;
}

// At exit: the archive the runtime wrote goes into place, then its stamp;
// an empty or missing one (the runtime wrote nothing) is removed.
void PublishArchive() {
    if (!g_temporary[0]) return;
    struct stat st;
    if (stat(g_temporary, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && rename(g_temporary, g_archive) == 0)
        startup_cache::WriteStamp(g_archive);
    else
        unlink(g_temporary);
    g_temporary[0] = '\0';
}

// Creates `path` and its missing parents (mode 0700); true when it is then a
// directory owned by this user that nobody else can write to, so that no
// one else can place an archive this user's runtime would map.
bool PrepareDirectory(const MyCString& path, MyCString* why) {
    MyCString partial;
    for (int i = 1; i <= path.GetLength(); ++i) {
        if (i < path.GetLength() && path[i] != '/') continue;
        partial.Assign(path.GetData(), i);
        if (mkdir(partial, 0700) != 0 && errno != EEXIST) {
            why->Format("cannot create %s: %s", partial.c_str(), strerror(errno));
            return false;
        }
    }
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) {
        why->Format("%s is not a directory", path.c_str());
        return false;
    }
    if (st.st_uid != geteuid() || (st.st_mode & 022) != 0) {
        why->Format("%s is not this user's alone (owner %u, mode %03o)", path.c_str(), static_cast<unsigned>(st.st_uid),
                    static_cast<unsigned>(st.st_mode & 0777));
        return false;
    }
    return true;
}

// Removes what older runs left for this executable and runtime: archives of
// an earlier build of either (same paths, other identity) and temporary
// files of runs killed while the runtime wrote.
void RemoveLeftovers(const MyCString& dir, const MyCString& name, int prefixLength) {
    DIR* d = opendir(dir);
    if (!d) return;
    const time_t now = time(nullptr);
    while (struct dirent* entry = readdir(d)) {
        const char* n = entry->d_name;
        if (strncmp(n, name, static_cast<size_t>(prefixLength)) != 0) continue;
        if (strncmp(n, name, static_cast<size_t>(name.GetLength())) == 0) {
            // This archive's own temporary files: only stale ones.
            size_t length = strlen(n);
            struct stat st;
            MyCString path(dir);
            path += "/";
            path += n;
            if (length > 4 && strcmp(n + length - 4, ".tmp") == 0 && stat(path, &st) == 0 &&
                now - st.st_mtim.tv_sec > kStaleTemporarySeconds)
                unlink(path);
            continue;
        }
        MyCString path(dir);
        path += "/";
        path += n;
        unlink(path);
    }
    closedir(d);
}

bool HasFreeSpace(const char* dir, const char* exePath) {
    struct statvfs fs;
    struct stat st;
    if (statvfs(dir, &fs) != 0 || stat(exePath, &st) != 0) return false;
    const unsigned long long free = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
    return free >= kSpareBytes + 2ull * static_cast<unsigned long long>(st.st_size);
}

// True when an option of the application already decides about class
// sharing, or about the logging this cache would silence.
bool ManagedByOptions(const CJvmLauncher& launcher, bool* ownLogging) {
    static const char* const kSharing[] = {"-Xshare:",           "-XX:SharedArchiveFile",  "-XX:ArchiveClassesAtExit",
                                           "-XX:+AutoCreateSharedArchive", "-XX:AOTCache",  "-XX:AOTMode",
                                           "-XX:-UseSharedSpaces", "-XX:SharedClassListFile"};
    *ownLogging = false;
    for (int i = 0; i < launcher.OptionCount(); ++i) {
        const char* option = launcher.OptionAt(i);
        for (const char* prefix : kSharing)
            if (strncmp(option, prefix, strlen(prefix)) == 0) return true;
        if (strncmp(option, "-Xlog", 5) == 0 && (strstr(option, "cds") || strstr(option, "aot") || !option[5]))
            *ownLogging = true;
    }
    return false;
}

// The decimal number at `p` (up to `end`); 0 when there is none or it is
// larger than any runtime's feature number.
int FeatureNumber(const char* p, const char* end) {
    int value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > kHighestFeature) return 0;
    }
    return value;
}

void Refuse(const char* why, bool logIt) {
    CExplain::Fact("startup cache: not used, %s", why);
    if (logIt) SayWarning("tvx: startup cache not used: %s", why);
}

}  // namespace

namespace startup_cache {

int ReleaseFeature(const char* bytes, size_t size) {
    const char* const end = bytes + strnlen(bytes, size);  // a NUL ends the text
    static const char kKey[] = "JAVA_VERSION=\"";
    const size_t keyLength = sizeof kKey - 1;
    for (const char* line = bytes; line < end;) {
        if (static_cast<size_t>(end - line) >= keyLength && memcmp(line, kKey, keyLength) == 0) {
            const char* number = line + keyLength;
            const int feature = FeatureNumber(number, end);
            // The older form "1.8.0_292" names feature 8.
            if (feature == 1 && end - number > 1 && number[1] == '.') return FeatureNumber(number + 2, end);
            return feature;
        }
        const void* newline = memchr(line, '\n', static_cast<size_t>(end - line));
        if (!newline) break;
        line = static_cast<const char*>(newline) + 1;
    }
    return 0;
}

int RuntimeFeature(const char* jvmPath) {
    MyCString dir(jvmPath);
    for (int up = 0; up < 5; ++up) {
        const char* slash = strrchr(dir, '/');
        if (!slash) return 0;
        dir.SetSize(static_cast<int>(slash - dir.c_str()));
        MyCString release(dir);
        release += "/release";
        char text[8192];
        const ssize_t length = ReadSmallFile(release, text, sizeof text);
        if (length >= 0) return ReleaseFeature(text, static_cast<size_t>(length));
    }
    return 0;
}

MyCString StampOf(const struct stat& st) {
    MyCString stamp;
    stamp.Format("%lld %llu %lld %ld\n", static_cast<long long>(st.st_size), static_cast<unsigned long long>(st.st_ino),
                 static_cast<long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec));
    return stamp;
}

bool StampMatches(const struct stat& st, const char* bytes, size_t size) {
    const MyCString stamp = StampOf(st);
    return size == static_cast<size_t>(stamp.GetLength()) && memcmp(bytes, stamp.GetData(), size) == 0;
}

bool ArchiveIsIntact(const char* archive) {
    struct stat st;
    if (stat(archive, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_size <= 0) return false;
    char stamp[128];
    const ssize_t length = ReadSmallFile(StampPath(archive), stamp, sizeof stamp);
    return length >= 0 && StampMatches(st, stamp, static_cast<size_t>(length));
}

bool WriteStamp(const char* archive) {
    struct stat st;
    if (stat(archive, &st) != 0) return false;
    MyCString stamp = StampOf(st);
    MyCString stampPath = StampPath(archive);
    MyCString temporary;
    temporary.Format("%s.%ld.tmp", stampPath.c_str(), static_cast<long>(getpid()));
    if (WriteWholeFile(temporary, stamp, static_cast<size_t>(stamp.GetLength())) && rename(temporary, stampPath) == 0)
        return true;
    unlink(temporary);
    return false;
}

MyCString CacheDirectory(const char* value) {
    MyCString dir;
    const char* below = "";
    if (strcasecmp(value, "true") != 0) {
        dir = value;
    } else if (const char* xdg = getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
        dir = xdg;
        below = "/tvx";
    } else if (geteuid() == 0) {
        dir = "/var/cache/tvx";
    } else if (const char* home = getenv("HOME"); home && home[0] == '/') {
        dir = home;
        below = "/.cache/tvx";
    }
    while (dir.GetLength() > 1 && dir[dir.GetLength() - 1] == '/') dir.SetSize(dir.GetLength() - 1);
    if (!dir.IsEmpty()) dir += below;
    return dir;
}

MyCString ArchiveName(const char* exePath, const char* jvmPath) {
    unsigned long long identity = kFnvStart;
    if (!HashIdentity(exePath, &identity) || !HashIdentity(jvmPath, &identity)) return MyCString();
    const char* base = strrchr(exePath, '/');
    base = base ? base + 1 : exePath;
    MyCString name;
    for (int i = 0; base[i] && i < 64; ++i) {
        char c = base[i];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
        name += plain ? c : '_';
    }
    MyCString suffix;
    suffix.Format("-%08llx-%08llx-%016llx.jsa", HashText(exePath) & 0xffffffffull, HashText(jvmPath) & 0xffffffffull,
                  identity);
    name += suffix;
    return name;
}

}  // namespace startup_cache

void PrepareStartupCache(CSettingsLoader& loader, CJvmLauncher& launcher, const char* jvmPath) {
    using namespace startup_cache;
    MyCString value = CSettingsLoader::EnvProcess(loader.GetCommon("startupcache"), false);
    if (value.IsEmpty() || value.CompareNoCase("false") == 0) {
        CExplain::Fact("startup cache: off");
        return;
    }
    bool ownLogging = false;
    if (ManagedByOptions(launcher, &ownLogging)) return Refuse("the options already decide about class sharing", false);
    const int feature = RuntimeFeature(jvmPath);
    MyCString why;
    if (feature < kFirstDynamicArchiveFeature) {
        why.Format("runtime feature %d keeps no archive of application classes", feature);
        return Refuse(why, false);
    }
    MyCString dir = CacheDirectory(value.CompareNoCase("true") == 0 ? "true" : loader.ToAbsolutePath(value).c_str());
    if (dir.IsEmpty()) return Refuse("no cache directory (neither XDG_CACHE_HOME nor HOME is set)", true);
    if (!PrepareDirectory(dir, &why)) return Refuse(why, true);
    const MyCString name = ArchiveName(loader.ExePath(), jvmPath);
    if (name.IsEmpty()) return Refuse("the executable or the runtime library cannot be examined", false);
    MyCString archive(dir);
    archive += "/";
    archive += name;

    if (ArchiveIsIntact(archive)) {
        CExplain::Fact("startup cache: using %s (runtime feature %d)", archive.c_str(), feature);
        MyCString option("-XX:SharedArchiveFile=");
        option += archive;
        launcher.AddOption(option);
    } else {
        if (!HasFreeSpace(dir, loader.ExePath())) {
            why.Format("too little free space in %s to write an archive", dir.c_str());
            return Refuse(why, true);
        }
        // Name prefix shared by every archive of this executable path and
        // runtime path: the name up to its identity hash.
        RemoveLeftovers(dir, name, name.GetLength() - kIdentitySuffixLength);
        MyCString temporary;
        temporary.Format("%s.%ld.tmp", archive.c_str(), static_cast<long>(getpid()));
        if (temporary.GetLength() >= PATH_MAX) return Refuse("the cache path is too long", true);
        int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            why.Format("cannot write in %s: %s", dir.c_str(), strerror(errno));
            return Refuse(why, true);
        }
        close(fd);
        memcpy(g_temporary, temporary.c_str(), static_cast<size_t>(temporary.GetLength()) + 1);
        memcpy(g_archive, archive.c_str(), static_cast<size_t>(archive.GetLength()) + 1);
        atexit(PublishArchive);
        CExplain::Fact("startup cache: creating %s at exit (runtime feature %d)", archive.c_str(), feature);
        MyCString option("-XX:ArchiveClassesAtExit=");
        option += temporary;
        launcher.AddOption(option);
    }
    // A missing, foreign or unusable archive is then skipped silently: the
    // runtime's class-sharing messages would go to the user's terminal.
    launcher.AddOption("-Xshare:auto");
    if (!ownLogging)
        launcher.AddOption(feature >= kFirstAotLoggingFeature ? "-Xlog:cds*=off,aot*=off" : "-Xlog:cds*=off");
}
