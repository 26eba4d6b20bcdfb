// Packed executables as separate processes: the single-instance policy over
// the System V segment, instance groups by "appid", recovery after a killed
// instance, and the second copy of the launcher (loaded by the helper
// classes) reaching the first copy's objects. Runs in private mount and IPC
// namespaces with a /tmp of its own.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/instances/background_process.h"
#include "tests/instances/private_namespaces.h"
#include "tests/launch/launch_test_util.h"
#include "tests/support/test_support.h"

namespace {

using tvxtest::Background;

[[maybe_unused]] const bool kIsolated = tvxtest::RegisterPrivateNamespaces({"/run"});

const char kAlreadyRunning[] = "There is already an instance of this program running.";

std::string AppsJar() { return tvxtest::TestJarsDir() + "/instance-apps.jar"; }

void PackApp(const std::string& exe, const std::string& mainClass, std::vector<std::string> lines) {
    lines.push_back("jvmdll=" + tvxtest::JavaHome() + "/lib/server/libjvm.so");
    tvxtest::Pack(AppsJar(), exe, lines, {"--main", mainClass});
}

tvxtest::RunOptions Options() {
    tvxtest::RunOptions options;
    options.setEnv["LC_ALL"] = "C.UTF-8";
    return options;
}

using launchtest::CountOf;

std::vector<std::string> AppidFiles() {
    std::vector<std::string> names;
    if (DIR* dir = opendir("/tmp")) {
        while (dirent* e = readdir(dir))
            if (strncmp(e->d_name, "appid.", 6) == 0) names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

// The instance segment keyed by `keyFile`, as another process sees it.
struct Segment {
    bool exists = false;
    int attached = 0;
    int counter = 0;
};

Segment InspectSegment(const std::string& keyFile) {
    Segment s;
    key_t key = ftok(keyFile.c_str(), 0xFF);
    int id = key == -1 ? -1 : shmget(key, 0, 0);
    shmid_ds ds;
    if (id == -1 || shmctl(id, IPC_STAT, &ds) != 0) return s;
    s.exists = true;
    s.attached = static_cast<int>(ds.shm_nattch);
    void* p = shmat(id, nullptr, SHM_RDONLY);
    if (p != reinterpret_cast<void*>(-1)) {
        memcpy(&s.counter, p, sizeof s.counter);
        shmdt(p);
    }
    return s;
}

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

TEST(SingleInstance, PolicyByValue) {
    struct Row {
        const char* value;  // "singleinstance" setting, null for none
        bool refused;
    };
    const Row rows[] = {
        {"TRUE", true}, {"true", true}, {"custom", false}, {"yes", false}, {nullptr, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value ? row.value : "(not set)");
        tvxtest::TempDir dir;
        std::string exe = dir / "app";
        std::vector<std::string> lines;
        if (row.value) lines.push_back(std::string("singleinstance=") + row.value);
        PackApp(exe, "instancetest.WaitApp", lines);
        std::string stop = dir / "stop";

        Background first({exe, "-test", dir / "ready1", stop}, dir / "first.out");
        ASSERT_TRUE(first.WaitForFile(dir / "ready1")) << tvxtest::ReadFile(dir / "first.out");
        Segment seg = InspectSegment(exe);
        ASSERT_TRUE(seg.exists);
        EXPECT_EQ(seg.counter, row.refused ? 1 : 0);

        if (row.refused) {
            tvxtest::RunResult second = tvxtest::Run({exe, "-test", dir / "ready2", stop}, Options());
            EXPECT_EQ(second.exitCode, 11) << second.out << second.err;
            EXPECT_EQ(CountOf(second.out, kAlreadyRunning), 1) << second.out;
            EXPECT_EQ(CountOf(tvxtest::ReadFile(exe + ".stderr.log"), kAlreadyRunning), 1);
            EXPECT_FALSE(tvxtest::FileExists(dir / "ready2")) << "the refused instance never ran the application";
            EXPECT_EQ(InspectSegment(exe).counter, 2) << "the refused instance still counted itself";
        } else {
            Background second({exe, "-test", dir / "ready2", stop}, dir / "second.out");
            EXPECT_TRUE(second.WaitForFile(dir / "ready2")) << tvxtest::ReadFile(dir / "second.out");
            EXPECT_EQ(InspectSegment(exe).counter, 0);
            tvxtest::WriteFile(stop, "");
            EXPECT_TRUE(ExitedWith(second.Wait(), 0)) << tvxtest::ReadFile(dir / "second.out");
        }
        tvxtest::WriteFile(stop, "");
        EXPECT_TRUE(ExitedWith(first.Wait(), 0)) << tvxtest::ReadFile(dir / "first.out");
        EXPECT_FALSE(InspectSegment(exe).exists) << "the last instance removes the segment";
    }
}

TEST(SingleInstance, NextStartAfterAKilledInstanceClearsTheSegment) {
    tvxtest::TempDir dir;
    std::string exe = dir / "app";
    PackApp(exe, "instancetest.WaitApp", {"singleinstance=true"});

    Background first({exe, "-test", dir / "ready1", dir / "never"}, dir / "first.out");
    ASSERT_TRUE(first.WaitForFile(dir / "ready1")) << tvxtest::ReadFile(dir / "first.out");
    first.Kill(SIGKILL);
    int status = first.Wait();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    Segment left = InspectSegment(exe);
    ASSERT_TRUE(left.exists);
    EXPECT_EQ(left.attached, 0);
    EXPECT_EQ(left.counter, 1) << "the dead instance's count is still there";

    tvxtest::WriteFile(dir / "stop", "");
    tvxtest::RunResult next = tvxtest::Run({exe, "-test", dir / "ready2", dir / "stop"}, Options());
    EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
    EXPECT_EQ(CountOf(next.out, kAlreadyRunning), 0);
    EXPECT_NE(next.out.find("wait-app done"), std::string::npos) << next.out;
    EXPECT_FALSE(InspectSegment(exe).exists);
}

TEST(SingleInstance, UnusableSegmentIsReportedAndTheApplicationStillRuns) {
    tvxtest::TempDir dir;
    std::string exe = dir / "app";
    PackApp(exe, "instancetest.WaitApp", {"singleinstance=true"});
    // A foreign segment under the executable's key, too small to be ours.
    int foreign = shmget(ftok(exe.c_str(), 0xFF), 100, IPC_CREAT | 0600);
    ASSERT_NE(foreign, -1) << strerror(errno);

    tvxtest::WriteFile(dir / "stop", "");
    for (const char* run : {"first", "second"}) {
        SCOPED_TRACE(run);
        tvxtest::RunResult r = tvxtest::Run({exe, "-test", dir / "ready", dir / "stop"}, Options());
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("wait-app done"), std::string::npos) << r.out;
        EXPECT_EQ(CountOf(r.err, "Instance segment unavailable"), 1) << r.err;
        EXPECT_EQ(CountOf(r.err, "\n"), 1) << "one line: " << r.err;
        EXPECT_EQ(CountOf(r.out, kAlreadyRunning), 0);
    }
    shmid_ds ds;
    ASSERT_EQ(shmctl(foreign, IPC_STAT, &ds), 0) << "the foreign segment is left alone";
    EXPECT_EQ(ds.shm_segsz, 100u);
    shmctl(foreign, IPC_RMID, nullptr);
}

TEST(SingleInstance, AppidMakesInstanceGroups) {
    struct Row {
        const char* name;
        const char* appidLine;  // null: no "appid" setting
        std::string lockFile;   // empty: each executable keyed by its own path
    };
    const Row rows[] = {
        {"shared identifier", "appid=group one", "/tmp/appid.group one.tvx.lock"},
        {"separators cleaned, inner blank kept", "appid=my team/app:v2\\x", "/tmp/appid.my team.app.v2.x.tvx.lock"},
        {"blank identifier", "appid=    ", ""},
        {"no identifier", nullptr, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tvxtest::TempDir dir;
        tvxtest::MakeDirs(dir / "a");
        tvxtest::MakeDirs(dir / "b");
        std::string exeA = dir / "a/app";
        std::string exeB = dir / "b/other";
        std::vector<std::string> lines = {"singleinstance=true"};
        if (row.appidLine) lines.push_back(row.appidLine);
        PackApp(exeA, "instancetest.WaitApp", lines);
        PackApp(exeB, "instancetest.WaitApp", lines);
        std::string stop = dir / "stop";

        Background first({exeA, "-test", dir / "readyA", stop}, dir / "a.out");
        ASSERT_TRUE(first.WaitForFile(dir / "readyA")) << tvxtest::ReadFile(dir / "a.out");
        if (!row.lockFile.empty()) {
            EXPECT_TRUE(tvxtest::FileExists(row.lockFile));
            tvxtest::RunResult second = tvxtest::Run({exeB, "-test", dir / "readyB", stop}, Options());
            EXPECT_EQ(second.exitCode, 11) << second.out << second.err;
            EXPECT_EQ(CountOf(second.out, kAlreadyRunning), 1);
            EXPECT_EQ(InspectSegment(row.lockFile).counter, 2);
            EXPECT_FALSE(InspectSegment(exeA).exists) << "not keyed by the path";
        } else {
            EXPECT_EQ(AppidFiles(), std::vector<std::string>()) << "no lock file without an identifier";
            Background second({exeB, "-test", dir / "readyB", stop}, dir / "b.out");
            EXPECT_TRUE(second.WaitForFile(dir / "readyB")) << tvxtest::ReadFile(dir / "b.out");
            EXPECT_EQ(InspectSegment(exeA).counter, 1);
            EXPECT_EQ(InspectSegment(exeB).counter, 1);
            tvxtest::WriteFile(stop, "");
            EXPECT_TRUE(ExitedWith(second.Wait(), 0)) << tvxtest::ReadFile(dir / "b.out");
        }
        tvxtest::WriteFile(stop, "");
        EXPECT_TRUE(ExitedWith(first.Wait(), 0)) << tvxtest::ReadFile(dir / "a.out");
        if (!row.lockFile.empty()) unlink(row.lockFile.c_str());
    }
}

TEST(SecondCopy, ServiceNativesReachTheLauncherThroughTheProcessBlock) {
    tvxtest::TempDir dir;
    std::string exe = dir / "args";
    PackApp(exe, "instancetest.ArgsApp", {});
    tvxtest::RunResult r = tvxtest::Run({exe, "-test", "spawn-child"}, Options());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err << tvxtest::ReadFile(exe + ".stderr.log");
    std::map<std::string, std::string> v = launchtest::ProbeValues(r.out);
    // Slot 1 holds the launcher only in the block main filled: "null" here
    // would mean the loaded copy had a block of its own.
    for (const std::string prefix : {"", "child."}) {
        SCOPED_TRACE(prefix.empty() ? "application" : "child started by the application");
        EXPECT_EQ(v[prefix + "command"], "0") << r.out;
        EXPECT_EQ(v[prefix + "command-same"], "true");
        EXPECT_EQ(v[prefix + "startup"], "0");
        EXPECT_EQ(v[prefix + "startup-same"], "true");
        EXPECT_EQ(v[prefix + "startup-distinct"], "true");
        EXPECT_EQ(v[prefix + "service"], "false");
    }
    // The child inherited the application's environment, with the parent's
    // block address in it; adopting that address would have crashed it.
    EXPECT_EQ(v["child-exit"], "0") << r.out;
}

// Another user's part in the tests below: uid 4242, which has no account.
const char kOtherUser[] = "/usr/bin/setpriv --reuid=4242 --regid=4242 --clear-groups ";

void Sh(const std::string& command) {
    tvxtest::RunResult r = tvxtest::Shell(command);
    ASSERT_EQ(r.exitCode, 0) << command << "\n" << r.out << r.err;
}

// Another user who can read the executable or the key file holds a shared
// flock on it for good: a start waits a bounded time for its turn, says so
// in one line, and runs.
TEST(InstanceKey, ALockAnyReaderCanHoldDelaysAStartOnlyBriefly) {
    struct Row {
        const char* what;
        const char* appid;  // null: keyed by the executable
    } rows[] = {{"the executable", nullptr}, {"the key file", "appid=held"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        tvxtest::TempDir dir;
        Sh("chmod 755 '" + dir.path() + "'");
        std::string exe = dir / "app";
        std::vector<std::string> lines = {"singleinstance=true"};
        if (row.appid) lines.push_back(row.appid);
        PackApp(exe, "instancetest.WaitApp", lines);
        tvxtest::WriteFile(dir / "stop", "");
        ASSERT_EQ(tvxtest::Run({exe, "-test", dir / "ready0", dir / "stop"}, Options()).exitCode, 0);
        const std::string key = row.appid ? "/tmp/appid.held.tvx.lock" : exe;
        Background holder({"/bin/sh", "-c", std::string(kOtherUser) + "flock -s '" + key + "' sleep 600"},
                          dir / "holder.out");
        // Held once an exclusive lock of ours is refused.
        bool held = false;
        for (int i = 0; i < 500 && !held; ++i) {
            held = tvxtest::Run({"flock", "-n", "-x", key, "true"}).exitCode != 0;
            if (!held) usleep(20000);
        }
        ASSERT_TRUE(held) << tvxtest::ReadFile(dir / "holder.out");
        tvxtest::RunOptions options = Options();
        options.timeoutSeconds = 30;
        tvxtest::RunResult r = tvxtest::Run({exe, "-test", dir / "ready", dir / "stop"}, options);
        EXPECT_FALSE(r.timedOut) << "the start waited for good";
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("wait-app done"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "WARNING: Instance segment: " + key +
                             " stayed locked by another process for 3 s; going on without waiting.\n");
    }
}

// The key file in /tmp planted by another user: a FIFO never hangs a start,
// and a file others own or may write is refused as a key (one line), so
// replacing it between two starts does not let a second single instance
// run: the lock in root's own /run/tvx still holds.
TEST(InstanceKey, AKeyFilePlantedByAnotherUserIsRefused) {
    const std::string key = "/tmp/appid.planted.tvx.lock";
    struct Row {
        const char* what;
        const char* plant;  // commands on $K
        const char* why;
    } rows[] = {
        {"a FIFO", "mkfifo -m 666 \"$K\" && chown 4242 \"$K\"", "is not a regular file"},
        {"her file", "touch \"$K\" && chown 4242 \"$K\" && chmod 644 \"$K\"", "belongs to another user"},
        {"a file others may write", "touch \"$K\" && chmod 666 \"$K\"", "may be written by others"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        tvxtest::TempDir dir;
        std::string exe = dir / "app";
        PackApp(exe, "instancetest.WaitApp", {"singleinstance=true", "appid=planted"});
        Sh("K='" + key + "'; rm -f \"$K\"; " + row.plant);
        Background first({exe, "-test", dir / "ready1", dir / "stop"}, dir / "first.out");
        ASSERT_TRUE(first.WaitForFile(dir / "ready1")) << tvxtest::ReadFile(dir / "first.out");
        EXPECT_NE(tvxtest::ReadFile(dir / "first.out")
                      .find("Instance segment refused: the key file " + key + " " + row.why +
                            "; running without single-instance and instance messages.\n"),
                  std::string::npos)
            << tvxtest::ReadFile(dir / "first.out");
        // She replaces the file by one of hers: another identity, another key.
        Sh("K='" + key + "'; rm -f \"$K\" && " + kOtherUser + "touch \"$K\"");
        tvxtest::RunResult second = tvxtest::Run({exe, "-test", dir / "ready2", dir / "stop"}, Options());
        EXPECT_EQ(second.exitCode, 11) << second.out << second.err;
        EXPECT_EQ(CountOf(second.out, kAlreadyRunning), 1) << second.out;
        tvxtest::WriteFile(dir / "stop", "");
        EXPECT_TRUE(ExitedWith(first.Wait(), 0)) << tvxtest::ReadFile(dir / "first.out");
        unlink(key.c_str());
    }
}

// ftok keeps 16 bits of the inode: two unrelated executables on one file
// system whose inode numbers are 65536 apart share a key. The segment says
// whose it is, so the second application neither takes the first one's
// single instance nor its channel, and one line says why.
TEST(InstanceKey, AKeyCollisionIsDetected) {
    tvxtest::TempDir dir;
    const std::string fs = dir / "fs";
    tvxtest::MakeDirs(fs);
    Sh("mount -t tmpfs -o size=64m tvx-collide '" + fs + "'");
    const std::string exeA = fs + "/a";
    PackApp(exeA, "instancetest.WaitApp", {"singleinstance=true"});
    PackApp(dir / "b", "instancetest.WaitApp", {"singleinstance=true"});
    struct stat a;
    ASSERT_EQ(stat(exeA.c_str(), &a), 0);
    // A fresh tmpfs numbers its inodes one after another: use them up until
    // the file made has the inode number 65536 above the first executable's.
    std::string exeB;
    for (int i = 0; i < 200000 && exeB.empty(); ++i) {
        const std::string name = fs + "/n" + std::to_string(i);
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0755);
        ASSERT_GE(fd, 0) << strerror(errno);
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        if (st.st_ino == a.st_ino + 65536) {
            const std::string bytes = tvxtest::ReadFile(dir / "b");
            ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
            exeB = name;
        } else {
            unlink(name.c_str());
        }
        close(fd);
    }
    ASSERT_FALSE(exeB.empty()) << "no inode 65536 above " << a.st_ino;
    ASSERT_EQ(ftok(exeA.c_str(), 0xFF), ftok(exeB.c_str(), 0xFF));

    Background first({exeA, "-test", dir / "ready1", dir / "stop"}, dir / "first.out");
    ASSERT_TRUE(first.WaitForFile(dir / "ready1")) << tvxtest::ReadFile(dir / "first.out");
    tvxtest::WriteFile(dir / "stop2", "");
    tvxtest::RunResult other = tvxtest::Run({exeB, "-test", dir / "ready2", dir / "stop2"}, Options());
    EXPECT_EQ(other.exitCode, 0) << other.out << other.err;
    EXPECT_EQ(CountOf(other.out, kAlreadyRunning), 0) << other.out;
    EXPECT_NE(other.out.find("wait-app done"), std::string::npos) << other.out;
    char line[200];
    snprintf(line, sizeof line,
             "WARNING: Instance segment refused: its key %08x is also another application's (the key keeps only part of a "
             "file's identity); running without single-instance and instance messages.\n",
             static_cast<unsigned>(ftok(exeA.c_str(), 0xFF)));
    EXPECT_EQ(other.err, line);
    tvxtest::WriteFile(dir / "stop", "");
    EXPECT_TRUE(ExitedWith(first.Wait(), 0)) << tvxtest::ReadFile(dir / "first.out");
    EXPECT_EQ(tvxtest::ReadFile(dir / "first.out").find("Instance segment"), std::string::npos);
    umount(fs.c_str());
}

}  // namespace
