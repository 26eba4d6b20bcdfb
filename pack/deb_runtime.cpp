#include "pack/deb_runtime.h"

#include <ftw.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "pack/deb_package.h"
#include "pack/file_io.h"

namespace tvxpack {

namespace {

std::vector<std::string>* g_elfFiles = nullptr;
int AddIfElf(const char* path, const struct stat*, int type, struct FTW*) {
    if (type != FTW_F) return 0;
    // Only the first bytes decide; the files themselves are read later.
    FILE* file = fopen(path, "rb");
    if (!file) return 0;
    char magic[4] = {};
    bool elf = fread(magic, 1, sizeof magic, file) == sizeof magic && memcmp(magic, "\x7f" "ELF", 4) == 0;
    fclose(file);
    if (elf) g_elfFiles->push_back(path);
    return 0;
}

// The (major, minor) of a "libc6 (>= X.Y)" dependency; (0, 0) for "libc6".
std::pair<int, int> LibcVersion(const std::string& depends) {
    size_t at = depends.find(">= ");
    if (at == std::string::npos) return {0, 0};
    const char* text = depends.c_str() + at + 3;
    char* end = nullptr;
    long major = strtol(text, &end, 10);
    long minor = *end == '.' ? strtol(end + 1, nullptr, 10) : 0;
    return {static_cast<int>(major), static_cast<int>(minor)};
}

struct SystemLibrary {
    const char* soname;
    const char* package;
};
// The libraries beyond the C library that Debian's OpenJDK loads from the
// system (it is built against them rather than with its own copies).
const SystemLibrary kLibraries[] = {
    {"libstdc++.so.6", "libstdc++6"},
    {"libgcc_s.so.1", "libgcc-s1"},
    {"libz.so.1", "zlib1g"},
};

// jlink writes some files read-only (the legal notices, 0444); a package
// holds files 0644 and programs 0755.
int NormaliseMode(const char* path, const struct stat* st, int type, struct FTW*) {
    if (type == FTW_D) chmod(path, 0755);
    if (type == FTW_F) chmod(path, (st->st_mode & 0111) ? 0755 : 0644);
    return 0;
}

}  // namespace

bool AddShippedRuntimeDepends(const std::string& jre, std::string* depends, std::string* error) {
    std::vector<std::string> files;
    g_elfFiles = &files;
    int walked = nftw(jre.c_str(), AddIfElf, 16, FTW_PHYS);
    g_elfFiles = nullptr;
    if (walked != 0 || files.empty()) {
        *error = "cannot read the runtime's programs and libraries in " + jre;
        return false;
    }
    const std::string rest = depends->substr(std::min(depends->find(','), depends->size()));
    std::string libc = depends->substr(0, depends->size() - rest.size());
    std::vector<bool> needed(sizeof kLibraries / sizeof kLibraries[0], false);
    for (const std::string& file : files) {
        std::string one = LibcDepends(file, error);
        if (one.empty()) return false;
        if (LibcVersion(one) > LibcVersion(libc)) libc = one;
        std::string content;
        if (!ReadWholeFile(file, &content, error)) return false;
        for (size_t i = 0; i < needed.size(); ++i)
            if (content.find(std::string(kLibraries[i].soname) + '\0') != std::string::npos) needed[i] = true;
    }
    *depends = libc + rest;
    for (size_t i = 0; i < needed.size(); ++i)
        if (needed[i]) *depends += std::string(", ") + kLibraries[i].package;
    return true;
}

std::string ShippedRuntimeOverrides(const std::string& name) {
    const std::string jre = "usr/lib/" + name + "/jre";
    return "# The runtime's programs and libraries are the JDK's, as jlink takes them from its\n"
           "# modules: their symbol tables stay for the virtual machine's crash reports and\n"
           "# serviceability tools, as Debian's own openjdk packages keep them.\n" +
           name + ": unstripped-binary-or-object [" + jre + "/*]\n"
           "# jrt-fs.jar belongs to the runtime image (the jrt: file system for tools that read\n"
           "# the image's modules); no other program uses it as a library.\n" +
           name + ": jar-not-in-usr-share [" + jre + "/lib/jrt-fs.jar]\n";
}

void NormaliseRuntimeModes(const std::string& jre) {
    nftw(jre.c_str(), NormaliseMode, 16, FTW_PHYS);
}

}  // namespace tvxpack
