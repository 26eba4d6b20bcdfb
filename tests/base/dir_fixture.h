// Helpers for the directory search tests: the expected listing order and
// a working directory restored after the test.
#ifndef TVX_TESTS_BASE_DIR_FIXTURE_H
#define TVX_TESTS_BASE_DIR_FIXTURE_H

#include <dirent.h>
#include <fnmatch.h>
#include <limits.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace basetest {

// Names in `dir` matching `pattern` (fnmatch, no flags), in readdir order;
// "." and ".." only when `withDots`.
inline std::vector<std::string> ReaddirMatches(const std::string& dir, const std::string& pattern,
                                               bool withDots) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (!withDots && (name == "." || name == "..")) continue;
        if (fnmatch(pattern.c_str(), name.c_str(), 0) == 0) names.push_back(name);
    }
    closedir(d);
    return names;
}

// Remembers the working directory and returns to it on destruction.
class KeepWorkingDirectory {
public:
    KeepWorkingDirectory() { EXPECT_NE(getcwd(saved_, sizeof saved_), nullptr); }
    ~KeepWorkingDirectory() { EXPECT_EQ(chdir(saved_), 0); }
    KeepWorkingDirectory(const KeepWorkingDirectory&) = delete;
    KeepWorkingDirectory& operator=(const KeepWorkingDirectory&) = delete;

private:
    char saved_[PATH_MAX] = {};
};

}  // namespace basetest

#endif  // TVX_TESTS_BASE_DIR_FIXTURE_H
