// The startup cache. On a first run the runtime writes its class-data archive
// at exit into a temporary file of this process, which is renamed into place
// and then stamped (size, inode, modification time of the renamed file); a
// later run hands the archive to the runtime only when the stamp still
// matches, because a truncated or rewritten archive can crash the runtime
// while it maps it. The archive is never written in place, so a concurrent
// start never sees half an archive. Runtimes from 13 on take these options
// (24 and later also log under "aot"); older ones get nothing. Where the
// runtime has a bin/java, the archive is assembled instead (see
// aot_cache.h): a first run only lists the classes it loads, and an
// assembler makes the archive after it, out of the application's way (from
// 24 on the runtime's ahead-of-time cache, before that a static archive).
// The archive written at exit is what stands in where that cannot be done.
//
// The runtime maps the archive as code of this process, so the directory is
// trusted only as a whole path (every directory from the root down belongs
// to root or this user and nobody else can write it; a sticky root-owned
// directory such as /tmp may hold one of ours), and once checked it is held
// open: every file in it is reached through that descriptor, and the
// runtime gets the archive as /proc/self/fd/N/<name>, a path nobody can
// swap under it.
#include "launch/startup_cache.h"

#include <dirent.h>
#include <initializer_list>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/explain.h"
#include "base/trusted_dir.h"
#include "launch/base_archive.h"
#include "launch/aot_cache.h"
#include "launch/cache_upkeep.h"
#include "launch/jvm_launcher.h"
#include "settings/runtime_release.h"
#include "settings/settings_loader.h"

using startup_cache::kStaleTemporarySeconds;
using startup_cache::TemporaryName;

namespace {

const int kFirstDynamicArchiveFeature = 13;
const int kHighestFeature = 999;
// The end of an archive's name that changes with the files' identity: the
// identity hash's 16 hexadecimal digits and ".jsa" (or ".aot").
const int kIdentitySuffixLength = 16 + 4;
// The first runtime feature whose class-data messages also log under "aot".
const int kFirstAotLoggingFeature = 24;
// Free space a first run needs beyond twice the executable's size: a runtime
// that runs out of room while it writes the archive ends the process with an
// error, so a nearly full disk gets no archive at all.
const unsigned long long kSpareBytes = 64ull << 20;

// This run's cache directory, held open from its check to the end of the
// process, the names in it of the archive and its temporary file, the
// paths the archive is made for, and the upkeep due at exit.
int g_dir = -1;
char g_temporary[NAME_MAX + 1];
char g_archive[NAME_MAX + 1];
char g_exe[PATH_MAX];
char g_jvm[PATH_MAX];
bool g_sweep = false;
unsigned long long g_cap = 0;
// A recording run: the temporary file is the record, and the assembly's
// command line (allocated once, never freed: it is read at exit).
bool g_recording = false;
bool g_training = false;
// The exit waits for the assembly (UnitEndsWithProcess).
bool g_waitForAssembly = false;
MyCStringArray* g_assembly = nullptr;

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

// True in a service of systemd's (and in what it runs): when the main
// process ends, systemd ends every process left in the unit, so an
// assembly started at exit would die unfinished. There the exit waits for
// it; the service's stop takes that much longer, once. A program started
// from a terminal that itself runs as a service inherits INVOCATION_ID but
// lives in a scope of its own, whose processes outlive it: its cgroup
// (the last component of a /proc/self/cgroup line) says so.
bool UnitEndsWithProcess() {
    const char* invocation = getenv("INVOCATION_ID");
    if (!invocation || !invocation[0]) return false;
    char lines[4096];
    if (startup_cache::ReadSmallFileAt(AT_FDCWD, "/proc/self/cgroup", lines, sizeof lines) <= 0) return true;
    for (char* line = lines; *line;) {
        char* end = strchr(line, '\n');
        if (end) *end = '\0';
        const char* last = strrchr(line, '/');
        const size_t size = last ? strlen(last) : 0;
        if (size > 8 && strcmp(last + size - 8, ".service") == 0) return true;
        if (!end) break;
        line = end + 1;
    }
    return false;
}

// At exit: the archive the runtime wrote goes into place, then its stamp
// and its source file; an empty or missing one (the runtime wrote nothing)
// is removed. Then the sweep, when one is due (always after a new archive).
void AtExit() {
    if (g_dir < 0) return;
    if (g_temporary[0] && g_recording) {
        // The record goes into place and its assembly starts; a run that
        // recorded nothing marks the cache as one that cannot be made.
        struct stat st;
        const MyCString record = aot_cache::RecordName(g_archive, g_training);
        int fd = -1;
        if (fstatat(g_dir, g_temporary, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            renameat(g_dir, g_temporary, g_dir, record) == 0) {
            fchmodat(g_dir, record, 0600, 0);
            if (!aot_cache::RecordBusyAt(g_dir, record, &fd) && fd >= 0)
                aot_cache::StartAssembly(g_dir, fd, g_training, g_archive, *g_assembly, g_exe, g_jvm, g_cap,
                                         g_waitForAssembly);
        } else {
            unlinkat(g_dir, g_temporary, 0);
            startup_cache::WriteNewFileAt(g_dir, aot_cache::FailedName(g_archive), "", 0);
        }
        g_temporary[0] = '\0';
        g_sweep = false;
    }
    if (g_temporary[0]) {
        struct stat st;
        if (fstatat(g_dir, g_temporary, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            renameat(g_dir, g_temporary, g_dir, g_archive) == 0) {
            startup_cache::WriteStampAt(g_dir, g_archive);
            if (g_exe[0] && g_jvm[0]) startup_cache::WriteSourceAt(g_dir, g_archive, g_exe, g_jvm);
        } else {
            unlinkat(g_dir, g_temporary, 0);
        }
        g_temporary[0] = '\0';
    }
    if (g_sweep) startup_cache::SweepAt(g_dir, g_archive, g_cap, time(nullptr));
    g_sweep = false;
}

// Copies `text` into `buffer` of `size` bytes, or leaves it empty when it
// does not fit.
void CopyInto(char* buffer, size_t size, const char* text) {
    size_t length = strlen(text);
    buffer[0] = '\0';
    if (length < size) memcpy(buffer, text, length + 1);
}

// The cap for explain mode: in MiB when it is a whole number of them.
MyCString CapText(unsigned long long cap) {
    MyCString text;
    if (cap % (1ull << 20) == 0)
        text.Format("%llu MiB", cap >> 20);
    else
        text.Format("%llu bytes", cap);
    return text;
}

// Keeps the held directory and what AtExit needs to know about this run.
void KeepForExit(int held, const MyCString& name, const char* exePath, const char* jvmPath, unsigned long long cap) {
    CopyInto(g_archive, sizeof g_archive, name);
    CopyInto(g_exe, sizeof g_exe, exePath);
    CopyInto(g_jvm, sizeof g_jvm, jvmPath);
    g_cap = cap;
    if (g_dir < 0) atexit(AtExit);
    g_dir = held;
}

// Removes what older runs left for this executable and runtime: archives of
// an earlier build of either (same paths, other identity) and temporary
// files of runs killed while the runtime wrote. Files of the same identity
// (the other kind of archive, the AOT cache's record or failure mark) stay.
void RemoveLeftovers(int dir, const MyCString& name, int prefixLength) {
    int listing = dup(dir);
    if (listing < 0) return;
    DIR* d = fdopendir(listing);
    if (!d) {
        close(listing);
        return;
    }
    rewinddir(d);
    const time_t now = time(nullptr);
    while (struct dirent* entry = readdir(d)) {
        const char* n = entry->d_name;
        if (strncmp(n, name, static_cast<size_t>(prefixLength)) != 0) continue;
        // The name without its ".jsa" or ".aot".
        if (strncmp(n, name, static_cast<size_t>(name.GetLength()) - 4) == 0) {
            // This identity's own temporary files: only stale ones.
            size_t length = strlen(n);
            struct stat st;
            if (length > 4 && strcmp(n + length - 4, ".tmp") == 0 && fstatat(dir, n, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                now - st.st_mtim.tv_sec > kStaleTemporarySeconds)
                unlinkat(dir, n, 0);
            continue;
        }
        unlinkat(dir, n, 0);
    }
    closedir(d);
}

bool HasFreeSpace(int dir, const char* exePath) {
    struct statvfs fs;
    struct stat st;
    if (fstatvfs(dir, &fs) != 0 || stat(exePath, &st) != 0) return false;
    const unsigned long long free = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
    return free >= kSpareBytes + 2ull * static_cast<unsigned long long>(st.st_size);
}

// True when the file `name` beside the library at `jvmPath` can be read.
bool BesideLibrary(const char* jvmPath, const char* name) {
    const char* slash = strrchr(jvmPath, '/');
    if (!slash) return false;
    MyCString path(jvmPath, static_cast<int>(slash + 1 - jvmPath));
    path += name;
    return access(path.c_str(), R_OK) == 0;
}

// The base class-data archive that an archive of application classes
// builds on, as the runtime at `jvmPath` will map it with this start's
// options (JAVA_TOOL_OPTIONS first, as the runtime reads them): its name in
// `name`, nullptr when the options leave the runtime without one. False
// when the runtime lacks that file (jlink without --generate-cds-archive, a
// runtime for another processor, tvx-pack's runtimes for heaps without
// compressed object pointers); such a runtime refuses to start when asked
// to write the second archive.
bool HasBaseArchive(const char* jvmPath, const CJvmLauncher& launcher, const char** name) {
    BaseArchiveChoice choice;
    choice.ReadAll(getenv("JAVA_TOOL_OPTIONS"));
    for (int i = 0; i < launcher.OptionCount(); ++i) choice.Read(launcher.OptionAt(i));
    *name = choice.Name(sizeof(void*) == 8);
    return *name && BesideLibrary(jvmPath, *name);
}

// True when a base archive of any object layout lies beside the library at
// `jvmPath`. A virtual machine built without class-data sharing (Zero,
// minimal) has none, and refuses to start at all when asked to list its
// classes; so does one trimmed of its archives, which is left alone too.
bool SharesClasses(const char* jvmPath) {
    for (const char* name : kBaseArchiveNames)
        if (BesideLibrary(jvmPath, name)) return true;
    return false;
}

// Why no dynamic archive can be made on the runtime at `jvmPath` with this
// start's options (its base archive is missing), or "" when one can.
MyCString NoBaseArchive(const char* jvmPath, const CJvmLauncher& launcher) {
    const char* base = nullptr;
    MyCString why;
    if (HasBaseArchive(jvmPath, launcher, &base)) return why;
    if (!base)
        why = "the options turn off compressed class pointers, with which the runtime maps no base class-data archive "
              "to build one on";
    else
        why.Format("the runtime has no base class-data archive (lib/server/%s) to build one on", base);
    return why;
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

// The feature number of a version text ("17.0.2": 17, "1.8.0_292": 8).
int VersionFeature(const MyCString& version) {
    const char* const number = version.c_str();
    const char* const end = number + version.GetLength();
    const int feature = FeatureNumber(number, end);
    // The older form "1.8.0_292" names feature 8.
    if (feature == 1 && end - number > 1 && number[1] == '.') return FeatureNumber(number + 2, end);
    return feature;
}

// A dry run (TVX_EXPLAIN=dry) only says what a start would do.
bool g_dryRun = false;

void Refuse(const char* why, bool logIt) {
    CExplain::Fact("startup cache: not used, %s", why);
    if (logIt && !g_dryRun) SayWarning("tvx: startup cache not used: %s", why);
}

}  // namespace

namespace startup_cache {

MyCString NameBeside(const char* archive, const char* suffix) {
    MyCString name(archive);
    name += suffix;
    return name;
}

MyCString StampName(const char* archive) { return NameBeside(archive, ".ok"); }

MyCString SourceName(const char* archive) { return NameBeside(archive, ".src"); }

bool IsArchiveName(const char* name) {
    size_t length = strlen(name);
    return length > 4 && (strcmp(name + length - 4, ".jsa") == 0 || strcmp(name + length - 4, ".aot") == 0);
}

MyCString TemporaryName(const char* base) {
    unsigned long long random = 0;
    if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return MyCString();
    MyCString name;
    name.Format("%s.%016llx.tmp", base, random);
    return name;
}

ssize_t ReadSmallFileAt(int dir, const char* name, char* buffer, size_t size) {
    int fd = openat(dir, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return -1;
    struct stat st;
    ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, buffer, size - 1) : -1;
    close(fd);
    if (n < 0) return -1;
    buffer[n] = '\0';
    return n;
}

bool WriteNewFileAt(int dir, const char* name, const char* text, size_t length) {
    int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write(fd, text, length) == static_cast<ssize_t>(length);
    return close(fd) == 0 && ok;
}

int ReleaseFeature(const char* bytes, size_t size) { return VersionFeature(ReleaseVersion(bytes, size)); }

int RuntimeFeature(const char* jvmPath) { return VersionFeature(RuntimeReleaseVersion(jvmPath)); }

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

const char* ArchiveProblemAt(int dir, const char* name) {
    int fd = openat(dir, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT ? "none made yet" : "the archive cannot be opened";
    struct stat st;
    bool usable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_size > 0;
    close(fd);
    if (!usable) return "the archive is not a file of this user's";
    char stamp[128];
    const ssize_t length = ReadSmallFileAt(dir, StampName(name), stamp, sizeof stamp);
    if (length < 0) return "the archive has no stamp";
    if (!StampMatches(st, stamp, static_cast<size_t>(length))) return "the archive changed after its stamp";
    return nullptr;
}

bool ArchiveIsIntactAt(int dir, const char* name) { return ArchiveProblemAt(dir, name) == nullptr; }

bool WriteStampAt(int dir, const char* name) {
    struct stat st;
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return false;
    MyCString stamp = StampOf(st);
    MyCString stampName = StampName(name);
    MyCString temporary = TemporaryName(stampName);
    if (temporary.IsEmpty()) return false;
    if (WriteNewFileAt(dir, temporary, stamp, static_cast<size_t>(stamp.GetLength())) &&
        renameat(dir, temporary, dir, stampName) == 0)
        return true;
    unlinkat(dir, temporary, 0);
    return false;
}

namespace {

// Runs `work` on the directory and file name of `path`.
template <typename Work>
bool AtPath(const char* path, Work work) {
    const char* slash = strrchr(path, '/');
    MyCString dirPath = slash ? MyCString(path, slash == path ? 1 : static_cast<int>(slash - path)) : MyCString(".");
    int dir = open(dirPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    bool result = work(dir, slash ? slash + 1 : path);
    close(dir);
    return result;
}

}  // namespace

bool ArchiveIsIntact(const char* archive) { return AtPath(archive, ArchiveIsIntactAt); }

bool WriteStamp(const char* archive) { return AtPath(archive, WriteStampAt); }

MyCString CacheDirectory(const char* value, const char** source) {
    const char* from = "the setting";
    MyCString dir;
    const char* below = "";
    const char* cacheDirectory = getenv("CACHE_DIRECTORY");
    if (strcasecmp(value, "true") != 0) {
        dir = value;
    } else if (cacheDirectory && cacheDirectory[0] == '/') {
        // systemd's CacheDirectory=: the first of its colon-separated
        // directories, the service's own (its files are the service's
        // too, so the launcher keeps to a directory of its own below).
        const char* colon = strchr(cacheDirectory, ':');
        dir = colon ? MyCString(cacheDirectory, static_cast<int>(colon - cacheDirectory)) : MyCString(cacheDirectory);
        below = "/tvx";
        from = "$CACHE_DIRECTORY";
    } else if (const char* xdg = getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
        dir = xdg;
        below = "/tvx";
        from = "$XDG_CACHE_HOME";
    } else if (geteuid() == 0) {
        dir = "/var/cache/tvx";
        from = "root's default";
    } else if (const char* home = getenv("HOME"); home && home[0] == '/') {
        dir = home;
        below = "/.cache/tvx";
        from = "$HOME";
    }
    while (dir.GetLength() > 1 && dir[dir.GetLength() - 1] == '/') dir.SetSize(dir.GetLength() - 1);
    if (!dir.IsEmpty()) dir += below;
    if (source) *source = from;
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

namespace {

// Which kind of archive a start works with: one assembled after a recording
// run where it can be made (from runtime feature 24 on the ahead-of-time
// cache, before that a static archive), else the dynamic archive written at
// exit.
struct Road {
    bool assembled = false;
    bool aot = false;       // the assembled archive is an ahead-of-time cache
    bool training = false;  // startupcachetraining: a training run records
    MyCString java;         // bin/java, for the assembly
};

// Uses the AOT cache `name`: its options, and a use noted.
void UseAot(CJvmLauncher& launcher, int held, const MyCString& through, const MyCString& name) {
    MyCString option("-XX:AOTCache=");
    option += through;
    option += name;
    launcher.AddOption(option);
    startup_cache::NoteUseAt(held, name);
}

// A recording run for the assembled archive `name`: false when the record's
// temporary file cannot be made (`why` says so).
bool Record(CJvmLauncher& launcher, const Road& road, int held, const MyCString& through, const MyCString& name,
            const MyCString& dir, MyCString* why) {
    const MyCString temporary = TemporaryName(name);
    if (temporary.IsEmpty() || !startup_cache::WriteNewFileAt(held, temporary, "", 0)) {
        why->Format("cannot write in %s: %s", dir.c_str(), strerror(errno));
        return false;
    }
    if (!g_assembly) {
        g_assembly = new MyCStringArray;
        aot_cache::AssemblyCommand(road.java, launcher, road.aot && !road.training, *g_assembly);
    }
    memcpy(g_temporary, temporary.c_str(), static_cast<size_t>(temporary.GetLength()) + 1);
    g_recording = true;
    g_training = road.training;
    g_waitForAssembly = UnitEndsWithProcess();
    MyCString path(through);
    path += temporary;
    if (road.training) {
        aot_cache::QuietenRecordNotice(path);
        launcher.SetOutputHook(aot_cache::RecordRunOutput);
        launcher.AddOption("-XX:AOTMode=record");
        MyCString option("-XX:AOTConfiguration=");
        option += path;
        launcher.AddOption(option);
    } else {
        MyCString option("-XX:DumpLoadedClassList=");
        option += path;
        launcher.AddOption(option);
    }
    return true;
}

}  // namespace

void PrepareStartupCache(CSettingsLoader& loader, CJvmLauncher& launcher, const char* jvmPath, int feature,
                         bool dryRun) {
    using namespace startup_cache;
    g_dryRun = dryRun;
    MyCString value = CSettingsLoader::EnvProcess(loader.GetCommon("startupcache"), false);
    if (value.IsEmpty() || value.CompareNoCase("false") == 0) {
        CExplain::Fact("startup cache: off");
        return;
    }
    bool ownLogging = false;
    if (ManagedByOptions(launcher, &ownLogging)) return Refuse("the options already decide about class sharing", false);
    MyCString why;
    if (feature < kFirstDynamicArchiveFeature) {
        why.Format("runtime feature %d keeps no archive of application classes", feature);
        return Refuse(why, false);
    }
    if (!SharesClasses(jvmPath))
        return Refuse("the runtime has no class-data archive beside its library (a virtual machine without "
                      "class-data sharing, such as Zero, or a runtime linked without its archive)",
                      false);
    Road road;
    road.java = aot_cache::JavaOf(jvmPath);
    const char* obstacle =
        road.java.IsEmpty() ? "the runtime has no bin/java to assemble one with" : aot_cache::Obstacle(launcher);
    road.assembled = !obstacle;
    road.aot = road.assembled && feature >= aot_cache::kFirstFeature;
    road.training = road.aot && CSettingsLoader::EnvProcess(loader.GetCommon("startupcachetraining"), false)
                                        .CompareNoCase("true") == 0;
    if (obstacle)
        CExplain::Fact(feature >= aot_cache::kFirstFeature
                           ? "startup cache: no ahead-of-time cache (%s): a dynamic archive instead"
                           : "startup cache: no archive assembled after the run (%s): a dynamic archive at exit "
                             "instead",
                       obstacle);
    if (!road.assembled) {
        why = NoBaseArchive(jvmPath, launcher);
        if (!why.IsEmpty()) return Refuse(why, false);
    }
    const char* source = "";
    MyCString dir =
        CacheDirectory(value.CompareNoCase("true") == 0 ? "true" : loader.ToAbsolutePath(value).c_str(), &source);
    if (dir.IsEmpty()) return Refuse("no cache directory (none of CACHE_DIRECTORY, XDG_CACHE_HOME, HOME is set)", true);
    CExplain::Fact("startup cache: directory %s (from %s)", dir.c_str(), source);
    MyCString name = ArchiveName(loader.ExePath(), jvmPath);
    if (name.IsEmpty()) return Refuse("the executable or the runtime library cannot be examined", false);
    if (name.GetLength() + 32 > NAME_MAX) return Refuse("the archive's name is too long", true);
    if (road.aot) {
        name.SetSize(name.GetLength() - 4);
        name += ".aot";
    }
    MyCString archive(dir);
    archive += "/";
    archive += name;
    const char* kind = road.aot ? ", ahead-of-time cache" : "";
    // What a first run records for an AOT cache.
    const char* recording = road.training ? "a training run" : "the classes this run loads";
    const int held = OpenTrustedDirectory(dir, &why, !dryRun);
    if (held < 0 && dryRun && strstr(why.c_str(), " does not exist yet")) {
        if (road.assembled)
            CExplain::Fact("startup cache: would record %s for %s and assemble it after exit (runtime feature "
                           "%d%s; none made yet)",
                           recording, archive.c_str(), feature, kind);
        else
            CExplain::Fact("startup cache: would create %s at exit (runtime feature %d; none made yet)",
                           archive.c_str(), feature);
        return;
    }
    if (held < 0) return Refuse(why, true);
    if (road.assembled) {
        struct stat st;
        if (fstatat(held, aot_cache::FailedName(name), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            // An assembly for these very files failed: the dynamic archive.
            CExplain::Fact(road.aot ? "startup cache: no ahead-of-time cache (assembling %s failed): a dynamic "
                                      "archive instead"
                                    : "startup cache: assembling %s failed: a dynamic archive at exit instead",
                           archive.c_str());
            road.assembled = road.aot = road.training = false;
            name = aot_cache::DynamicName(name);
            archive = dir;
            archive += "/";
            archive += name;
            kind = "";
            why = NoBaseArchive(jvmPath, launcher);
            if (!why.IsEmpty()) {
                close(held);
                return Refuse(why, false);
            }
        }
    }
    // The runtime reaches the archive through the held directory.
    MyCString through;
    through.Format("/proc/self/fd/%d/", held);

    MyCString capText = CSettingsLoader::EnvProcess(loader.GetCommon("startupcachemax"), false);
    unsigned long long cap = ParseCap(capText);
    if (cap == 0 && dryRun) {
        CExplain::Fact("startup cache: startupcachemax %s is no size, the cap is %llu MiB", capText.c_str(),
                       kDefaultCapBytes >> 20);
        cap = kDefaultCapBytes;
    } else if (cap == 0) {
        SayWarning("tvx: startupcachemax must be a size (digits, then K, M or G): the cache keeps to %llu MiB",
                   kDefaultCapBytes >> 20);
        cap = kDefaultCapBytes;
    }
    const time_t now = time(nullptr);
    const char* problem = ArchiveProblemAt(held, name);
    // An assembled archive not made yet may have a record waiting for its
    // assembly, held by a running assembler or left by one that was killed.
    int record = -1;
    bool assembling = false, trainingRecord = false;
    for (bool training : {true, false}) {
        if (!road.assembled || !problem || assembling || record >= 0) break;
        if (training && !road.aot) continue;
        assembling = aot_cache::RecordBusyAt(held, aot_cache::RecordName(name, training), &record);
        trainingRecord = training;
    }
    if (dryRun) {
        if (record >= 0) close(record);
        if (!problem)
            CExplain::Fact("startup cache: would use %s (runtime feature %d%s)", archive.c_str(), feature, kind);
        else if (assembling)
            CExplain::Fact("startup cache: would go without, %s is being assembled", archive.c_str());
        else if (record >= 0)
            CExplain::Fact("startup cache: would assemble %s from an earlier run's record and go without",
                           archive.c_str());
        else if (road.assembled)
            CExplain::Fact("startup cache: would record %s for %s and assemble it after exit (runtime feature "
                           "%d%s; %s)",
                           recording, archive.c_str(), feature, kind, problem);
        else
            CExplain::Fact("startup cache: would create %s at exit (runtime feature %d; %s)", archive.c_str(), feature,
                           problem);
        close(held);
        return;
    }
    if (assembling || record >= 0) {
        if (assembling) {
            CExplain::Fact("startup cache: not used this run, %s is being assembled", archive.c_str());
        } else {
            // The assembler started at an earlier exit did not finish.
            MyCStringArray command;
            aot_cache::AssemblyCommand(road.java, launcher, road.aot && !trainingRecord, command);
            aot_cache::StartAssembly(held, record, trainingRecord, name, command, loader.ExePath(), jvmPath, cap,
                                     false);
            CExplain::Fact("startup cache: assembling %s from an earlier run's record, in the background; this run "
                           "goes without",
                           archive.c_str());
        }
        close(held);
        return;
    }
    if (!problem) {
        CExplain::Fact("startup cache: using %s (runtime feature %d%s)", archive.c_str(), feature, kind);
        if (road.aot) {
            UseAot(launcher, held, through, name);
        } else {
            MyCString option("-XX:SharedArchiveFile=");
            option += through;
            option += name;
            launcher.AddOption(option);
            NoteUseAt(held, name);
        }
        if (SweepDueAt(held, now)) {
            KeepForExit(held, name, loader.ExePath(), jvmPath, cap);
            g_sweep = true;
            CExplain::Fact("startup cache: sweeps %s at exit (cap %s)", dir.c_str(), CapText(cap).c_str());
        }
    } else {
        if (!HasFreeSpace(held, loader.ExePath())) {
            close(held);
            why.Format("too little free space in %s to write an archive", dir.c_str());
            return Refuse(why, true);
        }
        // Name prefix shared by every archive of this executable path and
        // runtime path: the name up to its identity hash.
        RemoveLeftovers(held, name, name.GetLength() - kIdentitySuffixLength);
        if (road.assembled) {
            if (!Record(launcher, road, held, through, name, dir, &why)) {
                close(held);
                return Refuse(why, true);
            }
            KeepForExit(held, name, loader.ExePath(), jvmPath, cap);
            CExplain::Fact("startup cache: recording %s for %s (runtime feature %d%s; %s); assembled %s, which then "
                           "sweeps %s (cap %s)",
                           recording, archive.c_str(), feature, kind, problem,
                           g_waitForAssembly ? "at exit (a unit's processes end with its main one)"
                                             : "after exit in the background",
                           dir.c_str(), CapText(cap).c_str());
        } else {
            const MyCString temporary = TemporaryName(name);
            int fd = temporary.IsEmpty()
                         ? -1
                         : openat(held, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0) {
                why.Format("cannot write in %s: %s", dir.c_str(), strerror(errno));
                close(held);
                return Refuse(why, true);
            }
            close(fd);
            memcpy(g_temporary, temporary.c_str(), static_cast<size_t>(temporary.GetLength()) + 1);
            KeepForExit(held, name, loader.ExePath(), jvmPath, cap);
            g_sweep = true;
            CExplain::Fact("startup cache: creating %s at exit (runtime feature %d; %s), then sweeps %s (cap %s)",
                           archive.c_str(), feature, problem, dir.c_str(), CapText(cap).c_str());
            MyCString option("-XX:ArchiveClassesAtExit=");
            option += through;
            option += temporary;
            launcher.AddOption(option);
        }
    }
    // A missing, foreign or unusable archive is then skipped silently: the
    // runtime's class-sharing messages would go to the user's terminal.
    // (The AOT cache's options refuse -Xshare; a cache that cannot be used
    // is skipped all the same. A class list is written with the base
    // archive mapped. A static archive needs no base archive.)
    if (!road.aot || (problem && !road.training)) launcher.AddOption("-Xshare:auto");
    if (!ownLogging)
        launcher.AddOption(feature >= kFirstAotLoggingFeature ? "-Xlog:cds*=off,aot*=off" : "-Xlog:cds*=off");
}
