// Joining paths for the working directory, and changing to it.
#include <limits.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "launch/launch_driver.h"
#include "tests/support/test_support.h"

namespace {

TEST(PathAdjust, Rows) {
    struct Row {
        const char* base;
        const char* path;
        const char* expected;
    } rows[] = {
        {"/opt/app", "sub", "/opt/app/sub"},
        {"/opt/app/", "sub", "/opt/app/sub"},
        {"/opt/app\\", "sub", "/opt/app\\sub"},
        {"/opt/app", "/abs/dir", "/abs/dir"},
        {"/opt/app", "c:/dir", "c:/dir"},
        {"/opt/app", "\\dir", "\\dir"},
        {"c:/opt", "\\dir", "c:\\dir"},
        {"/opt/app", ".", "/opt/app/."},
        {"/opt/app", "../x", "/opt/app/../x"},
        {"", "rel", "/rel"},
        {"/opt/app", "", "/opt/app/"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.base) + " + " + row.path);
        char out[64];
        unsigned n = PathAdjust(row.base, row.path, out, sizeof out);
        EXPECT_STREQ(out, row.expected);
        EXPECT_EQ(n, strlen(row.expected));
    }
}

TEST(PathAdjust, LongResultIsCutToTheBufferAndReportsItsFullLength) {
    std::string base(5000, 'b');
    base[0] = '/';
    char out[16];
    memset(out, 'X', sizeof out);
    unsigned n = PathAdjust(base.c_str(), "tail", out, sizeof out);
    EXPECT_EQ(n, 5005u);
    EXPECT_EQ(std::string(out), base.substr(0, sizeof out - 1));
}

// Restores the working directory after a test that changes it.
class CwdGuard {
public:
    CwdGuard() { EXPECT_NE(getcwd(saved_, sizeof saved_), nullptr); }
    ~CwdGuard() { EXPECT_EQ(chdir(saved_), 0); }

private:
    char saved_[PATH_MAX];
};

std::string Cwd() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? buf : "";
}

TEST(ForceCurrentWorkingDirectory, ChangesToAnAbsolutePath) {
    CwdGuard guard;
    tvxtest::TempDir dir;
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
    EXPECT_EQ(ForceCurrentWorkingDirectory(dir.path().c_str()), 0);
    EXPECT_EQ(Cwd(), real);
}

TEST(ForceCurrentWorkingDirectory, TooLongOrMissingLeavesTheDirectoryUnchanged) {
    CwdGuard guard;
    tvxtest::TempDir dir;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    std::string before = Cwd();
    std::string tooLong = "/" + std::string(4200, 'x');
    EXPECT_NE(ForceCurrentWorkingDirectory(tooLong.c_str()), 0);
    EXPECT_EQ(Cwd(), before);
    EXPECT_NE(ForceCurrentWorkingDirectory((dir / "missing").c_str()), 0);
    EXPECT_EQ(Cwd(), before);
}

}  // namespace
