// The service's lock file and pid file, checked across real processes: a
// lockf lock is held per process, so the other side of each check is a child.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "service/service.h"
#include "tests/support/test_support.h"

namespace {

// Runs `probe` in a child process that holds no lock of its own (a forked
// child inherits descriptors, never lockf locks); returns its answer.
template <class Probe>
bool InOtherProcess(Probe probe) {
    pid_t pid = fork();
    if (pid == 0) {
        fdlock = -1;
        _exit(probe() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status) == 1;
}

class ServiceLock : public ::testing::Test {
protected:
    void SetUp() override {
        lockPath = dir / "billing.lock";
        pidPath = dir / "billing.pid";
        snprintf(lockfile, sizeof lockfile, "%s", lockPath.c_str());
        snprintf(pidfile, sizeof pidfile, "%s", pidPath.c_str());
    }
    void TearDown() override {
        ReleaseLock();
        lockfile[0] = pidfile[0] = '\0';
    }

    tvxtest::TempDir dir;
    std::string lockPath;
    std::string pidPath;
};

TEST_F(ServiceLock, FreeLockIsKeptOrRemovedOnRequest) {
    mode_t old = umask(0);
    EXPECT_TRUE(TestLock(false));
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(lockPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "nobody else may write (or lock) the lock file, whatever the umask";

    EXPECT_TRUE(TestLock(true));
    EXPECT_FALSE(tvxtest::FileExists(lockPath));
}

TEST_F(ServiceLock, HeldLockStopsOtherProcessesUntilReleased) {
    ASSERT_TRUE(AcquireLock());
    EXPECT_GE(fdlock, 0);
    EXPECT_TRUE(tvxtest::FileExists(lockPath));
    EXPECT_FALSE(InOtherProcess([] { return TestLock(false); }));
    EXPECT_FALSE(InOtherProcess([] { return AcquireLock(); }));
    EXPECT_FALSE(InOtherProcess([] { return TestLock(true); }));
    EXPECT_TRUE(tvxtest::FileExists(lockPath)) << "a refused test must not remove the holder's file";
    // Testing in the holder would close a descriptor of the file and so drop
    // the lock: it is refused and the lock stays.
    EXPECT_FALSE(TestLock(false));
    EXPECT_FALSE(InOtherProcess([] { return AcquireLock(); }));

    ReleaseLock();
    EXPECT_EQ(fdlock, -1);
    EXPECT_FALSE(tvxtest::FileExists(lockPath));
    ReleaseLock();  // a second release does nothing
    EXPECT_TRUE(InOtherProcess([] { return TestLock(false); }));
    EXPECT_TRUE(InOtherProcess([] { return AcquireLock(); }));
}

TEST_F(ServiceLock, LockFileThatCannotBeCreatedMeansNoLock) {
    struct Row {
        const char* what;
        std::string path;
    } rows[] = {
        {"missing directory", dir / "missing/billing.lock"},
        {"empty path", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        snprintf(lockfile, sizeof lockfile, "%s", row.path.c_str());
        EXPECT_FALSE(TestLock(false));
        EXPECT_FALSE(TestLock(true));
        EXPECT_FALSE(AcquireLock());
        EXPECT_EQ(fdlock, -1);
    }
}

TEST_F(ServiceLock, PidFileHoldsThePidAndALineEnd) {
    tvxtest::WriteFile(pidPath, "stale content that is longer\n");
    ASSERT_TRUE(WritePidFile());
    EXPECT_EQ(tvxtest::ReadFile(pidPath), std::to_string(getpid()) + "\n");
    RemovePidFile();
    EXPECT_FALSE(tvxtest::FileExists(pidPath));
}

TEST_F(ServiceLock, PidFileIsNotWrittenThroughALinkOrIntoAMissingDirectory) {
    std::string target = dir / "target";
    tvxtest::WriteFile(target, "keep\n");
    ASSERT_EQ(symlink(target.c_str(), pidPath.c_str()), 0);
    EXPECT_FALSE(WritePidFile());
    EXPECT_EQ(tvxtest::ReadFile(target), "keep\n");

    snprintf(pidfile, sizeof pidfile, "%s", (dir / "missing/billing.pid").c_str());
    EXPECT_FALSE(WritePidFile());
}

TEST(ServicePaths, NamesFollowTheExecutable) {
    ASSERT_TRUE(PreparePaths());
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    std::string exe(self);
    std::string name = exe.substr(exe.rfind('/') + 1);
    EXPECT_EQ(std::string(execpath), exe);
    EXPECT_EQ(std::string(prog), name);
    EXPECT_EQ(std::string(pidfile), "/var/run/" + name + ".pid");
    std::string lockDir = access("/var/lock/subsys/", R_OK) == 0 ? "/var/lock/subsys/" : "/var/lock/";
    EXPECT_EQ(std::string(lockfile), lockDir + name);
    EXPECT_EQ(fdlock, -1);
}

}  // namespace
