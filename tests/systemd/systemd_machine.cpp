#include "tests/systemd/systemd_machine.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace systemdtest {

namespace {

constexpr long kCgroup2Magic = 0x63677270;

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \n\t");
    size_t end = text.find_last_not_of(" \n\t");
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

bool IsCgroup2(const char* path) {
    struct statfs fs;
    return statfs(path, &fs) == 0 && static_cast<long>(fs.f_type) == kCgroup2Magic;
}

std::string Script() { return tvxtest::SourceDir() + "/tests/systemd/boot_systemd.sh"; }

}  // namespace

std::string SystemdMachine::CannotBoot() {
    if (geteuid() != 0) return "booting systemd needs root";
    if (tvxtest::CrossBuild()) return "a unit cannot run an executable of another processor without binfmt_misc";
    if (access("/lib/systemd/systemd", X_OK) != 0) return "systemd is not installed";
    if (access("/usr/bin/nsenter", X_OK) != 0 || access("/usr/bin/unshare", X_OK) != 0)
        return "nsenter and unshare (util-linux) are missing";
    if (!IsCgroup2("/sys/fs/cgroup") && !IsCgroup2("/sys/fs/cgroup/unified"))
        return "no cgroup2 hierarchy is mounted, so systemd would have no private cgroup subtree";
    return "";
}

SystemdMachine::SystemdMachine() {
    tvxtest::MakeDirs(dir_ / "app");
    tvxtest::MakeDirs(dir_ / "state");
    // The machine's own /tmp, not $TMPDIR: that is what a boot gone wrong would empty.
    sentinel_ = "/tmp/tvx-systemd-sentinel-" + std::to_string(getpid()) + "-" + std::to_string(time(nullptr));
    tvxtest::WriteFile(sentinel_, "still here\n");
}

SystemdMachine::~SystemdMachine() {
    Shutdown();
    unlink(sentinel_.c_str());
}

bool SystemdMachine::Boot() {
    pid_t child = fork();
    if (child == 0) {
        setsid();
        execl("/bin/sh", "sh", Script().c_str(), (dir_ / "state").c_str(), app().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child < 0) {
        error_ = "fork failed";
        return false;
    }
    script_ = child;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!tvxtest::FileExists(dir_ / "state/pid")) {
        int status = 0;
        if (waitpid(script_, &status, WNOHANG) == script_) {
            script_ = 0;
            error_ = "the boot script ended: " + Console();
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            error_ = "systemd was not started: " + Console();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = atoi(tvxtest::ReadFile(dir_ / "state/pid").c_str());
    std::string state;
    while (std::chrono::steady_clock::now() < deadline) {
        state = Trim(Exec("systemctl is-system-running 2>&1", 10).out);
        if (state == "running" || state == "degraded") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    error_ = "systemd did not come up (" + state + "): " + Console();
    return false;
}

bool SystemdMachine::Shutdown() {
    if (pid_ > 0) kill(pid_, SIGKILL);  // ends every process of its pid namespace
    pid_ = 0;
    if (script_ > 0) {
        int status = 0;
        while (waitpid(script_, &status, 0) < 0 && errno == EINTR) {
        }
        script_ = 0;
    }
    std::string cgroup = Trim(tvxtest::FileExists(dir_ / "state/cgroup") ? tvxtest::ReadFile(dir_ / "state/cgroup") : "");
    if (!cgroup.empty()) {
        // The subtree empties as the killed processes are reaped.
        for (int i = 0; i < 100; ++i) {
            tvxtest::Shell("find '" + cgroup + "' -depth -type d -exec rmdir {} + 2>/dev/null");
            if (access(cgroup.c_str(), F_OK) != 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        unlink((dir_ / "state/cgroup").c_str());
    }
    return tvxtest::FileExists(sentinel_) && tvxtest::ReadFile(sentinel_) == "still here\n";
}

tvxtest::RunResult SystemdMachine::Exec(const std::string& command, int timeoutSeconds) const {
    tvxtest::RunOptions options;
    options.timeoutSeconds = timeoutSeconds;
    options.setEnv["SYSTEMD_PAGER"] = "";
    options.setEnv["SYSTEMD_COLORS"] = "0";
    return tvxtest::Run({"nsenter", "-t", std::to_string(pid_), "-m", "-p", "-i", "-u", "-C", "--", "/bin/sh", "-c",
                         command},
                        options);
}

std::string SystemdMachine::WaitFor(const std::string& command, const std::string& expected, int seconds) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string last;
    for (;;) {
        last = Trim(Exec(command, seconds + 5).out);
        if (last == expected || std::chrono::steady_clock::now() > deadline) return last;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::string SystemdMachine::Console() const {
    return tvxtest::FileExists(dir_ / "state/console.log") ? tvxtest::ReadFile(dir_ / "state/console.log") : "";
}

}  // namespace systemdtest
