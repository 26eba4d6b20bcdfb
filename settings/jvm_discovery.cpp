// Finding the Java runtime library (libjvm.so): a library named in the
// settings, a runtime shipped beside the application, the runtime of the
// "java" command on the search path, and JRE_HOME / JAVA_HOME. The result is
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
const char kDefaultJreHome[] = "./jre/";

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
        if (CExplain::On()) {
            MyCString source("e (");
            source += name;
            source += ")";
            ExplainRuntimeSource(source, home, found);
        }
        if (!found.IsEmpty()) return found;
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

// One pass over the search order; the first source that finds a library wins.
static MyCString SearchJvm(CSettingsLoader& loader) {
    MyCString order = loader.GetCommon("jre_order");
    for (int i = 0; i < order.GetLength(); ++i) order[i] = static_cast<char>(tolower(static_cast<unsigned char>(order[i])));
    if (!strpbrk(order, kDefaultOrder)) order = kDefaultOrder;
    CExplain::Fact("runtime search order %s", order.c_str());

    for (int i = 0; i < order.GetLength(); ++i) {
        MyCString found;
        switch (order[i]) {
            case 'c': {
                MyCString library = CSettingsLoader::EnvProcess(loader.GetCommon("jvmdll"), false);
                if (library.IsEmpty()) {
                    CExplain::Fact("runtime source c (jvmdll): refused, not set");
                    break;
                }
                library = loader.ToAbsolutePath(library);
                if (IsLibraryFile(library)) found = library;
                if (CExplain::On()) ExplainRuntimeSource("c (jvmdll)", library, found);
                break;
            }
            case 'b': {
                MyCString home = CSettingsLoader::EnvProcess(loader.GetCommon("jre"), false);
                if (home.IsEmpty()) home = kDefaultJreHome;
                home = loader.ToAbsolutePath(home);
                found = loader.FindLibjvmFile(home);
                if (CExplain::On()) ExplainRuntimeSource("b (bundled runtime, jre)", home, found);
                break;
            }
            case 's':
                found = loader.FindJvmFromReg("SOFTWARE\\JavaSoft\\JRE");
                if (found.IsEmpty()) found = loader.FindJvmFromReg("SOFTWARE\\JavaSoft\\Java Runtime Environment");
                break;
            case 'e':
                found = loader.FindJvmFromEnv();
                break;
            default:  // "i" (nothing to search on this platform) and other characters
                CExplain::Fact("runtime source %c: searches nothing here", order[i]);
                break;
        }
        if (!found.IsEmpty()) return found;
    }
    return MyCString();
}

MyCString CSettingsLoader::GetJvmPath() {
    MyCString* cache = JvmPathCache();
    if (!cache) return SearchJvm(*this);  // only after the cache was destroyed at exit
    if (*cache != kNoSearchYet) return *cache;
    cache->Empty();
    *cache = SearchJvm(*this);
    if (CExplain::On() && cache->IsEmpty()) CExplain::Fact("runtime not found: every source refused");
    return *cache;
}
