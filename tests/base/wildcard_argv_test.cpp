// Wildcard expansion of paths over a directory fixture.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "tests/base/dir_fixture.h"
#include "tests/support/test_support.h"

namespace {

using tvxtest::MakeDirs;
using tvxtest::TempDir;
using tvxtest::WriteFile;
using Paths = std::vector<std::string>;

Paths Expand(const std::string& pattern) {
    CWildcardArgv wildcard;
    EXPECT_EQ(wildcard.Files().GetCount(), 0);
    CWildcardArgv::FindFiles(pattern.c_str(), wildcard.Files());
    Paths paths;
    for (int i = 0; i < wildcard.Files().GetCount(); ++i) paths.push_back(wildcard.Files()[i]);
    return paths;
}

Paths Sorted(Paths p) {
    std::sort(p.begin(), p.end());
    return p;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FindFiles : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDirs(dir_ / "lib/sub.jar");
        for (const char* f : {"lib/a.jar", "lib/b.jar", "lib/c.txt", "lib/[ab].jar", "a/d1/x.jar", "a/d2/x.jar",
                              "a/file", "a/.hidden", "top.jar", "other.jar", "n/p1/q/y.jar", "n/p2/q/y.jar",
                              "n/p3/y.jar"}) {
            MakeDirs(dir_ / std::string(f).substr(0, std::string(f).rfind('/')));
            WriteFile(dir_ / f, "x");
        }
        MakeDirs(dir_ / "a/d3");
        ASSERT_EQ(symlink("d1", (dir_ / "a/link").c_str()), 0);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    TempDir dir_;
    basetest::KeepWorkingDirectory cwd_;  // restored before dir_ is removed
};

TEST_F(FindFiles, Rows) {
    const struct {
        std::string pattern;
        Paths expected;  // sorted
    } rows[] = {
        {"lib/*.jar", {"lib/[ab].jar", "lib/a.jar", "lib/b.jar", "lib/sub.jar"}},
        {"a/*/x.jar", {"a/d1/x.jar", "a/d2/x.jar", "a/link/x.jar"}},
        {"*.jar", {"other.jar", "top.jar"}},
        {"n/*/q/*.jar", {"n/p1/q/y.jar", "n/p2/q/y.jar"}},
        {"n/p?/q/y.jar", {"n/p1/q/y.jar", "n/p2/q/y.jar"}},
        {"a/*", {"a/.hidden", "a/d1", "a/d2", "a/d3", "a/file", "a/link"}},
        {"a/*/", {"a/d1/", "a/d2/", "a/d3/", "a/link/"}},
        {"a/.*", {"a/.hidden"}},
        {"lib/?.jar", {"lib/a.jar", "lib/b.jar"}},
        // Paths without "*" or "?" are checked as they are.
        {"lib/a.jar", {"lib/a.jar"}},
        {"lib/sub.jar", {"lib/sub.jar"}},
        {"lib/[ab].jar", {"lib/[ab].jar"}},
        {"lib/[bc].jar", {}},
        {"missing/x.jar", {}},
        {"", {}},
        // Patterns that match nothing add nothing, not the pattern itself.
        {"missing/*.jar", {}},
        {"lib/*.zip", {}},
        {"a/*/missing.jar", {}},
        {"*/nothing/*", {}},
        // Too long for the directory listing: nothing, and no overrun.
        {std::string(400, 'x') + "/*.jar", {}},
        {"lib/" + std::string(150, '?') + "*", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pattern);
        EXPECT_EQ(Sorted(Expand(row.pattern)), row.expected);
    }
}

TEST_F(FindFiles, AbsolutePatternsKeepTheirDirectory) {
    Paths expected;
    for (const char* name : {"lib/[ab].jar", "lib/a.jar", "lib/b.jar", "lib/sub.jar"}) expected.push_back(dir_ / name);
    EXPECT_EQ(Sorted(Expand(dir_ / "lib/*.jar")), expected);
    EXPECT_EQ(Sorted(Expand(dir_ / "a/*/x.jar")),
              (Paths{dir_ / "a/d1/x.jar", dir_ / "a/d2/x.jar", dir_ / "a/link/x.jar"}));
}

TEST_F(FindFiles, ResultsComeInDirectoryOrder) {
    Paths expected;
    for (const std::string& name : basetest::ReaddirMatches("lib", "*.jar", false)) expected.push_back("lib/" + name);
    EXPECT_EQ(Expand("lib/*.jar"), expected);

    expected.clear();
    for (const std::string& name : basetest::ReaddirMatches("a", "*", false))
        if (IsDirectory("a/" + name) && access(("a/" + name + "/x.jar").c_str(), F_OK) == 0)
            expected.push_back("a/" + name + "/x.jar");
    EXPECT_EQ(Expand("a/*/x.jar"), expected);
}

// Links that lead back to their own directory: every "*" segment would
// multiply the listings by the number of links. Each directory is listed
// once per remaining pattern, so the expansion ends at once with one match.
TEST_F(FindFiles, LinkCyclesAreListedOnce) {
    MakeDirs(dir_ / "c");
    WriteFile(dir_ / "c/x.jar", "x");
    for (int i = 0; i < 8; ++i) ASSERT_EQ(symlink(".", (dir_ / ("c/l" + std::to_string(i))).c_str()), 0);
    Paths found = Expand("c/*/*/*/*/*/*/*.jar");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].substr(found[0].size() - 6), "/x.jar");
    EXPECT_EQ(access(found[0].c_str(), F_OK), 0);
    // A pattern deeper than the search depth limit stops there.
    std::string deep = "c";
    for (int i = 0; i < 70; ++i) deep += "/*";
    EXPECT_TRUE(Expand(deep + "/x.jar").empty());
}

TEST_F(FindFiles, LongDirectories) {
    std::string dir = "long";
    while (dir.size() < 400) dir += "/" + std::string(90, 'd');
    MakeDirs(dir_ / dir);
    WriteFile(dir_ / (dir + "/a.jar"), "x");
    EXPECT_EQ(Expand(dir + "/*.jar"), (Paths{dir + "/a.jar"}));
}

TEST_F(FindFiles, AppendsToWhatTheArrayHolds) {
    MyCStringArray files;
    files.Add("first");
    CWildcardArgv::FindFiles("lib/?.jar", files);
    CWildcardArgv::FindFiles("top.jar", files);
    ASSERT_EQ(files.GetCount(), 4);
    EXPECT_STREQ(files[0], "first");
    EXPECT_EQ(Sorted({files[1], files[2]}), (Paths{"lib/a.jar", "lib/b.jar"}));
    EXPECT_STREQ(files[3], "top.jar");
    CWildcardArgv::FindFiles(nullptr, files);
    EXPECT_EQ(files.GetCount(), 4);
}

}  // namespace
