#include "pack/deb_package.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pack/deb_runtime.h"
#include "pack/file_io.h"
#include "pack/run_tool.h"
#include "pack/settings_text.h"

namespace tvxpack {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool WriteText(const std::string& path, const std::string& text, mode_t mode, std::string* error) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0 || !WriteAt(fd, text.data(), text.size(), 0) || fchmod(fd, mode) != 0) {
        *error = "cannot write " + path + ": " + strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    return close(fd) == 0;
}

bool MakeDirs(const std::string& path, std::string* error) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = "cannot make " + part + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

bool Link(const std::string& target, const std::string& path, std::string* error) {
    if (symlink(target.c_str(), path.c_str()) == 0) return true;
    *error = "cannot make the link " + path + ": " + strerror(errno);
    return false;
}

time_t g_fixedTime = 0;
int SetTime(const char* path, const struct stat*, int, struct FTW*) {
    struct timespec times[2] = {{g_fixedTime, 0}, {g_fixedTime, 0}};
    utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW);
    return 0;
}
off_t g_totalBytes = 0;
int AddSize(const char* path, const struct stat* st, int type, struct FTW*) {
    if (strstr(path, "/DEBIAN") == nullptr) g_totalBytes += type == FTW_F ? ((st->st_size + 1023) / 1024) * 1024 : 1024;
    return 0;
}

// The package's fixed time: SOURCE_DATE_EPOCH when set, else the newest
// entry of the application's archive, so the same inputs give the same bytes.
time_t FixedTime(const std::string& jar) {
    const char* given = getenv("SOURCE_DATE_EPOCH");
    if (given && *given) {
        char* end = nullptr;
        long long value = strtoll(given, &end, 10);
        if (*end == '\0' && value >= 0) return static_cast<time_t>(value);
    }
    time_t newest = 0;
    int failure = 0;
    zip_t* archive = zip_open(jar.c_str(), ZIP_RDONLY, &failure);
    if (!archive) return 0;
    zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME))
            newest = std::max(newest, st.mtime);
    }
    zip_discard(archive);
    return newest;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

int FeatureOf(const std::string& version) {
    std::string v = version;
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) v.pop_back();
    if (v.compare(0, 2, "1.") == 0) v = v.substr(2);
    int n = 0;
    size_t i = 0;
    for (; i < v.size() && IsDigit(v[i]) && n < 1000; ++i) n = n * 10 + (v[i] - '0');
    return i == 0 ? 0 : n;
}

const char kPostinstService[] =
    "#!/bin/sh\n"
    "set -e\n"
    "\n"
    "# The service's own system user, made the way adduser --system makes one.\n"
    "if [ \"$1\" = \"configure\" ]; then\n"
    "\tif ! getent passwd '@NAME@' >/dev/null; then\n"
    "\t\tadduser --system --quiet --group --home /var/lib/@NAME@ --no-create-home \\\n"
    "\t\t\t--gecos '@NAME@ service' '@NAME@'\n"
    "\tfi\n"
    "fi\n"
    "\n"
    "# Enabled on the first installation, restarted after an upgrade.\n"
    "if [ \"$1\" = \"configure\" ] || [ \"$1\" = \"abort-upgrade\" ] || [ \"$1\" = \"abort-deconfigure\" ] || [ \"$1\" = \"abort-remove\" ] ; then\n"
    "\tdeb-systemd-helper unmask '@NAME@.service' >/dev/null || true\n"
    "\tif deb-systemd-helper --quiet was-enabled '@NAME@.service'; then\n"
    "\t\tdeb-systemd-helper enable '@NAME@.service' >/dev/null || true\n"
    "\telse\n"
    "\t\tdeb-systemd-helper update-state '@NAME@.service' >/dev/null || true\n"
    "\tfi\n"
    "fi\n"
    "if [ \"$1\" = \"configure\" ] || [ \"$1\" = \"abort-upgrade\" ] || [ \"$1\" = \"abort-deconfigure\" ] || [ \"$1\" = \"abort-remove\" ] ; then\n"
    "\tif [ -d /run/systemd/system ]; then\n"
    "\t\tsystemctl --system daemon-reload >/dev/null || true\n"
    "\t\tif [ -n \"$2\" ]; then\n"
    "\t\t\t_action=restart\n"
    "\t\telse\n"
    "\t\t\t_action=start\n"
    "\t\tfi\n"
    "\t\tdeb-systemd-invoke $_action '@NAME@.service' >/dev/null || true\n"
    "\tfi\n"
    "fi\n";

const char kPrermService[] =
    "#!/bin/sh\n"
    "set -e\n"
    "\n"
    "# Stopped on removal; an upgrade restarts it from the new postinst instead.\n"
    "if [ -d /run/systemd/system ] && [ \"$1\" = remove ]; then\n"
    "\tdeb-systemd-invoke stop '@NAME@.service' >/dev/null || true\n"
    "fi\n";

const char kPostrmService[] =
    "#!/bin/sh\n"
    "set -e\n"
    "\n"
    "if [ -d /run/systemd/system ] && [ \"$1\" = remove ]; then\n"
    "\tsystemctl --system daemon-reload >/dev/null || true\n"
    "fi\n"
    "if [ \"$1\" = \"remove\" ]; then\n"
    "\tif [ -x \"/usr/bin/deb-systemd-helper\" ]; then\n"
    "\t\tdeb-systemd-helper mask '@NAME@.service' >/dev/null || true\n"
    "\tfi\n"
    "fi\n"
    "if [ \"$1\" = \"purge\" ]; then\n"
    "\tif [ -x \"/usr/bin/deb-systemd-helper\" ]; then\n"
    "\t\tdeb-systemd-helper purge '@NAME@.service' >/dev/null || true\n"
    "\t\tdeb-systemd-helper unmask '@NAME@.service' >/dev/null || true\n"
    "\tfi\n"
    "\t# The service's state, logs and user go with the package.\n"
    "\trm -rf /var/lib/@NAME@ /var/log/@NAME@ /var/lib/private/@NAME@ /var/cache/@NAME@ /var/cache/private/@NAME@\n"
    "\tif getent passwd '@NAME@' >/dev/null && command -v deluser >/dev/null; then\n"
    "\t\tdeluser --quiet --system '@NAME@' >/dev/null || true\n"
    "\tfi\n"
    "\tif getent group '@NAME@' >/dev/null && command -v delgroup >/dev/null; then\n"
    "\t\tdelgroup --quiet --system '@NAME@' >/dev/null || true\n"
    "\tfi\n"
    "fi\n";

const char kUnit[] =
    "[Unit]\n"
    "Description=@SYNOPSIS@\n"
    "After=network.target local-fs.target remote-fs.target\n"
    "\n"
    "[Service]\n"
    "Type=notify\n"
    "NotifyAccess=main\n"
    "User=@NAME@\n"
    "Group=@NAME@\n"
    "StateDirectory=@NAME@\n"
    "CacheDirectory=@NAME@\n"
    "WorkingDirectory=/var/lib/@NAME@\n"
    "ExecStartPre=+/bin/sh -c 'for f; do [ -L \"$$f\" ] || [ ! -d \"$${f%%/*}\" ] || "
    "{ touch \"$$f\" && chown @NAME@:@NAME@ \"$$f\"; }; done' "
    "tvx-prepare /var/run/@NAME@.pid /var/lock/subsys/@NAME@ /var/lock/@NAME@\n"
    "ExecStart=/usr/lib/@NAME@/@NAME@ --no-daemon\n"
    "SuccessExitStatus=143\n"
    "Restart=on-failure\n"
    "StandardOutput=journal\n"
    "StandardError=journal\n"
    "\n"
    "[Install]\n"
    "WantedBy=multi-user.target\n";

}  // namespace

bool ValidDebianName(const std::string& name) {
    if (name.size() < 2 || !(IsDigit(name[0]) || (name[0] >= 'a' && name[0] <= 'z'))) return false;
    for (char c : name)
        if (!(IsDigit(c) || (c >= 'a' && c <= 'z') || c == '+' || c == '-' || c == '.')) return false;
    return true;
}

bool ValidDebianVersion(const std::string& version) {
    std::string rest = version;
    size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        if (colon == 0) return false;
        for (size_t i = 0; i < colon; ++i)
            if (!IsDigit(rest[i])) return false;
        rest = rest.substr(colon + 1);
    }
    std::string upstream = rest, revision;
    size_t dash = rest.rfind('-');
    if (dash != std::string::npos) {
        upstream = rest.substr(0, dash);
        revision = rest.substr(dash + 1);
        if (revision.empty()) return false;
        for (char c : revision)
            if (!(IsAlnum(c) || c == '+' || c == '.' || c == '~')) return false;
    }
    if (upstream.empty() || !IsDigit(upstream[0])) return false;
    for (char c : upstream)
        if (!(IsAlnum(c) || c == '+' || c == '.' || c == '~' || c == '-' || c == ':')) return false;
    return true;
}

std::string DebianArchitecture(const std::string& processor) {
    if (processor == "x86_64") return "amd64";
    if (processor == "aarch64") return "arm64";
    if (processor == "armhf" || processor == "i386") return processor;
    return "";
}

std::string RuntimeDepends(const std::vector<std::string>& settingsLines) {
    std::string min, max;
    bool haveMin = false, haveMax = false;
    for (const std::string& line : settingsLines) {
        std::string value;
        if (!haveMin && LineCarriesKey(line, "minjre", &value)) min = value, haveMin = true;
        if (!haveMax && LineCarriesKey(line, "maxjre", &value)) max = value, haveMax = true;
    }
    int low = FeatureOf(min), high = FeatureOf(max);
    if (low == 0) return "default-jre-headless | java-runtime-headless";
    std::string depends = "openjdk-" + std::to_string(low) + "-jre-headless";
    // Every newer runtime package provides javaN-runtime-headless for the
    // older N, so the virtual name stands only when no maximum is set; with
    // one, the runtimes Debian ships inside the range are named.
    if (high == 0) return depends + " | java" + std::to_string(low) + "-runtime-headless";
    for (int feature : {8, 11, 17, 21, 25})
        if (feature > low && feature <= high) depends += " | openjdk-" + std::to_string(feature) + "-jre-headless";
    return depends;
}

std::string LibcDepends(const std::string& imagePath, std::string* error) {
    std::string image;
    if (!ReadWholeFile(imagePath, &image, error)) return "";
    int bestMajor = 0, bestMinor = 0;
    const std::string tag = "GLIBC_";
    for (size_t at = 0; (at = image.find(tag, at)) != std::string::npos; ++at) {
        size_t i = at + tag.size();
        int major = 0, minor = 0;
        size_t digits = i;
        while (i < image.size() && IsDigit(image[i])) major = major * 10 + (image[i++] - '0');
        if (i == digits || i >= image.size() || image[i] != '.') continue;
        ++i;
        digits = i;
        while (i < image.size() && IsDigit(image[i])) minor = minor * 10 + (image[i++] - '0');
        if (i == digits) continue;
        if (major > bestMajor || (major == bestMajor && minor > bestMinor)) bestMajor = major, bestMinor = minor;
    }
    if (bestMajor == 0) return "libc6";
    return "libc6 (>= " + std::to_string(bestMajor) + "." + std::to_string(bestMinor) + ")";
}

std::string DefaultDebName(const std::string& output) {
    size_t slash = output.rfind('/');
    std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".deb") == 0) base.resize(base.size() - 4);
    size_t underscore = base.find('_');
    if (underscore != std::string::npos) base.resize(underscore);
    return base;
}

bool CheckDebRequest(DebRequest* deb, const PackRequest& pack, std::string* error) {
    if (deb->name.empty()) deb->name = DefaultDebName(pack.output);
    if (!ValidDebianName(deb->name)) {
        *error = "invalid package name '" + deb->name +
                 "': use lower-case letters, digits, '+', '-' and '.', starting with a letter or digit (--name)";
        return false;
    }
    if (deb->version.empty()) {
        *error = "a Debian package needs a version (--version VERSION)";
        return false;
    }
    if (!ValidDebianVersion(deb->version)) {
        *error = "invalid Debian version '" + deb->version + "' (--version): [EPOCH:]UPSTREAM[-REVISION], " +
                 "UPSTREAM starting with a digit";
        return false;
    }
    if (deb->maintainer.find('\n') != std::string::npos || deb->description.find('\n') != std::string::npos ||
        deb->section.find('\n') != std::string::npos) {
        *error = "--maintainer, --description and --section take one line each";
        return false;
    }
    if (deb->maintainer.empty()) {
        const char* name = getenv("DEBFULLNAME");
        const char* mail = getenv("DEBEMAIL");
        deb->maintainer = std::string(name && *name ? name : "Unknown") + " <" +
                          (mail && *mail ? mail : (deb->name + "@example.org").c_str()) + ">";
    }
    if (deb->description.empty()) deb->description = "Java application packed as one executable";
    if (deb->section.empty()) deb->section = "misc";
    struct stat st;
    if (stat(pack.output.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *error = "the output " + pack.output + " is a directory; give the package's file name (-o NAME_VERSION_ARCH.deb)";
        return false;
    }
    return true;
}

bool WriteDebPackage(const DebRequest& deb, const PackRequest& pack, const std::string& processor,
                     std::string* error) {
    const std::string arch = DebianArchitecture(processor);
    if (arch.empty()) {
        *error = "no Debian architecture for processor '" + processor + "'";
        return false;
    }
    size_t slash = pack.output.rfind('/');
    std::string outDir = slash == std::string::npos ? "." : pack.output.substr(0, slash == 0 ? 1 : slash);
    std::string stageTemplate = outDir + "/.tvx-deb-XXXXXX";
    std::vector<char> buffer(stageTemplate.begin(), stageTemplate.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        *error = "cannot make a staging directory in " + outDir + ": " + strerror(errno);
        return false;
    }
    const std::string stage = buffer.data();
    chmod(stage.c_str(), 0755);
    struct Cleanup {
        std::string path;
        ~Cleanup() { RemoveTree(path); }
    } cleanup{stage};
    const std::string root = stage + "/root";
    const std::string& n = deb.name;
    const std::string lib = root + "/usr/lib/" + n, doc = root + "/usr/share/doc/" + n;
    for (const std::string& dir : {lib, doc, root + "/usr/bin", root + "/etc/" + n, root + "/DEBIAN"})
        if (!MakeDirs(dir, error)) return false;

    PackRequest exe = pack;
    exe.output = lib + "/" + n;
    // Output goes where the command's or the unit's goes (a terminal, the
    // journal), never into a log beside the executable in /usr/lib.
    exe.setLines.push_back("stdout=inherit");
    exe.setLines.push_back("stderr=inherit");
    // A service works in its state directory, not in /usr/lib.
    if (deb.service) exe.setLines.push_back("forcecwd /var/lib/" + n);
    PackResult packed;
    if (!PackExecutable(exe, &packed, error)) return false;
    chmod(exe.output.c_str(), 0755);
    const bool shipsRuntime = deb.runtime != nullptr && !deb.runtime->empty();
    if (shipsRuntime && !deb.runtime->MoveTo(lib + "/jre", error)) return false;
    if (shipsRuntime) NormaliseRuntimeModes(lib + "/jre");

    // The launcher reads <executable>.cfg beside itself; the link leads to
    // the conffile, which is root's and writable by nobody else.
    if (!Link("/etc/" + n + "/" + n + ".cfg", lib + "/" + n + ".cfg", error)) return false;
    if (!Link("../lib/" + n + "/" + n, root + "/usr/bin/" + n, error)) return false;
    std::string cfg = "# Settings of " + n + ", one 'key value' per line (see tvx-settings(5)). They come\n"
                      "# before the ones built into /usr/lib/" + n + "/" + n + ": a single-valued key set\n"
                      "# here wins. This file is kept when the package is upgraded or removed.\n";
    if (!WriteText(root + "/etc/" + n + "/" + n + ".cfg", cfg, 0644, error)) return false;

    std::string jarName = pack.jar.substr(pack.jar.rfind('/') + 1);
    g_fixedTime = FixedTime(pack.jar);
    char date[64];
    struct tm when;
    gmtime_r(&g_fixedTime, &when);
    strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &when);
    std::string copyright = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                            "Upstream-Name: " + n + "\n\n"
                            "Files: *\n"
                            "Copyright: " + std::to_string(when.tm_year + 1900) + " " + deb.maintainer + "\n"
                            "License: other\n"
                            " The application " + jarName + " and its license are the maintainer's.\n"
                            " The launcher around it was written by tvx-pack.\n";
    if (!WriteText(doc + "/copyright", copyright, 0644, error)) return false;
    std::string overrides = root + "/usr/share/lintian/overrides";
    if (!MakeDirs(overrides, error)) return false;
    std::string override =
        "# The application's archive and settings follow the ELF image of the executable;\n"
        "# strip would cut them off.\n" +
        n + ": unstripped-binary-or-object [usr/lib/" + n + "/" + n + "]\n"
        "# A packed Java application brings no manual page of its own.\n" +
        n + ": no-manual-page [usr/bin/" + n + "]\n";
    if (deb.version.find('-') != std::string::npos)
        override += "# A packed application is not uploaded to Debian: there is no bug for its first\n"
                    "# version to close.\n" +
                    n + ": initial-upload-closes-no-bugs [usr/share/doc/" + n + "/changelog.Debian.gz:1]\n";
    if (shipsRuntime) override += ShippedRuntimeOverrides(n);
    if (!WriteText(overrides + "/" + n, override, 0644, error)) return false;
    const bool native = deb.version.find('-') == std::string::npos;
    std::string changelog = n + " (" + deb.version + ") unstable; urgency=medium\n\n  * Packed by tvx-pack from " +
                            jarName + ".\n\n -- " + deb.maintainer + "  " + date + "\n";
    std::string plain = stage + "/changelog";
    if (!WriteText(plain, changelog, 0644, error)) return false;
    std::string gz = doc + (native ? "/changelog.gz" : "/changelog.Debian.gz");
    if (RunTool({"gzip", "-9nc"}, {}, plain, gz) != 0) {
        *error = "gzip could not compress the changelog";
        return false;
    }
    chmod(gz.c_str(), 0644);

    std::string depends = LibcDepends(pack.launcher, error);
    if (depends.empty()) return false;
    if (shipsRuntime && !AddShippedRuntimeDepends(lib + "/jre", &depends, error)) return false;
    if (!shipsRuntime) depends += ", " + RuntimeDepends(packed.settingsLines);
    if (deb.service) {
        depends += ", adduser, init-system-helpers (>= 1.54~)";
        std::string unitDir = root + "/lib/systemd/system";
        if (!MakeDirs(unitDir, error)) return false;
        std::string unit = Replace(Replace(kUnit, "@NAME@", n), "@SYNOPSIS@", deb.description);
        if (!WriteText(unitDir + "/" + n + ".service", unit, 0644, error)) return false;
        const char* const scripts[][2] = {{"postinst", kPostinstService}, {"prerm", kPrermService},
                                          {"postrm", kPostrmService}};
        for (const auto& script : scripts)
            if (!WriteText(root + "/DEBIAN/" + script[0], Replace(script[1], "@NAME@", n), 0755, error)) return false;
    }
    if (!WriteText(root + "/DEBIAN/conffiles", "/etc/" + n + "/" + n + ".cfg\n", 0644, error)) return false;

    // md5sums of every regular file but the conffile, sorted by path.
    std::string md5list = stage + "/md5.txt";
    std::string md5Script = "cd \"$1\" && find usr lib -type f 2>/dev/null | LC_ALL=C sort | xargs -r md5sum";
    if (RunTool({"sh", "-c", md5Script, "sh", root}, {}, "", md5list) != 0) {
        *error = "md5sum failed on the package's files";
        return false;
    }
    std::string md5;
    if (!ReadWholeFile(md5list, &md5, error) || !WriteText(root + "/DEBIAN/md5sums", md5, 0644, error)) return false;

    g_totalBytes = 0;
    nftw(root.c_str(), AddSize, 16, FTW_PHYS);
    std::string control = "Package: " + n + "\nVersion: " + deb.version + "\nArchitecture: " + arch +
                          "\nMaintainer: " + deb.maintainer + "\nInstalled-Size: " +
                          std::to_string(g_totalBytes / 1024) + "\nDepends: " + depends + "\nSection: " +
                          deb.section + "\nPriority: optional\nDescription: " + deb.description + "\n The " + n +
                          " command runs the Java application " + jarName +
                          (shipsRuntime ? "\n with the Java runtime shipped in /usr/lib/" + n + "/jre."
                                        : "\n with a Java runtime it finds by itself.") +
                          (deb.service ? "\n It runs as the systemd service " + n + ".service, as its own user." : "") +
                          "\n";
    if (!WriteText(root + "/DEBIAN/control", control, 0644, error)) return false;
    nftw(root.c_str(), SetTime, 16, FTW_PHYS);

    std::string temp = stage + "/package.deb";
    std::vector<std::string> env = {"SOURCE_DATE_EPOCH=" + std::to_string(static_cast<long long>(g_fixedTime))};
    std::string log = stage + "/dpkg-deb.log";
    // A shipped runtime's modules image is compressed already: xz's level 6
    // (dpkg-deb's default) makes such a package 4 per cent smaller than
    // level 1 for four times the packing time (26 s against 6 s for a
    // 48 MiB runtime).
    const char* level = shipsRuntime ? "-z1" : "-z6";
    int status = RunTool({"dpkg-deb", "--root-owner-group", "-Zxz", level, "--build", root, temp}, env, "", log);
    if (status != 0) {
        std::string said;
        std::string ignored;
        ReadWholeFile(log, &said, &ignored);
        *error = status == 127 ? "dpkg-deb was not found (install dpkg)" : "dpkg-deb failed: " + said;
        return false;
    }
    if (rename(temp.c_str(), pack.output.c_str()) != 0) {
        *error = "cannot write " + pack.output + ": " + strerror(errno);
        return false;
    }
    chmod(pack.output.c_str(), 0644);
    return true;
}

bool LooksLikeDeb(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    char head[8] = {};
    bool deb = ReadAt(fd, head, sizeof head, 0) && memcmp(head, "!<arch>\n", 8) == 0;
    close(fd);
    return deb;
}

bool InspectDeb(const std::string& path, int (*inspect)(const std::string& shownAs, const std::string& file),
                std::string* error) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tvx-inspect-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        *error = std::string("cannot make a temporary directory: ") + strerror(errno);
        return false;
    }
    struct Cleanup {
        std::string path;
        ~Cleanup() { RemoveTree(path); }
    } cleanup{buffer.data()};
    const std::string dir = buffer.data();
    std::string fields = dir + "/fields", log = dir + "/log";
    if (RunTool({"dpkg-deb", "--field", path}, {}, "", fields) != 0 ||
        RunTool({"dpkg-deb", "--extract", path, dir + "/root"}, {}, "", log) != 0) {
        *error = path + ": dpkg-deb cannot read it as a Debian package";
        return false;
    }
    std::string text, name;
    if (!ReadWholeFile(fields, &text, error)) return false;
    printf("package %s\n%s", path.c_str(), text.c_str());
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.compare(0, 9, "Package: ") == 0) name = line.substr(9);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    fflush(stdout);
    std::string exe = "/usr/lib/" + name + "/" + name;
    struct stat st;
    if (name.empty() || lstat((dir + "/root" + exe).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        printf("no executable %s in the package\n", exe.c_str());
        return true;
    }
    printf("\n");
    fflush(stdout);
    return inspect(exe, dir + "/root" + exe) == 0;
}

}  // namespace tvxpack
