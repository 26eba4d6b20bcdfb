// Directory searches over a tree whose links form cycles: the search record
// (_findfirst/_findnext), class-path wildcards and the collection of
// archives below a library directory. Every search ends, and every result
// names an existing path inside the tree.
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/command_line.h"
#include "base/platform.h"
#include "settings/settings_loader.h"
#include "tests/fuzz/support/fuzz_support.h"

namespace {

// The pattern alphabet: names of the tree, wildcards and separators.
const char kAlphabet[] = "ab*?/.jlxz[]!-";

const std::string& Tree() {
    static const std::string root = [] {
        const std::string top = fuzzsupport::ScratchDir() + "/tree";
        for (const char* dir : {"", "/a", "/a/b", "/a/b/a", "/b", "/b/jar.jar"}) mkdir((top + dir).c_str(), 0755);
        for (const char* file : {"/x.jar", "/a/y.zip", "/a/b/z.JAR", "/a/b/a/l.txt", "/b/j"})
            fuzzsupport::WriteBytes(top + file, "", 0);
        // Cycles: links to the directory itself, to a parent and to the top.
        const char* const links[][2] = {{".", "/a/l"}, {"..", "/a/b/l"}, {"../..", "/b/l"}, {"../a", "/a/b/a/x"}};
        for (const auto& link : links)
            if (symlink(link[0], (top + link[1]).c_str()) != 0) fuzzsupport::Fail(__FILE__, __LINE__, "symlink", link[1]);
        return top;
    }();
    return root;
}

bool Exists(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64) return 0;
    const std::string& root = Tree();
    std::string relative;
    for (size_t i = 0; i < size; ++i) relative += kAlphabet[data[i] % (sizeof kAlphabet - 1)];
    // ".." could leave the tree for the whole machine.
    if (relative.find("..") != std::string::npos) return 0;
    const std::string pattern = root + "/" + relative;

    MyCStringArray matches;
    CWildcardArgv::FindFiles(pattern.c_str(), matches);
    for (int i = 0; i < matches.GetCount(); ++i) {
        const std::string match = matches[i];
        FUZZ_CHECK(match.compare(0, root.size(), root) == 0, "match outside the tree: " + match);
        FUZZ_CHECK(Exists(matches[i]), "match that does not exist: " + match);
    }

    _finddata_t entry;
    long handle = _findfirst(pattern.c_str(), &entry);
    if (handle != -1) {
        int count = 0;
        do {
            FUZZ_CHECK(entry.name[0] != '\0', "empty name");
            FUZZ_CHECK(++count < 100, "endless listing");
        } while (_findnext(handle, &entry) == 0);
        _findclose(handle);
    }

    const std::string directory = root + "/" + relative.substr(0, relative.find_first_of("*?[]"));
    MyCString archives;
    CSettingsLoader::FindLibJars(directory.c_str(), archives);
    FUZZ_CHECK(archives.GetLength() < 100000, "runaway archive collection");
    return 0;
}
