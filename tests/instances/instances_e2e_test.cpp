// Packed executables as separate processes: the single-instance policy over
// the System V segment, instance groups by "appid", recovery after a killed
// instance, and the second copy of the launcher (loaded by the helper
// classes) reaching the first copy's objects. Runs in private mount and IPC
// namespaces with a /tmp of its own.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
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

[[maybe_unused]] const bool kIsolated = tvxtest::RegisterPrivateNamespaces();

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

}  // namespace
