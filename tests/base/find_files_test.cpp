// Directory search: _findfirst / _findnext / _findclose.
#include <gtest/gtest.h>

#include <limits.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "base/platform.h"
#include "tests/base/dir_fixture.h"
#include "tests/support/test_support.h"

namespace {

using tvxtest::MakeDirs;
using tvxtest::TempDir;
using tvxtest::WriteFile;

struct Entry {
    std::string name;
    unsigned attrib;
};

// Every entry of a search, in the order it yields them.
std::vector<Entry> Search(const std::string& searchPath, long* firstResult = nullptr) {
    std::vector<Entry> entries;
    _finddata_t data;
    memset(&data, 0xFF, sizeof data);
    long handle = _findfirst(searchPath.c_str(), &data);
    if (firstResult) *firstResult = handle;
    if (handle == -1) return entries;
    int rc = 0;
    do {
        EXPECT_EQ(data.time_create, 0);
        EXPECT_EQ(data.time_access, 0);
        EXPECT_EQ(data.time_write, 0);
        EXPECT_EQ(data.size, 0u);
        EXPECT_TRUE(data.attrib == 0 || data.attrib == _A_SUBDIR) << data.attrib;
        entries.push_back({data.name, data.attrib});
        memset(&data, 0xFF, sizeof data);
        rc = _findnext(handle, &data);
    } while (rc == 0);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(_findnext(handle, &data), -1);  // stays exhausted
    EXPECT_EQ(_findclose(handle), 0);
    return entries;
}

std::map<std::string, unsigned> AsMap(const std::vector<Entry>& entries) {
    std::map<std::string, unsigned> m;
    for (const Entry& e : entries) m[e.name] = e.attrib;
    return m;
}

int OpenDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

class FindFirst : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDirs(dir_ / "lib/sub");
        for (const char* name : {"a.jar", "b.jar", "c.txt", ".hidden.jar"}) WriteFile(dir_ / "lib/" + name, "x");
        ASSERT_EQ(symlink("sub", (dir_ / "lib/dirlink").c_str()), 0);
        ASSERT_EQ(symlink("a.jar", (dir_ / "lib/filelink.jar").c_str()), 0);
        ASSERT_EQ(symlink("nowhere", (dir_ / "lib/broken.jar").c_str()), 0);
    }
    TempDir dir_;
    basetest::KeepWorkingDirectory cwd_;  // restored before dir_ is removed
};

TEST_F(FindFirst, ListsMatchesWithDirectoryAttributes) {
    const struct {
        std::string searchPath;
        std::map<std::string, unsigned> expected;
    } rows[] = {
        {dir_ / "lib/*.jar",
         {{"a.jar", 0}, {"b.jar", 0}, {".hidden.jar", 0}, {"filelink.jar", 0}, {"broken.jar", 0}}},
        {dir_ / "lib/*",
         {{".", 0x10}, {"..", 0x10}, {"sub", 0x10}, {"dirlink", 0x10}, {"a.jar", 0}, {"b.jar", 0},
          {"c.txt", 0}, {".hidden.jar", 0}, {"filelink.jar", 0}, {"broken.jar", 0}}},
        {dir_ / "lib/?.jar", {{"a.jar", 0}, {"b.jar", 0}}},
        {dir_ / "lib/*link*", {{"dirlink", 0x10}, {"filelink.jar", 0}}},
        {dir_ / "lib/c.txt", {{"c.txt", 0}}},
        {dir_ / "lib/[ab].jar", {{"a.jar", 0}, {"b.jar", 0}}},
        {dir_ / "lib//s*", {{"sub", 0x10}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.searchPath);
        EXPECT_EQ(AsMap(Search(row.searchPath)), row.expected);
    }
}

TEST_F(FindFirst, KeepsTheDirectoryOrder) {
    const char* patterns[] = {"*", "*.jar", "?.*"};
    for (const char* pattern : patterns) {
        SCOPED_TRACE(pattern);
        std::vector<std::string> names;
        for (const Entry& e : Search(dir_ / "lib/" + pattern)) names.push_back(e.name);
        EXPECT_EQ(names, basetest::ReaddirMatches(dir_ / "lib", pattern, true));
    }
}

TEST_F(FindFirst, WithoutSlashListsTheWorkingDirectory) {
    ASSERT_EQ(chdir((dir_ / "lib").c_str()), 0);
    EXPECT_EQ(AsMap(Search("?.jar")), (std::map<std::string, unsigned>{{"a.jar", 0}, {"b.jar", 0}}));
    EXPECT_EQ(AsMap(Search("d*")), (std::map<std::string, unsigned>{{"dirlink", 0x10}}));
}

TEST_F(FindFirst, NothingToListGivesMinusOne) {
    const std::string searchPaths[] = {
        dir_ / "missing/*.jar",      // directory does not exist
        dir_ / "lib/*.zip",          // nothing matches
        dir_ / "lib/a.jar/*",        // a file is not a directory
        dir_ / "lib/",               // empty pattern matches no name
        "",
    };
    int before = OpenDescriptors();
    for (const std::string& searchPath : searchPaths) {
        SCOPED_TRACE(searchPath);
        long handle = 0;
        EXPECT_TRUE(Search(searchPath, &handle).empty());
        EXPECT_EQ(handle, -1);
    }
    EXPECT_EQ(OpenDescriptors(), before);  // directories opened for nothing are closed again
    _finddata_t data;
    EXPECT_EQ(_findfirst(nullptr, &data), -1);
    EXPECT_EQ(_findnext(-1, &data), -1);
    EXPECT_EQ(_findclose(-1), -1);
}

// Builds a directory whose path, with its trailing "/", is exactly `length`
// bytes long, and returns that path (with the slash).
std::string DirectoryOfLength(const std::string& base, size_t length) {
    std::string path = base;
    while (path.size() + 1 < length) {
        size_t remaining = length - 1 - path.size();  // to add as "/name" pieces
        if (remaining < 2) return std::string();
        size_t name = remaining - 1;
        if (name > 100) name = remaining - 101 == 1 ? 99 : 100;  // never leave 1 byte over
        path += "/" + std::string(name, 'd');
        if (mkdir(path.c_str(), 0755) != 0) return std::string();
    }
    return path + "/";
}

// Directory parts up to PATH_MAX - 1 bytes and patterns up to NAME_MAX bytes
// are searched; longer ones are refused with a line on standard error
// rather than searched cut short.
TEST_F(FindFirst, LongDirectoriesAndPatterns) {
    const size_t longest = PATH_MAX - 1;
    std::string deep = DirectoryOfLength(dir_.path(), longest - 6);  // room for "f.jar"
    ASSERT_EQ(deep.size(), longest - 6);
    WriteFile(deep + "f.jar", "x");
    std::string name(NAME_MAX, 'p');
    WriteFile(dir_ / "lib/" + name, "x");
    MakeDirs(dir_ / "mid");
    std::string mid = DirectoryOfLength(dir_ / "mid", 320);
    ASSERT_EQ(mid.size(), 320u);
    WriteFile(mid + "g.jar", "x");
    const struct {
        const char* what;
        std::string search;
        std::map<std::string, unsigned> found;
        bool refused;
    } rows[] = {
        {"directory of about 300 bytes", mid + "*.jar", {{"g.jar", 0}}, false},
        {"directory near PATH_MAX", deep + "*.jar", {{"f.jar", 0}}, false},
        {"pattern of NAME_MAX bytes", dir_ / "lib/" + std::string(NAME_MAX - 1, 'p') + "*", {{name, 0}}, false},
        {"directory beyond PATH_MAX", std::string(PATH_MAX, 'x') + "/*.jar", {}, true},
        {"pattern beyond NAME_MAX", dir_ / "lib/" + std::string(NAME_MAX, 'p') + "*", {}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        long handle = 0;
        testing::internal::CaptureStderr();
        std::map<std::string, unsigned> found = AsMap(Search(row.search, &handle));
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(found, row.found);
        EXPECT_EQ(err.find("path too long to search") != std::string::npos, row.refused) << err;
        if (row.refused) {
            EXPECT_EQ(handle, -1);
        }
    }
}

TEST_F(FindFirst, LinksWithLongNamesInALongDirectory) {
    // The directory path leaves no room to append a long name and "/.":
    // links must still be told apart correctly.
    std::string dir = DirectoryOfLength(dir_.path(), 280);
    ASSERT_EQ(dir.size(), 280u);
    std::string linkToDir(200, 'L');
    std::string linkToFile(200, 'F');
    MakeDirs(dir + "target");
    WriteFile(dir + "file", "x");
    ASSERT_EQ(symlink("target", (dir + linkToDir).c_str()), 0);
    ASSERT_EQ(symlink("file", (dir + linkToFile).c_str()), 0);
    std::map<std::string, unsigned> expected{{linkToDir, 0x10}, {linkToFile, 0}};
    EXPECT_EQ(AsMap(Search(dir + "[LF]*")), expected);
    // Short names in the same directory use the directory path itself.
    ASSERT_EQ(symlink("target", (dir + "s").c_str()), 0);
    EXPECT_EQ(AsMap(Search(dir + "s")), (std::map<std::string, unsigned>{{"s", 0x10}}));
}

}  // namespace
