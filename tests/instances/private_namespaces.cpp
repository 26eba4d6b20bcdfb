#include "tests/instances/private_namespaces.h"

#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

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

}  // namespace

void EnterPrivateNamespaces(const std::vector<std::string>& moreTmpfs) {
    static bool entered = false;
    if (entered) return;
    if (unshare(CLONE_NEWNS | CLONE_NEWIPC) != 0) Fail("unshare", "");
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail("mount --make-rprivate", "/");
    std::vector<std::string> paths = {"/tmp"};
    paths.insert(paths.end(), moreTmpfs.begin(), moreTmpfs.end());
    for (const std::string& path : paths) {
        if (mount("tmpfs", path.c_str(), "tmpfs", 0, "mode=1777") != 0) Fail("mount tmpfs on", path);
    }
    entered = true;
}

bool RegisterPrivateNamespaces(const std::vector<std::string>& moreTmpfs) {
    testing::AddGlobalTestEnvironment(new PrivateNamespaces(moreTmpfs));
    return true;
}

}  // namespace tvxtest
