// The startup cache's upkeep on a real directory: the cap's syntax, the
// source file beside each archive, and what a sweep removes and keeps.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "launch/cache_upkeep.h"
#include "launch/startup_cache.h"
#include "tests/support/test_support.h"

namespace {

using namespace startup_cache;

TEST(StartupCacheCap, DigitsWithKMOrG) {
    struct Row {
        const char* text;
        unsigned long long bytes;  // 0: refused
    } rows[] = {
        {"", kDefaultCapBytes}, {"1048576", 1048576}, {"64K", 64ull << 10}, {"512m", 512ull << 20},
        {"2G", 2ull << 30},     {"0", 0},             {"G", 0},             {"12T", 0},
        {"1 G", 0},             {"-1", 0},            {"99999999999999999999", 0},
        {"4294967296G", 4294967296ull << 30}, {"4294967297G", 0},
    };
    for (const Row& row : rows) EXPECT_EQ(ParseCap(row.text), row.bytes) << row.text;
}

TEST(StartupCacheSource, TwoAbsolutePathsEachEndedByANul) {
    struct Row {
        std::string bytes;
        const char* exe;  // nullptr: refused
        const char* jvm;
    } rows[] = {
        {std::string("/a/app\0/j/libjvm.so\0", 20), "/a/app", "/j/libjvm.so"},
        {std::string("/a\0/b\0x", 7), nullptr, nullptr},
        {std::string("/a\0/b", 5), nullptr, nullptr},
        {std::string("/a\0", 3), nullptr, nullptr},
        {std::string("a\0/b\0", 5), nullptr, nullptr},
        {std::string("/a\0b\0", 5), nullptr, nullptr},
        {std::string("\0/b\0", 4), nullptr, nullptr},
        {std::string(), nullptr, nullptr},
    };
    for (const Row& row : rows) {
        const char* exe = nullptr;
        const char* jvm = nullptr;
        const bool ok = ParseSource(row.bytes.data(), row.bytes.size(), &exe, &jvm);
        EXPECT_EQ(ok, row.exe != nullptr) << row.bytes;
        if (ok && row.exe) {
            EXPECT_STREQ(exe, row.exe);
            EXPECT_STREQ(jvm, row.jvm);
        }
    }
}

class StartupCacheSweep : public ::testing::Test {
protected:
    StartupCacheSweep() : fd(open(cache.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~StartupCacheSweep() override { close(fd); }

    // An archive of `size` bytes for the executable and library at these
    // paths (made when missing), last used `age` seconds ago; its name.
    std::string Archive(const std::string& exe, const std::string& jvm, size_t size, time_t age) {
        if (!tvxtest::FileExists(exe)) tvxtest::WriteFile(exe, "exe " + exe);
        if (!tvxtest::FileExists(jvm)) tvxtest::WriteFile(jvm, "jvm " + jvm);
        const std::string name = ArchiveName(exe.c_str(), jvm.c_str()).c_str();
        tvxtest::WriteFile(cache / name, std::string(size, 'a'), 0600);
        EXPECT_TRUE(WriteStampAt(fd, name.c_str()));
        EXPECT_TRUE(WriteSourceAt(fd, name.c_str(), exe.c_str(), jvm.c_str()));
        const struct timespec times[2] = {{now - age, 0}, {now - age, 0}};
        EXPECT_EQ(utimensat(fd, (name + ".ok").c_str(), times, 0), 0);
        return name;
    }
    bool Kept(const std::string& name) const {
        return tvxtest::FileExists(cache / name) && tvxtest::FileExists(cache / (name + ".ok")) &&
               tvxtest::FileExists(cache / (name + ".src"));
    }
    bool Gone(const std::string& name) const {
        return !tvxtest::FileExists(cache / name) && !tvxtest::FileExists(cache / (name + ".ok")) &&
               !tvxtest::FileExists(cache / (name + ".src"));
    }

    const time_t now = time(nullptr);
    tvxtest::TempDir files, cache;
    int fd;
};

TEST_F(StartupCacheSweep, RemovesWhatCanNeverBeUsedAgain) {
    const std::string jvm = files / "libjvm.so";
    const std::string kept = Archive(files / "kept", jvm, 100, 10);
    const std::string deleted = Archive(files / "deleted", jvm, 100, 10);
    const std::string rebuilt = Archive(files / "rebuilt", jvm, 100, 10);
    tvxtest::MakeDirs(files / "removed");
    const std::string otherRuntime = Archive(files / "kept", files / "removed/libjvm.so", 100, 10);
    unlink((files / "deleted").c_str());
    tvxtest::WriteFile(files / "rebuilt", "a rebuilt executable");
    ASSERT_EQ(system(("rm -rf '" + files.path() + "/removed'").c_str()), 0);
    // Left behind: a stamp and a source without their archive, a temporary
    // file of a run killed two hours ago, and one being written now.
    tvxtest::WriteFile(cache / "x.jsa.ok", "1 2 3 4\n");
    tvxtest::WriteFile(cache / "y.jsa.src", std::string("/a\0/b\0", 6));
    tvxtest::WriteFile(cache / "old.jsa.0123456789abcdef.tmp", "t");
    const struct timespec old[2] = {{now - 7200, 0}, {now - 7200, 0}};
    ASSERT_EQ(utimensat(fd, "old.jsa.0123456789abcdef.tmp", old, 0), 0);
    tvxtest::WriteFile(cache / "new.jsa.0123456789abcdef.tmp", "t");
    // Not the cache's: an archive without a source file (an older
    // launcher's) is left to the cap.
    tvxtest::WriteFile(cache / "legacy-0-0-0.jsa", "l");
    // An AOT cache of a deleted executable goes like any archive. The record
    // of an assembly that never finished and the mark of a failed one (of
    // either kind of assembled archive) go after a week (the failed
    // assembly is then tried again).
    const std::string aotDeleted = Archive(files / "aot-deleted", jvm, 100, 10);
    ASSERT_EQ(rename((cache / aotDeleted).c_str(), (cache / "aotdel.aot").c_str()), 0);
    ASSERT_TRUE(WriteStampAt(fd, "aotdel.aot"));
    ASSERT_TRUE(WriteSourceAt(fd, "aotdel.aot", (files / "aot-deleted").c_str(), jvm.c_str()));
    unlink((files / "aot-deleted").c_str());
    const char* const weekOld[] = {"week.aot.conf", "week.aot.list", "week.aot.no", "week.jsa.list", "week.jsa.no"};
    const char* const dayOld[] = {"day.aot.conf", "day.aot.list", "day.aot.no", "day.jsa.list", "day.jsa.no"};
    for (const char* name : weekOld) tvxtest::WriteFile(cache / name, "r");
    for (const char* name : dayOld) tvxtest::WriteFile(cache / name, "r");
    const struct timespec week[2] = {{now - kAotLeftoverSeconds - 60, 0}, {now - kAotLeftoverSeconds - 60, 0}};
    const struct timespec day[2] = {{now - 86400, 0}, {now - 86400, 0}};
    for (const char* name : weekOld) ASSERT_EQ(utimensat(fd, name, week, 0), 0);
    for (const char* name : dayOld) ASSERT_EQ(utimensat(fd, name, day, 0), 0);

    EXPECT_EQ(SweepAt(fd, "", kDefaultCapBytes, now), 4);
    EXPECT_TRUE(Gone("aotdel.aot"));
    for (const char* name : weekOld) EXPECT_FALSE(tvxtest::FileExists(cache / name)) << name;
    for (const char* name : dayOld) EXPECT_TRUE(tvxtest::FileExists(cache / name)) << name;
    EXPECT_TRUE(Kept(kept));
    EXPECT_TRUE(Gone(deleted));
    EXPECT_TRUE(Gone(rebuilt));
    EXPECT_TRUE(Gone(otherRuntime));
    EXPECT_FALSE(tvxtest::FileExists(cache / "x.jsa.ok"));
    EXPECT_FALSE(tvxtest::FileExists(cache / "y.jsa.src"));
    EXPECT_FALSE(tvxtest::FileExists(cache / "old.jsa.0123456789abcdef.tmp"));
    EXPECT_TRUE(tvxtest::FileExists(cache / "new.jsa.0123456789abcdef.tmp"));
    EXPECT_TRUE(tvxtest::FileExists(cache / "legacy-0-0-0.jsa"));
    EXPECT_FALSE(SweepDueAt(fd, now)) << "the sweep is marked";
    EXPECT_TRUE(SweepDueAt(fd, now + kSweepIntervalSeconds));
}

TEST_F(StartupCacheSweep, OverTheCapTheLeastRecentlyUsedGoFirst) {
    const std::string jvm = files / "libjvm.so";
    const std::string oldest = Archive(files / "a", jvm, 1000, 300);
    const std::string older = Archive(files / "b", jvm, 1000, 200);
    const std::string recent = Archive(files / "c", jvm, 1000, 100);
    const std::string mine = Archive(files / "d", jvm, 1000, 400);  // this run's: counts as used now
    EXPECT_EQ(SweepAt(fd, mine.c_str(), 4000, now), 0) << "at the cap, nothing goes";
    EXPECT_EQ(SweepAt(fd, mine.c_str(), 2500, now), 2);
    EXPECT_TRUE(Gone(oldest));
    EXPECT_TRUE(Gone(older));
    EXPECT_TRUE(Kept(recent));
    EXPECT_TRUE(Kept(mine));
    NoteUseAt(fd, recent.c_str());  // now used: mine is the older one
    EXPECT_EQ(SweepAt(fd, "", 1500, now + 10), 1);
    EXPECT_TRUE(Kept(recent));
    EXPECT_TRUE(Gone(mine));
}

}  // namespace
