#include "pack/runtime_image.h"

#include <dirent.h>
#include <errno.h>
#include <ftw.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstring>

#include "pack/file_io.h"
#include "pack/run_tool.h"
#include "pack/settings_text.h"
#include "pack/tool_paths.h"

namespace tvxpack {

namespace {


bool HasTools(const std::string& home) {
    return access((home + "/bin/jlink").c_str(), X_OK) == 0 && access((home + "/bin/jdeps").c_str(), X_OK) == 0;
}

std::string Trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// The value of KEY="VALUE" in a release file's text.
std::string ReleaseValue(const std::string& text, const std::string& key) {
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
        std::string value = Trimmed(line.substr(key.size() + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        return value;
    }
    return "";
}

// The JDK holding the jlink found on PATH (links resolved), "" for none.
std::string JdkOfPathJlink() {
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(at, end - at);
        at = end + 1;
        if (dir.empty()) continue;
        char real[PATH_MAX];
        if (access((dir + "/jlink").c_str(), X_OK) != 0 || !realpath((dir + "/jlink").c_str(), real)) continue;
        std::string tool = real;
        const std::string tail = "/bin/jlink";
        if (tool.size() > tail.size() && tool.compare(tool.size() - tail.size(), tail.size(), tail) == 0)
            return tool.substr(0, tool.size() - tail.size());
    }
    return "";
}

// Where the build machine's jlink and jdeps come from: the JDK named by
// --jdk when it runs here, else JAVA_HOME, the jlink on PATH, Debian's
// default-java and every JDK in /usr/lib/jvm, the first of Java `feature`
// (any feature when 0).
std::string FindToolJdk(const std::string& given, int feature) {
    std::vector<std::string> candidates;
    if (!given.empty()) candidates.push_back(given);
    const char* javaHome = getenv("JAVA_HOME");
    if (javaHome && *javaHome) candidates.push_back(javaHome);
    candidates.push_back(JdkOfPathJlink());
    candidates.push_back("/usr/lib/jvm/default-java");
    if (DIR* jvms = opendir("/usr/lib/jvm")) {
        std::vector<std::string> homes;
        while (struct dirent* entry = readdir(jvms))
            if (entry->d_name[0] != '.') homes.push_back(std::string("/usr/lib/jvm/") + entry->d_name);
        closedir(jvms);
        std::sort(homes.begin(), homes.end());
        candidates.insert(candidates.end(), homes.begin(), homes.end());
    }
    for (const std::string& home : candidates) {
        if (home.empty() || !HasTools(home)) continue;
        if (feature == 0 || JavaFeature(ReadJdkRelease(home).version) == feature) return home;
    }
    return "";
}

// The modules a JDK can link: its jmods/*.jmod, else (a JDK that links
// from its own run-time image) the release file's MODULES.
std::vector<std::string> KnownModules(const std::string& home) {
    std::vector<std::string> names;
    if (DIR* jmods = opendir((home + "/jmods").c_str())) {
        while (struct dirent* entry = readdir(jmods)) {
            std::string name = entry->d_name;
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".jmod") == 0) names.push_back(name.substr(0, name.size() - 5));
        }
        closedir(jmods);
        return names;
    }
    std::string list = ReadJdkRelease(home).modules + " ";
    for (size_t at = 0, end; (end = list.find(' ', at)) != std::string::npos; at = end + 1)
        if (end > at) names.push_back(list.substr(at, end - at));
    return names;
}

bool ValidModuleName(const std::string& name) {
    bool start = true;
    for (char c : name) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
        bool digit = c >= '0' && c <= '9';
        if (c == '.') {
            if (start) return false;
            start = true;
        } else if (letter || (digit && !start)) {
            start = false;
        } else {
            return false;
        }
    }
    return !name.empty() && !start;
}

// The last line of `text` that is a comma-separated list of module names
// (jdeps prints warnings before it).
std::string ModuleLine(const std::string& text) {
    std::string found;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = Trimmed(text.substr(at, end - at));
        at = end + 1;
        std::vector<std::string> names;
        std::string ignored;
        if (!line.empty() && SplitModuleList(line, &names, &ignored)) found = line;
    }
    return found;
}

// The first lines of a tool's output, joined, for a one-line error.
std::string Said(const std::string& logPath) {
    std::string text, ignored;
    ReadWholeFile(logPath, &text, &ignored);
    std::string said;
    int lines = 0;
    for (size_t at = 0; at < text.size() && lines < 3;) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = Trimmed(text.substr(at, end - at));
        at = end + 1;
        if (line.empty()) continue;
        said += (lines++ ? "; " : "") + line;
    }
    return said.empty() ? "no output" : said;
}

std::string ManifestOf(const std::string& jar) {
    int failure = 0;
    zip_t* archive = zip_open(jar.c_str(), ZIP_RDONLY, &failure);
    if (!archive) return "";
    std::string text;
    zip_stat_t st;
    if (zip_stat(archive, "META-INF/MANIFEST.MF", 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) && st.size < (1u << 20)) {
        if (zip_file_t* file = zip_fopen(archive, "META-INF/MANIFEST.MF", 0)) {
            text.assign(static_cast<size_t>(st.size), '\0');
            zip_int64_t n = text.empty() ? 0 : zip_fread(file, &text[0], text.size());
            text.resize(n < 0 ? 0 : static_cast<size_t>(n));
            zip_fclose(file);
        }
    }
    zip_discard(archive);
    return text;
}

std::vector<std::string>* g_found = nullptr;
int AddArchive(const char* path, const struct stat*, int type, struct FTW*) {
    std::string name = path;
    std::string tail = name.size() > 4 ? name.substr(name.size() - 4) : "";
    std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    if (type == FTW_F && (tail == ".jar" || tail == ".zip")) g_found->push_back(name);
    return 0;
}

bool PlainPath(const std::string& entry) { return !entry.empty() && entry.find_first_of("$%*?") == std::string::npos; }

std::string Below(const std::string& dir, const std::string& path) { return path[0] == '/' ? path : dir + "/" + path; }

}  // namespace

const std::vector<std::string>& ImplicitModules() {
    static const std::vector<std::string> kModules = {
        "jdk.crypto.ec",  "jdk.crypto.cryptoki",  "jdk.charsets",   "jdk.zipfs",     "java.management",
        "jdk.management", "jdk.management.agent", "jdk.naming.dns",
    };
    return kModules;
}

bool SplitModuleList(const std::string& text, std::vector<std::string>* modules, std::string* error) {
    std::vector<std::string> names;
    std::string list = text + ",";
    for (size_t at = 0, end; (end = list.find(',', at)) != std::string::npos; at = end + 1) {
        std::string name = Trimmed(list.substr(at, end - at));
        if (!ValidModuleName(name)) {
            *error = name.empty() ? "an empty module name in '" + text + "'" : "'" + name + "' is not a module name";
            return false;
        }
        names.push_back(name);
    }
    *modules = std::move(names);
    return true;
}

bool ValidLocalePatterns(const std::string& text, std::string* error) {
    std::string list = text + ",";
    for (size_t at = 0, end; (end = list.find(',', at)) != std::string::npos; at = end + 1) {
        const std::string pattern = list.substr(at, end - at);
        bool valid = !pattern.empty() && pattern.front() != '-' && pattern.back() != '-';
        for (char c : pattern) {
            const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            valid = valid && (alphanumeric || c == '-' || c == '*');
        }
        if (!valid) {
            *error = pattern.empty() ? "an empty locale in '" + text + "'"
                                     : "'" + pattern + "' is not a locale (a language tag such as de or fr-FR, or a "
                                       "pattern such as *-IN)";
            return false;
        }
    }
    return true;
}

JdkRelease ParseJdkRelease(const std::string& text) {
    JdkRelease release;
    release.version = ReleaseValue(text, "JAVA_VERSION");
    release.osArch = ReleaseValue(text, "OS_ARCH");
    release.modules = ReleaseValue(text, "MODULES");
    return release;
}

JdkRelease ReadJdkRelease(const std::string& home) {
    std::string text, ignored;
    if (!ReadWholeFile(home + "/release", &text, &ignored)) return JdkRelease();
    return ParseJdkRelease(text);
}

int JavaFeature(const std::string& version) {
    std::string v = version.compare(0, 2, "1.") == 0 ? version.substr(2) : version;
    int n = 0;
    size_t i = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9' && n < 100000; ++i) n = n * 10 + (v[i] - '0');
    return i == 0 ? 0 : n;
}

bool OsArchMatches(const std::string& osArch, const std::string& processor) {
    static const char* const kNames[][2] = {{"x86_64", "x86_64"}, {"amd64", "x86_64"}, {"aarch64", "aarch64"},
                                            {"arm", "armhf"},     {"x86", "i386"},      {"i386", "i386"},
                                            {"i586", "i386"},     {"i686", "i386"}};
    for (const auto& name : kNames)
        if (osArch == name[0]) return processor == name[1];
    return false;
}

std::vector<std::string> ClassPathJars(const std::string& jar, const std::vector<std::string>& settingsLines,
                                       const std::string& home) {
    std::vector<std::string> jars;
    size_t slash = jar.rfind('/');
    const std::string jarDir = slash == std::string::npos ? "." : jar.substr(0, slash == 0 ? 1 : slash);
    std::string entries = ManifestAttribute(ManifestOf(jar), "Class-Path") + " ";
    for (size_t at = 0, end; (end = entries.find(' ', at)) != std::string::npos; at = end + 1) {
        std::string entry = entries.substr(at, end - at);
        if (PlainPath(entry) && IsRegularFile(Below(jarDir, entry))) jars.push_back(Below(jarDir, entry));
    }
    for (const std::string& line : settingsLines) {
        std::string value;
        if (LineCarriesKey(line, "classpath", &value) || LineCarriesKey(line, "java_classpath", &value)) {
            value = Trimmed(value) + ":";
            for (size_t at = 0, end; (end = value.find(':', at)) != std::string::npos; at = end + 1) {
                std::string entry = value.substr(at, end - at);
                if (PlainPath(entry) && IsRegularFile(Below(home, entry))) jars.push_back(Below(home, entry));
            }
        } else if (LineCarriesKey(line, "libs", &value) || LineCarriesKey(line, "java_libs", &value)) {
            value = Trimmed(value);
            if (!PlainPath(value) || !IsDirectory(Below(home, value))) continue;
            std::vector<std::string> found;
            g_found = &found;
            nftw(Below(home, value).c_str(), AddArchive, 16, FTW_PHYS);
            g_found = nullptr;
            std::sort(found.begin(), found.end());
            jars.insert(jars.end(), found.begin(), found.end());
        }
    }
    return jars;
}

LinkedRuntime::~LinkedRuntime() {
    if (!path_.empty()) RemoveTree(path_.substr(0, path_.rfind('/')));
}

bool LinkedRuntime::Link(const RuntimeRequest& request, const std::string& processor,
                         const std::vector<std::string>& inputs, const std::string& dir, std::string* error) {
    const bool native = processor == HostProcessor();
    std::string moduleJdk = request.jdk;
    if (moduleJdk.empty() && !native) {
        *error = "--runtime with --arch " + processor + " needs --jdk JDK_HOME, a JDK of that processor with its jmods " +
                 "(cmake/cross/setup.sh unpacks Debian's openjdk-17-jdk-headless into build-" + processor +
                 "/runtime/usr/lib/jvm)";
        return false;
    }
    if (!moduleJdk.empty() && !IsDirectory(moduleJdk)) {
        *error = "--jdk " + moduleJdk + ": no such directory";
        return false;
    }
    const JdkRelease wanted = ReadJdkRelease(moduleJdk);
    if (!moduleJdk.empty() && wanted.version.empty()) {
        *error = "--jdk " + moduleJdk + ": not a JDK (no release file naming JAVA_VERSION)";
        return false;
    }
    const int feature = JavaFeature(wanted.version);
    if (!moduleJdk.empty() && !wanted.osArch.empty() && !OsArchMatches(wanted.osArch, processor)) {
        *error = "--jdk " + moduleJdk + " is a JDK for " + wanted.osArch + "; the executable is for " + processor;
        return false;
    }
    if (!moduleJdk.empty() && native && !HasTools(moduleJdk)) {
        *error = "--jdk " + moduleJdk + " has no bin/jlink and bin/jdeps: give a JDK (9 or later; Debian: " +
                 "openjdk-17-jdk-headless), not a runtime";
        return false;
    }
    const std::string toolJdk = FindToolJdk(native ? moduleJdk : "", native ? 0 : feature);
    if (toolJdk.empty()) {
        *error = native ? "no jlink and jdeps found (looked in --jdk, JAVA_HOME, PATH, /usr/lib/jvm): install a JDK "
                          "(Debian: openjdk-17-jdk-headless) or give --jdk JDK_HOME"
                        : "no jlink of Java " + wanted.version + " on this machine: jlink links only the modules of "
                          "its own Java version (feature " + std::to_string(feature) + "), so install that JDK here "
                          "or give --jdk the " + processor + " JDK of the version installed here";
        return false;
    }
    if (moduleJdk.empty()) moduleJdk = toolJdk;
    const JdkRelease tools = ReadJdkRelease(toolJdk);
    const int toolFeature = JavaFeature(tools.version);
    if (toolFeature < 9) {
        *error = toolJdk + " (Java " + tools.version + ") cannot link a runtime: jlink needs Java 9 or later";
        return false;
    }
    const bool ownImage = !IsDirectory(moduleJdk + "/jmods");
    if (ownImage && (moduleJdk != toolJdk || toolFeature < 24)) {
        *error = moduleJdk + " has no jmods directory: jlink needs the JDK's modules (Debian: openjdk-" +
                 std::to_string(feature ? feature : toolFeature) + "-jdk-headless" +
                 (native ? "" : ":" + processor) + ")";
        return false;
    }
    const std::vector<std::string> known = KnownModules(moduleJdk);
    auto knows = [&known](const std::string& name) { return std::find(known.begin(), known.end(), name) != known.end(); };

    std::vector<std::string> modules;
    const std::string scratch = dir + "/.jre.tvx-pack-XXXXXX";
    std::vector<char> buffer(scratch.begin(), scratch.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        *error = "cannot make a staging directory in " + dir + ": " + strerror(errno);
        return false;
    }
    const std::string staging = buffer.data();
    path_ = staging + "/jre";
    const std::string log = staging + "/tool.log";
    if (request.modules == "auto") {
        std::vector<std::string> argv = {toolJdk + "/bin/jdeps", "--print-module-deps", "--ignore-missing-deps",
                                         "--multi-release", std::to_string(toolFeature)};
        argv.insert(argv.end(), inputs.begin(), inputs.end());
        int status = RunTool(argv, {}, "", log, true);
        std::string output, ignored;
        ReadWholeFile(log, &output, &ignored);
        std::string line = ModuleLine(output);
        if (status != 0 || line.empty()) {
            *error = "jdeps could not list the modules the application needs (" + Said(log) +
                     "); name them with --runtime MODULE,...";
            return false;
        }
        if (!SplitModuleList(line, &modules, error)) return false;
        for (const std::string& name : ImplicitModules())
            if (knows(name)) modules.push_back(name);
    } else if (!SplitModuleList(request.modules, &modules, error)) {
        *error = "--runtime: " + *error + " (give auto or a comma-separated list of modules)";
        return false;
    }
    modules.insert(modules.end(), request.addModules.begin(), request.addModules.end());
    if (!request.locales.empty()) modules.push_back("jdk.localedata");  // the module --include-locales trims
    modules.push_back("java.base");  // the helper classes' and every application's
    std::vector<std::string> unique;
    for (const std::string& name : modules) {
        if (std::find(unique.begin(), unique.end(), name) != unique.end()) continue;
        if (!knows(name)) {
            *error = "unknown module '" + name + "': " + moduleJdk + " has no such module (" +
                     std::to_string(known.size()) + " modules; " + toolJdk + "/bin/java --list-modules lists them)";
            return false;
        }
        unique.push_back(name);
    }
    std::sort(unique.begin(), unique.end());
    modules_ = unique;

    std::string list;
    for (const std::string& name : unique) list += (list.empty() ? "" : ",") + name;
    std::vector<std::string> argv = {toolJdk + "/bin/jlink"};
    if (!ownImage) argv.insert(argv.end(), {"--module-path", moduleJdk + "/jmods"});
    argv.insert(argv.end(), {"--add-modules", list, "--strip-debug", "--no-man-pages", "--no-header-files",
                             // JDK 21 names the levels zip-0 to zip-9 and deprecates 0 to 2; JDK 17 knows only those.
                             toolFeature < 21 ? "--compress=2" : "--compress=zip-6"});
    if (!request.locales.empty()) argv.push_back("--include-locales=" + request.locales);
    // The base class-data archive, which the startup cache's archive builds
    // on, is dumped by running the new runtime; jlink does it for this
    // processor, another's is tried below.
    if (native) argv.push_back("--generate-cds-archive");
    argv.insert(argv.end(), {"--output", path_});
    int status = RunTool(argv, {}, "", log, true);
    if (status != 0) {
        *error = status == 127 ? toolJdk + "/bin/jlink could not be started" : "jlink failed: " + Said(log);
        return false;
    }
    if (!IsRegularFile(path_ + "/lib/server/libjvm.so") || access((path_ + "/bin/java").c_str(), X_OK) != 0) {
        *error = "jlink made no runtime with lib/server/libjvm.so and bin/java in " + path_;
        return false;
    }
    // jlink dumps a second base archive on 64-bit processors, used only when
    // the heap has no compressed object pointers (heaps of 32 GiB and more,
    // ZGC, -XX:-UseCompressedOops): 10 MiB that most services never map.
    // Such a start then runs without class sharing, and the launcher's
    // startup cache stands aside.
    unlink((path_ + "/lib/server/classes_nocoops.jsa").c_str());
    // Another processor's runtime dumps its base archive where this machine
    // runs that processor's programs (qemu-user through binfmt_misc, or the
    // kernel itself for i386).
    if (!native && RunTool({path_ + "/bin/java", "-Xshare:dump"}, {}, "", log, true) != 0) {
        unlink((path_ + "/lib/server/classes.jsa").c_str());
        note_ = "no base class-data archive in the runtime: its bin/java -Xshare:dump failed on this machine (" +
                Said(log) + "); the startup cache is not used with it";
    }
    return true;
}

bool LinkedRuntime::MoveTo(const std::string& destination, std::string* error) {
    const std::string staging = path_.substr(0, path_.rfind('/'));
    const std::string old = staging + "/replaced";
    struct stat st;
    const bool replacing = lstat(destination.c_str(), &st) == 0;
    if (replacing && rename(destination.c_str(), old.c_str()) != 0) {
        *error = "cannot replace " + destination + ": " + strerror(errno);
        return false;
    }
    if (rename(path_.c_str(), destination.c_str()) != 0) {
        *error = "cannot move the runtime to " + destination + ": " + strerror(errno);
        if (replacing) rename(old.c_str(), destination.c_str());
        return false;
    }
    path_.clear();
    RemoveTree(staging);
    return true;
}

bool CheckRuntimeDestination(const std::string& destination, std::string* error) {
    struct stat st;
    if (lstat(destination.c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode) && IsRegularFile(destination + "/release") && IsRegularFile(destination + "/lib/modules")) return true;
    *error = "cannot write the runtime to " + destination + ": it exists and is not a Java runtime (move it away)";
    return false;
}

}  // namespace tvxpack
