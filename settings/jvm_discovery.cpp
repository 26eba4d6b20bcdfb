// Finding the Java runtime library (libjvm.so): a library named in the
// settings, a runtime shipped beside the application, the runtime of the
// "java" command on the search path, and JRE_HOME / JAVA_HOME. When
// "minjre" or "maxjre" is set, a runtime whose release file names a version
// outside them is passed over (the virtual machine can be created only once
// in a process, so the choice is made before), and Debian's runtimes in
// /usr/lib/jvm are tried after the sources of the order. The result is
// searched once per process and cached.
#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/explain.h"
#include "base/platform.h"
#include "settings/discovery_explain.h"
#include "settings/shipped_runtime.h"
#include "settings/runtime_release.h"
#include "settings/settings_loader.h"

// The directory name the Java runtime uses for this build's processor.
#if defined(__x86_64__)
#define TVX_JVM_CPU_DIR "amd64"
#elif defined(__i386__)
#define TVX_JVM_CPU_DIR "i386"
#elif defined(__aarch64__)
#define TVX_JVM_CPU_DIR "aarch64"
#elif defined(__arm__) && defined(__ARM_PCS_VFP)
// 32-bit ARM with hard-float calls: the only 32-bit ARM runtime served.
#define TVX_JVM_CPU_DIR "arm"
#else
#error "no Java runtime processor directory known for this processor"
#endif

namespace {

const char kLibjvmName[] = "libjvm.so";
const char kNoSearchYet[] = "-";
const char kDefaultOrder[] = "cbsie";

// Layouts of Java runtimes below a home directory, in probe order. The last
// three serve a home that is a runtime's bin/ directory.
const char* const kProbeDirs[] = {
    "",
    "lib/",
    TVX_JVM_CPU_DIR "/",
    "lib/" TVX_JVM_CPU_DIR "/",
    "jre/lib/" TVX_JVM_CPU_DIR "/",
    "../lib/",
    "../lib/" TVX_JVM_CPU_DIR "/",
    "../jre/lib/" TVX_JVM_CPU_DIR "/",
};

const char* const kHomeVariables[] = {"JRE_HOME", "JAVA_HOME"};

// Path buffer of the search-path probe and the bound on the links it follows
// (a chain longer than this is taken for a cycle).
const int kProbePathSize = PATH_MAX;
const int kMaxLinkHops = 40;

MyCString* g_jvmPath = nullptr;  // kNoSearchYet until the first search

// Where Debian installs every runtime, and its link to the default one.
const char kDebianJvmDir[] = "/usr/lib/jvm/";
const char kDebianDefault[] = "default-java";

// The "minjre" / "maxjre" bounds of one search, and the first runtime they
// made the search pass over (used when none fits, so that the version check
// after creation reports it as it always has).
struct VersionRange {
    MyCString min;
    MyCString max;
    MyCString firstSkipped;
    bool IsSet() const { return !min.IsEmpty() || !max.IsEmpty(); }
};

VersionRange* g_range = nullptr;  // the range of the search that runs, or null

const char* BoundText(const MyCString& bound) { return bound.IsEmpty() ? "(none)" : bound.c_str(); }

// True when the library `found` of search source `source` may be used: no
// range is set, its release file names no version (the check after
// creation decides then), or the version it names lies in the range.
// Otherwise the skip and its reason are explained and remembered.
bool FitsRange(const char* source, const MyCString& found) {
    if (found.IsEmpty() || !g_range || !g_range->IsSet()) return true;
    const MyCString version = RuntimeReleaseVersion(found);
    if (version.IsEmpty()) {
        CExplain::Fact("runtime source %s: %s: its release file names no version, the version check decides", source,
                       found.c_str());
        return true;
    }
    const int range = CheckVersionRange(version, g_range->min, g_range->max);
    if (range == 0) return true;
    CExplain::Fact("runtime source %s: %s: skipped, its release file says %s, %s minjre %s, maxjre %s", source,
                   found.c_str(), version.c_str(), range < 0 ? "below" : "above", BoundText(g_range->min),
                   BoundText(g_range->max));
    if (g_range->firstSkipped.IsEmpty()) g_range->firstSkipped = found;
    return false;
}

}  // namespace

static void get_jvm_path_callback() {
    delete g_jvmPath;
    g_jvmPath = nullptr;
}

// The process-wide runtime path cache; null once destroyed at exit.
static MyCString* JvmPathCache() {
    static const bool created = [] {
        g_jvmPath = new MyCString(kNoSearchYet);
        atexit(get_jvm_path_callback);
        return true;
    }();
    (void)created;
    return g_jvmPath;
}


// True when `path` names a readable regular file (links followed) that can
// be given to the dynamic loader. Anything else that exists there (a FIFO
// would block the loader forever, a directory cannot load) is named on
// standard error and passed over as if absent.
static bool IsLibraryFile(const char* path) {
    if (!CSettingsLoader::FileExists(path)) return false;
    struct stat st;
    if (stat(path, &st) == 0 && S_ISREG(st.st_mode)) return true;
    SayWarning("%s: not a regular file, skipped", path);
    return false;
}

// `base` + <subdirectory> + "/libjvm.so" for the first subdirectory of `base`
// (in directory order) that holds the library; empty when none does.
static MyCString FindInSubdirectories(const MyCString& base) {
    MyCString pattern(base);
    pattern += "*";
    _finddata_t entry;
    long search = _findfirst(pattern, &entry);
    if (search == -1) return MyCString();
    MyCString found;
    do {
        if (!(entry.attrib & _A_SUBDIR) || IsDotEntry(entry.name)) continue;
        MyCString candidate(base);
        candidate += entry.name;
        candidate += "/";
        candidate += kLibjvmName;
        if (IsLibraryFile(candidate)) {
            found = candidate;
            break;
        }
    } while (_findnext(search, &entry) == 0);
    _findclose(search);
    return found;
}

// The search path the shell uses: PATH, or the system's default search
// path when PATH is unset (supervisors and cron start programs with almost
// no environment).
static MyCString CommandSearchPath() {
    const char* path = getenv("PATH");
    if (path) return MyCString(path);
    MyCString fallback;
    size_t size = confstr(_CS_PATH, nullptr, 0);
    if (size > 1) {
        fallback.SetSize(static_cast<int>(size));
        confstr(_CS_PATH, fallback.Data(), size);
        fallback.SetSize(static_cast<int>(size) - 1);
    }
    return fallback;
}

// Puts into `path` what "which java" prints: the first entry of the search
// path (an empty entry standing for the working directory) that holds an
// executable regular file named "java", or leaves "/" when there is none.
// The search runs in-process: starting a shell and "which" for it would cost
// more than all of the launcher's own start-up work. False when the found
// path does not fit `size` bytes.
static bool ReadJavaCommandPath(char* path, int size) {
    strcpy(path, "/");
    const MyCString searchPath = CommandSearchPath();
    const char* entry = searchPath;
    if (!*entry) return true;
    for (;;) {
        const char* end = strchr(entry, ':');
        size_t length = end ? static_cast<size_t>(end - entry) : strlen(entry);
        const char* dir = length ? entry : ".";
        if (!length) length = 1;
        char candidate[kProbePathSize];
        if (length + sizeof "/java" <= sizeof candidate) {
            memcpy(candidate, dir, length);
            memcpy(candidate + length, "/java", sizeof "/java");
            struct stat st;
            if (stat(candidate, &st) == 0 && S_ISREG(st.st_mode) && access(candidate, X_OK) == 0) {
                if (strlen(candidate) >= static_cast<size_t>(size)) return false;
                strcpy(path, candidate);
                return true;
            }
        }
        if (!end) return true;
        entry = end + 1;
    }
}

// Replaces `path` by the end of its chain of symbolic links; relative targets
// are taken relative to the link's directory. False for a chain that does not
// end within the bound (a cycle), an unreadable link, or a result that does
// not fit `size` bytes.
static bool FollowLinkChain(char* path, int size) {
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (lstat(path, &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        if (hops == kMaxLinkHops) return false;
        char target[kProbePathSize];
        ssize_t n = readlink(path, target, sizeof target);
        if (n < 0 || n >= static_cast<ssize_t>(sizeof target)) return false;
        target[n] = '\0';
        int keep = 0;  // bytes of `path` (its directory) that stay in front
        if (target[0] != '/') {
            const char* slash = strrchr(path, '/');
            keep = slash ? static_cast<int>(slash - path) + 1 : 0;
        }
        if (keep + n >= size) return false;
        memcpy(path + keep, target, static_cast<size_t>(n) + 1);
    }
}

MyCString CSettingsLoader::GetVM() {
    if (m_vmName.IsEmpty()) {
        m_vmName = EnvProcess(GetCommon("vm"), false);
        if (m_vmName.IsEmpty()) m_vmName = "-";
    }
    return m_vmName;
}

MyCString CSettingsLoader::FindLibjvmFile(const char* home) {
    MyCString dir(home ? home : "");
    AppendDirSeparator(dir);
    for (const char* probe : kProbeDirs) {
        MyCString base(dir);
        base += probe;
        MyCString candidate(base);
        candidate += kLibjvmName;
        if (IsLibraryFile(candidate)) return candidate;

        MyCString vm = GetVM();
        if (vm.GetLength() > 1) {
            candidate = base;
            candidate += vm;
            candidate += "/";
            candidate += kLibjvmName;
            if (IsLibraryFile(candidate)) return candidate;
        }

        candidate = FindInSubdirectories(base);
        if (!candidate.IsEmpty()) return candidate;
    }
    return MyCString();
}

MyCString CSettingsLoader::FindJvmFromEnv() {
    for (const char* name : kHomeVariables) {
        const char* home = getenv(name);
        if (!home || !*home) {
            CExplain::Fact("runtime source e (%s): refused, not set", name);
            continue;
        }
        MyCString found = FindLibjvmFile(home);
        MyCString source("e (");
        source += name;
        source += ")";
        if (CExplain::On()) ExplainRuntimeSource(source, home, found);
        if (!found.IsEmpty() && FitsRange(source, found)) return found;
    }
    return MyCString();
}

// The other platform's registry key is of no use here: the runtime of the
// "java" command on the search path is probed instead.
MyCString CSettingsLoader::FindJvmFromReg(MyCString) {
    const char kSource[] = "s (java on PATH)";
    char path[kProbePathSize];
    if (!ReadJavaCommandPath(path, kProbePathSize)) {
        CExplain::Fact("runtime source %s: refused, its path is too long", kSource);
        return MyCString();
    }
    if (CExplain::On()) {
        if (strcmp(path, "/") == 0)
            CExplain::Fact("runtime source %s: no java command on PATH, probing /", kSource);
        else
            CExplain::Fact("runtime source %s: java command %s", kSource, path);
    }
    if (!FollowLinkChain(path, kProbePathSize)) {
        CExplain::Fact("runtime source %s: refused, its links do not end", kSource);
        return MyCString();
    }
    char* slash = strrchr(path, '/');
    if (slash)
        slash[1] = '\0';
    else
        strcpy(path, "./");  // a bare name lies in the working directory
    MyCString found = FindLibjvmFile(path);
    if (CExplain::On()) ExplainRuntimeSource(kSource, path, found);
    return found;
}

// Debian's runtimes: the default-java link first, then the runtime of
// /usr/lib/jvm whose release file names the highest version in the range
// (runtimes that name none cannot be ranked and are passed over; of equal
// versions the first name in byte order is taken, whatever order the
// directory lists them in).
static MyCString SearchDebianRuntimes(CSettingsLoader& loader) {
    static const char kSource[] = "Debian (/usr/lib/jvm)";
    MyCString home(kDebianJvmDir);
    home += kDebianDefault;
    MyCString found = loader.FindLibjvmFile(home);
    if (CExplain::On()) ExplainRuntimeSource(kSource, home, found);
    if (!found.IsEmpty() && FitsRange(kSource, found)) return found;

    MyCString pattern(kDebianJvmDir);
    pattern += "*";
    _finddata_t entry;
    long search = _findfirst(pattern, &entry);
    if (search == -1) {
        CExplain::Fact("runtime source %s: no runtimes there", kSource);
        return MyCString();
    }
    MyCString best, bestVersion, bestName;
    do {
        if (!(entry.attrib & _A_SUBDIR) || IsDotEntry(entry.name) || strcmp(entry.name, kDebianDefault) == 0) continue;
        home = kDebianJvmDir;
        home += entry.name;
        MyCString library = loader.FindLibjvmFile(home);
        if (library.IsEmpty()) {
            if (CExplain::On()) ExplainRuntimeSource(kSource, home, library);
            continue;
        }
        const MyCString version = RuntimeReleaseVersion(library);
        if (version.IsEmpty()) {
            CExplain::Fact("runtime source %s: %s: skipped, its release file names no version", kSource,
                           library.c_str());
            continue;
        }
        if (!FitsRange(kSource, library)) continue;
        const int order = best.IsEmpty() ? 1 : CompareVersionTexts(version, bestVersion);
        if (order > 0 || (order == 0 && strcmp(entry.name, bestName) < 0)) {
            best = library;
            bestVersion = version;
            bestName = entry.name;
        }
    } while (_findnext(search, &entry) == 0);
    _findclose(search);
    if (!best.IsEmpty())
        CExplain::Fact("runtime source %s: %s: accepted, the newest that fits (release %s)", kSource, best.c_str(),
                       bestVersion.c_str());
    return best;
}

// One pass over the search order; the first source that finds a library
// that fits the version range wins.
static MyCString SearchJvm(CSettingsLoader& loader) {
    MyCString order = loader.GetCommon("jre_order");
    for (int i = 0; i < order.GetLength(); ++i) order[i] = static_cast<char>(tolower(static_cast<unsigned char>(order[i])));
    if (!strpbrk(order, kDefaultOrder)) order = kDefaultOrder;
    CExplain::Fact("runtime search order %s", order.c_str());

    for (int i = 0; i < order.GetLength(); ++i) {
        MyCString found;
        const char* source = nullptr;  // null: the source applied the range itself
        switch (order[i]) {
            case 'c': {
                source = "c (jvmdll)";
                MyCString library = CSettingsLoader::EnvProcess(loader.GetCommon("jvmdll"), false);
                if (library.IsEmpty()) {
                    CExplain::Fact("runtime source c (jvmdll): refused, not set");
                    break;
                }
                library = loader.ToAbsolutePath(library);
                if (IsLibraryFile(library))
                    found = library;
                else
                    SayWarning("jvmdll %s: no such library, the next runtime source is tried", library.c_str());
                if (CExplain::On()) ExplainRuntimeSource(source, library, found);
                break;
            }
            case 'b': {
                source = "b (bundled runtime, jre)";
                bool named = false;
                MyCString home = ShippedRuntimeHome(loader, &named);
                found = loader.FindLibjvmFile(home);
                // Only a home the settings name is worth a line: most
                // applications ship no runtime in the default ./jre/.
                if (found.IsEmpty() && named)
                    SayWarning("jre %s: no Java runtime there, the next runtime source is tried", home.c_str());
                if (CExplain::On()) ExplainRuntimeSource(source, home, found);
                break;
            }
            case 's':
                source = "s (java on PATH)";
                found = loader.FindJvmFromReg("SOFTWARE\\JavaSoft\\JRE");
                if (found.IsEmpty()) found = loader.FindJvmFromReg("SOFTWARE\\JavaSoft\\Java Runtime Environment");
                break;
            case 'e':
                found = loader.FindJvmFromEnv();  // applies the range to each variable itself
                break;
            default:  // "i" (nothing to search on this platform) and other characters
                CExplain::Fact("runtime source %c: searches nothing here", order[i]);
                break;
        }
        if (!found.IsEmpty() && (!source || FitsRange(source, found))) return found;
    }
    if (!g_range || !g_range->IsSet()) return MyCString();
    MyCString found = SearchDebianRuntimes(loader);
    if (!found.IsEmpty() || g_range->firstSkipped.IsEmpty()) return found;
    CExplain::Fact("runtime search: no runtime fits minjre %s, maxjre %s; %s, the first found, is used and the "
                   "version check decides",
                   BoundText(g_range->min), BoundText(g_range->max), g_range->firstSkipped.c_str());
    return g_range->firstSkipped;
}

MyCString CSettingsLoader::GetJvmPath() {
    MyCString* cache = JvmPathCache();
    if (cache && *cache != kNoSearchYet) return *cache;
    if (cache) cache->Empty();
    VersionRange range;
    range.min = GetCommon("minjre");
    range.max = GetCommon("maxjre");
    g_range = &range;
    MyCString found = SearchJvm(*this);
    g_range = nullptr;
    if (!cache) return found;  // only after the cache was destroyed at exit
    *cache = found;
    if (CExplain::On() && cache->IsEmpty()) CExplain::Fact("runtime not found: every source refused");
    if (CExplain::On() && !cache->IsEmpty())
        CExplain::Fact(IsShippedRuntime(*this, *cache) ? "runtime used: %s, the one shipped with the application"
                                                       : "runtime used: %s, found on this system (none shipped with "
                                                         "the application is used)",
                       cache->c_str());
    return *cache;
}
