#include "tests/instances/private_namespaces.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace tvxtest {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path) {
    fprintf(stderr, "cannot isolate the test: %s %s: %s\n", what, path.c_str(), strerror(errno));
    fflush(stderr);
    _exit(1);
}

class PrivateNamespaces : public testing::Environment {
public:
    explicit PrivateNamespaces(const std::vector<std::string>& paths) : paths_(paths) {}
    void SetUp() override { EnterPrivateNamespaces(paths_); }

private:
    std::vector<std::string> paths_;
};

// The directory right below `mountPoint` that holds `path` ("/tmp/x" for
// "/tmp/x/build/bin"), or "" when `path` is not below `mountPoint`.
std::string TopDirBelow(const std::string& mountPoint, const std::string& path) {
    std::string prefix = mountPoint + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return "";
    size_t end = path.find('/', prefix.size());
    return path.substr(0, end);
}

// Mounts an empty tmpfs on `path`, keeping visible the project's source and
// build trees and the tests' Java runtime when they lie below it (a checkout
// under /tmp must still find its programs and fixtures; a tmpfs on
// /usr/lib/jvm keeps the runtime the tests run).
void MountEmptyTmpfs(const std::string& path) {
    std::vector<std::string> keep;
    char runtime[PATH_MAX];
    const std::string javaHome = realpath(JavaHome().c_str(), runtime) ? runtime : JavaHome();
    for (const std::string& tree : {SourceDir(), BinDir(), javaHome}) {
        std::string top = TopDirBelow(path, tree);
        if (!top.empty() && std::find(keep.begin(), keep.end(), top) == keep.end()) keep.push_back(top);
    }
    int original = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (original < 0) Fail("open", path);
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, "mode=1777") != 0) Fail("mount tmpfs on", path);
    for (const std::string& dir : keep) {
        std::string source = "/proc/self/fd/" + std::to_string(original) + dir.substr(path.size());
        if (mkdir(dir.c_str(), 0755) != 0) Fail("mkdir", dir);
        if (mount(source.c_str(), dir.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) Fail("bind", dir);
    }
    close(original);
}

}  // namespace

void EnterPrivateNamespaces(const std::vector<std::string>& moreTmpfs) {
    static bool entered = false;
    if (entered) return;
    if (unshare(CLONE_NEWNS | CLONE_NEWIPC) != 0) Fail("unshare", "");
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail("mount --make-rprivate", "/");
    std::vector<std::string> paths = {"/tmp"};
    paths.insert(paths.end(), moreTmpfs.begin(), moreTmpfs.end());
    for (const std::string& path : paths) MountEmptyTmpfs(path);
    entered = true;
}

bool RegisterPrivateNamespaces(const std::vector<std::string>& moreTmpfs) {
    testing::AddGlobalTestEnvironment(new PrivateNamespaces(moreTmpfs));
    return true;
}

}  // namespace tvxtest
