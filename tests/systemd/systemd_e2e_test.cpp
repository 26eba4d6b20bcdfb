// tvx services under a real systemd (PID 1 of private namespaces over a root
// of their own): installed with -install, driven with systemctl, read back
// with systemctl show, journalctl and the real logrotate.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/systemd/systemd_machine.h"

namespace {

using systemdtest::SystemdMachine;

SystemdMachine* machine = nullptr;
std::string bootProblem;

class SystemdE2e : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bootProblem = SystemdMachine::CannotBoot();
        if (!bootProblem.empty()) return;
        machine = new SystemdMachine();
        chmod(machine->app().c_str(), 0755);
        if (!machine->Boot()) bootProblem = "systemd did not boot: " + machine->error();
    }
    static void TearDownTestSuite() {
        if (!machine) return;
        bool sentinelKept = machine->Shutdown();
        EXPECT_TRUE(sentinelKept) << "a file of the machine's /tmp is gone after the boot";
        delete machine;
        machine = nullptr;
    }
    void SetUp() override {
        if (!machine) GTEST_SKIP() << bootProblem;
        ASSERT_TRUE(bootProblem.empty()) << bootProblem;
    }

    // Packs the probe as /srv/tvx/<name>/<name> and installs it with `args`.
    void Install(const std::string& name, std::vector<std::string> settings, const std::string& args = "") {
        PackProbe(name, settings);
        tvxtest::RunResult r = In(Exe() + " -install:manual " + args + " && systemctl daemon-reload");
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    // Packs the probe as /srv/tvx/<name>/<name>, with a marks directory the
    // service's user can write.
    void PackProbe(const std::string& name, std::vector<std::string> settings) {
        name_ = name;
        std::string dir = machine->app() + "/" + name;
        tvxtest::MakeDirs(dir + "/marks");
        chmod(dir.c_str(), 0755);
        chmod((dir + "/marks").c_str(), 0777);
        settings.push_back("jvmdll=" + tvxtest::JavaHome() + "/lib/server/libjvm.so");
        tvxtest::Pack(tvxtest::TestJarsDir() + "/systemd-probe.jar", dir + "/" + name, settings);
    }
    std::string Exe() const { return "/srv/tvx/" + name_ + "/" + name_; }
    std::string Mark(const std::string& mark) const { return machine->app() + "/" + name_ + "/marks/" + mark; }
    std::string Show(const std::string& property) const {
        return Trim(In("systemctl show -P " + property + " " + name_).out);
    }
    std::string Journal() const { return In("journalctl -q -o cat --no-pager -u " + name_).out; }
    tvxtest::RunResult In(const std::string& command, int timeout = 60) const { return machine->Exec(command, timeout); }
    static std::string Trim(const std::string& s) {
        size_t e = s.find_last_not_of("\n ");
        return e == std::string::npos ? "" : s.substr(0, e + 1);
    }
    // Waits until `property` is `value`, at most `seconds`.
    std::string WaitShow(const std::string& property, const std::string& value, int seconds) const {
        return machine->WaitFor("systemctl show -P " + property + " " + name_, value, seconds);
    }
    void TearDown() override {
        if (!name_.empty() && machine) In("systemctl kill -s KILL " + name_ + "; systemctl stop " + name_);
    }

    std::string name_;
};

TEST_F(SystemdE2e, StartReturnsOnlyOnceMainIsReachedStatusAndJournalShowItStopCallsOnStop) {
    Install("ready-main", {"servicerestart=no", "stdout=inherit", "stderr=inherit"});
    auto started = std::chrono::steady_clock::now();
    tvxtest::RunResult r = In("systemctl start ready-main");
    ASSERT_EQ(r.exitCode, 0) << r.err << Journal();
    EXPECT_TRUE(tvxtest::FileExists(Mark("initialised"))) << "systemctl start returned before main was reached";
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
    EXPECT_EQ(Show("ActiveState"), "active");
    EXPECT_EQ(Show("StatusText"), "Running");
    EXPECT_NE(In("systemctl status --no-pager ready-main").out.find("Status: \"Running\""), std::string::npos);
    EXPECT_EQ(Show("Type"), "notify");
    std::string journal = machine->WaitFor("journalctl -q -o cat --no-pager -u ready-main | grep -c 'probe'", "2", 10);
    EXPECT_EQ(journal, "2") << Journal();
    EXPECT_NE(Journal().find("probe runs as root"), std::string::npos);
    EXPECT_NE(Journal().find("probe says hello on standard error"), std::string::npos);
    EXPECT_EQ(Journal().find("Service ..."), std::string::npos) << "a terminal's progress text in the journal";

    r = In("systemctl stop ready-main");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(tvxtest::FileExists(Mark("stopped")));
    EXPECT_EQ(Show("ActiveState"), "inactive") << Journal();
    EXPECT_EQ(Show("Result"), "success");
    EXPECT_NE(Journal().find("onStop called"), std::string::npos);
}

TEST_F(SystemdE2e, AnApplicationThatReportsReadinessIsStartedWhenItSaysSo) {
    Install("ready-app", {"serviceready=application"}, "report-ready");
    tvxtest::RunResult r = In("systemctl start ready-app");
    ASSERT_EQ(r.exitCode, 0) << r.err << Journal();
    EXPECT_TRUE(tvxtest::FileExists(Mark("ready"))) << "started before the application reported RUNNING";
    EXPECT_EQ(Show("StatusText"), "Running");
    EXPECT_EQ(Show("ActiveState"), "active");
}

TEST_F(SystemdE2e, TheServiceRunsAsItsUserWithItsFilesUsable) {
    ASSERT_EQ(In("id tvxsvc >/dev/null 2>&1 || useradd --system --no-create-home tvxsvc").exitCode, 0);
    Install("as-user", {"serviceuser=tvxsvc", "stdout=inherit"});
    tvxtest::RunResult r = In("systemctl start as-user");
    ASSERT_EQ(r.exitCode, 0) << r.err << Journal();
    std::string mainPid = Show("MainPID");
    EXPECT_EQ(Trim(In("ps -o user= -p " + mainPid).out), "tvxsvc");
    EXPECT_EQ(Trim(In("cat /var/run/as-user.pid").out), mainPid);
    EXPECT_EQ(Trim(In("stat -c %U /var/run/as-user.pid /srv/tvx/as-user/as-user.stderr.log | sort -u").out),
              "tvxsvc");
    machine->WaitFor("journalctl -q -o cat -u as-user | grep -c 'runs as tvxsvc'", "1", 10);
    EXPECT_NE(Journal().find("probe runs as tvxsvc"), std::string::npos) << Journal();
    EXPECT_EQ(In("systemctl stop as-user").exitCode, 0);
    EXPECT_TRUE(tvxtest::FileExists(Mark("stopped")));
    EXPECT_EQ(Show("Result"), "success");
}

// A system user without a home gets its startup cache in the directory the
// unit's CacheDirectory= makes ($CACHE_DIRECTORY), which -install's drop-in
// names: the first run records the classes it loads and, since systemd ends
// whatever a stopped service leaves, waits at its end for the archive's
// assembly; the second run maps it.
TEST_F(SystemdE2e, AServiceUserWithoutAHomeKeepsTheStartupCacheInTheUnitsCacheDirectory) {
    ASSERT_EQ(In("id tvxsvc >/dev/null 2>&1 || useradd --system --no-create-home tvxsvc").exitCode, 0);
    ASSERT_NE(In("su -s /bin/sh tvxsvc -c 'mkdir -p \"$HOME\"'").exitCode, 0) << "tvxsvc has a writable home";
    Install("cached", {"serviceuser=tvxsvc", "startupcache true", "stderr=inherit", "servicerestart=no"});
    EXPECT_EQ(In("grep -x CacheDirectory=cached /lib/systemd/system/cached.service.d/tvx.conf").exitCode, 0)
        << In("cat /lib/systemd/system/cached.service.d/tvx.conf").out;
    ASSERT_EQ(In("mkdir -p /etc/systemd/system/cached.service.d && printf '[Service]\\nEnvironment=TVX_EXPLAIN=1\\n' "
                 ">/etc/systemd/system/cached.service.d/explain.conf && "
                 "systemctl daemon-reload")
                  .exitCode,
              0);
    for (int run = 0; run < 2; ++run) {
        tvxtest::RunResult r = In("systemctl start cached");
        ASSERT_EQ(r.exitCode, 0) << r.err << Journal();
        EXPECT_EQ(In("systemctl stop cached").exitCode, 0);
        EXPECT_EQ(Show("Result"), "success") << Journal();
    }
    const std::string journal = Journal();
    EXPECT_NE(journal.find("startup cache: directory /var/cache/cached/tvx (from $CACHE_DIRECTORY)"), std::string::npos)
        << journal;
    EXPECT_NE(journal.find("startup cache: recording the classes this run loads for /var/cache/cached/tvx/cached-"),
              std::string::npos)
        << journal;
    EXPECT_NE(journal.find("; assembled at exit (a unit's processes end with its main one)"), std::string::npos)
        << journal;
    EXPECT_NE(journal.find("startup cache: using /var/cache/cached/tvx/cached-"), std::string::npos) << journal;
    EXPECT_EQ(Trim(In("stat -c %U /var/cache/cached/tvx/*.jsa").out), "tvxsvc");
}

TEST_F(SystemdE2e, OnTheDaemonRoadTheDetachedChildBecomesTheMainProcess) {
    PackProbe("daemonroad", {});
    tvxtest::WriteFile(machine->app() + "/daemonroad/unit",
                       "[Service]\nType=notify\nNotifyAccess=main\nSuccessExitStatus=143\nExecStart=/srv/tvx/daemonroad/daemonroad\n");
    ASSERT_EQ(In("cp /srv/tvx/daemonroad/unit /etc/systemd/system/daemonroad.service && systemctl daemon-reload")
                  .exitCode,
              0);
    tvxtest::RunResult r = In("systemctl start daemonroad");
    ASSERT_EQ(r.exitCode, 0) << r.err << Journal();
    EXPECT_TRUE(tvxtest::FileExists(Mark("initialised")));
    std::string mainPid = Show("MainPID");
    EXPECT_EQ(Trim(In("cat /var/run/daemonroad.pid").out), mainPid) << "the detached child is the one watched";
    EXPECT_EQ(Show("StatusText"), "Running");
    // systemd 252 does not wait for a main process named while it was not
    // its child: it follows SIGTERM with SIGKILL at once, so only the end
    // of the unit is checked here (-install's unit runs -no-daemon).
    EXPECT_EQ(In("systemctl stop daemonroad").exitCode, 0);
    EXPECT_NE(Show("ActiveState"), "active");
    In("systemctl reset-failed daemonroad");
}

TEST_F(SystemdE2e, KilledItComesBackUnderRestartOnFailure) {
    Install("restarts", {"servicerestart=on-failure"});
    ASSERT_EQ(In("systemctl start restarts").exitCode, 0) << Journal();
    std::string first = Show("MainPID");
    ASSERT_NE(first, "0");
    In("kill -KILL " + first);
    std::string restarted = machine->WaitFor(
        "[ \"$(systemctl show -P NRestarts restarts)\" -ge 1 ] && systemctl is-active restarts", "active", 20);
    EXPECT_EQ(restarted, "active") << Journal();
    EXPECT_NE(Show("MainPID"), first);
}

TEST_F(SystemdE2e, AStoppedRuntimeIsRestartedByTheWatchdog) {
    Install("watched", {"servicewatchdog=2", "servicerestart=on-failure", "stoptimeout=4"});
    ASSERT_EQ(In("systemctl start watched").exitCode, 0) << Journal();
    EXPECT_EQ(Show("WatchdogUSec"), "2s");
    std::string first = Show("MainPID");
    std::this_thread::sleep_for(std::chrono::seconds(4));  // twice the interval: the pings keep it alive
    EXPECT_EQ(Show("MainPID"), first) << Journal();
    EXPECT_EQ(Show("NRestarts"), "0");
    In("kill -STOP " + first);
    std::string restarted = machine->WaitFor(
        "[ \"$(systemctl show -P NRestarts watched)\" -ge 1 ] && systemctl is-active watched", "active", 30);
    EXPECT_EQ(restarted, "active") << Journal();
    EXPECT_NE(Show("MainPID"), first);
    std::string manager = In("journalctl -q -o cat --no-pager -u watched | grep -c 'Watchdog timeout'").out;
    EXPECT_NE(Trim(manager), "0");
}

TEST_F(SystemdE2e, AHangingOnStopIsEndedByTheStopBoundWithOneLine) {
    Install("hangs", {"stoptimeout=3", "stderr=inherit"}, "hang-stop");
    ASSERT_EQ(In("systemctl start hangs").exitCode, 0) << Journal();
    auto begin = std::chrono::steady_clock::now();
    In("systemctl stop hangs", 30);
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, std::chrono::seconds(3));
    EXPECT_LT(took, std::chrono::seconds(8));
    EXPECT_TRUE(tvxtest::FileExists(Mark("stopped")));
    EXPECT_EQ(Show("ActiveState"), "failed") << "a stop that hung is not a clean stop";
    std::string journal = Journal();
    EXPECT_NE(journal.find("hangs: the stop did not end within 3 seconds (stoptimeout): the application's onStop did "
                           "not return; the process is ended."),
              std::string::npos)
        << journal;
    In("systemctl reset-failed hangs");
}

// Every "out N" line from 0 to the last one, exactly once, across `text`.
bool EveryLineOnce(const std::string& text, const std::string& prefix, long& last) {
    std::vector<char> seen;
    size_t at = 0;
    last = -1;
    while ((at = text.find(prefix, at)) != std::string::npos) {
        if (at > 0 && text[at - 1] != '\n') {
            ++at;
            continue;
        }
        long n = std::stol(text.substr(at + prefix.size()));
        if (n >= static_cast<long>(seen.size())) seen.resize(n + 1, 0);
        if (seen[n]++) return false;
        if (n > last) last = n;
        at += prefix.size();
    }
    for (long n = 0; n <= last; ++n) {
        if (!seen[n]) return false;
    }
    return last >= 0;
}

TEST_F(SystemdE2e, LogrotateWithCreateAndPostrotateHangupLosesNoLine) {
    Install("rotated", {"stdout=/srv/tvx/rotated/app.log", "stderr=/srv/tvx/rotated/app.log", "servicerestart=no"},
            "chatter");
    ASSERT_EQ(In("systemctl start rotated").exitCode, 0) << Journal();
    tvxtest::WriteFile(machine->app() + "/rotated/logrotate.conf",
                       "/srv/tvx/rotated/app.log {\n"
                       "    rotate 5\n"
                       "    create 0640 root root\n"
                       "    missingok\n"
                       "    postrotate\n"
                       "        systemctl kill -s HUP rotated.service\n"
                       "    endscript\n"
                       "}\n");
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        tvxtest::RunResult r =
            In("logrotate -f -s /srv/tvx/rotated/logrotate.state /srv/tvx/rotated/logrotate.conf");
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    tvxtest::WriteFile(Mark("quiet"), "");
    ASSERT_EQ(machine->WaitFor("test -e /srv/tvx/rotated/marks/quiet-seen && echo yes", "yes", 10), "yes");
    EXPECT_EQ(Show("ActiveState"), "active") << "SIGHUP ended the service";
    std::string all;
    for (const char* file : {"app.log.3", "app.log.2", "app.log.1", "app.log"}) {
        std::string path = machine->app() + "/rotated/" + file;
        ASSERT_TRUE(tvxtest::FileExists(path)) << file;
        all += tvxtest::ReadFile(path);
    }
    std::string fresh = tvxtest::ReadFile(machine->app() + "/rotated/app.log");
    EXPECT_FALSE(fresh.empty()) << "nothing was written into the file logrotate created";
    long lastOut = 0, lastErr = 0;
    EXPECT_TRUE(EveryLineOnce(all, "out ", lastOut));
    EXPECT_TRUE(EveryLineOnce(all, "err ", lastErr));
    EXPECT_GT(lastOut, 200);
}

TEST_F(SystemdE2e, TheLauncherRotatesBySizeKeepingTheNewestFiles) {
    Install("sized", {"stdout=/srv/tvx/sized/app.log", "stderr=/srv/tvx/sized/err.log", "logmaxsize=8K",
                      "logkeep=2", "servicerestart=no"},
            "chatter");
    ASSERT_EQ(In("systemctl start sized").exitCode, 0) << Journal();
    std::string dir = machine->app() + "/sized/";
    machine->WaitFor("test -e /srv/tvx/sized/app.log.2 && test -e /srv/tvx/sized/err.log.2 && echo yes", "yes", 15);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    tvxtest::WriteFile(Mark("quiet"), "");
    ASSERT_EQ(machine->WaitFor("test -e /srv/tvx/sized/marks/quiet-seen && echo yes", "yes", 10), "yes");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // one more look by the launcher
    for (const char* base : {"app.log", "err.log"}) {
        EXPECT_TRUE(tvxtest::FileExists(dir + base + ".2")) << base;
        EXPECT_FALSE(tvxtest::FileExists(dir + base + ".3")) << base;
        struct stat st;
        ASSERT_EQ(stat((dir + base + ".1").c_str(), &st), 0);
        EXPECT_LT(st.st_size, 64 * 1024) << "rotated near the size";
        std::string kept = tvxtest::ReadFile(dir + base + ".2") + tvxtest::ReadFile(dir + base + ".1") +
                           tvxtest::ReadFile(dir + base);
        // The kept files hold a contiguous run of lines up to the last.
        std::string prefix = std::string(base) == "app.log" ? "out " : "err ";
        size_t first = kept.find(prefix);
        ASSERT_NE(first, std::string::npos);
        long from = std::stol(kept.substr(first + prefix.size()));
        long expected = from;
        size_t at = first;
        bool contiguous = true;
        while ((at = kept.find(prefix, at)) != std::string::npos) {
            contiguous = contiguous && std::stol(kept.substr(at + prefix.size())) == expected++;
            at += prefix.size();
        }
        EXPECT_TRUE(contiguous) << base;
        EXPECT_GT(expected - from, 100);
    }
}

}  // namespace

namespace {

// A service package: installed, upgraded, removed and purged with apt-get
// under the real systemd; a client talks to the server over TCP.
class ServicePackage : public SystemdE2e {};

TEST_F(ServicePackage, InstallsRunsAsItsUserKeepsDataAndConffileOnUpgradeAndPurgeLeavesNothing) {
    for (const char* version : {"1.0", "1.1"}) {
        tvxtest::RunResult packed = tvxtest::Run(
            {tvxtest::BinDir() + "/tvx-pack", "--deb", "--service", "--version", version, "--maintainer",
             "Ann Example <ann@example.com>", "--set", "minjre 17", "-o",
             machine->app() + "/counter_" + version + "_amd64.deb", tvxtest::TestJarsDir() + "/systemd-counter.jar"});
        ASSERT_EQ(packed.exitCode, 0) << packed.out << packed.err;
    }
    name_ = "counter";
    const std::string apt = "DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=60 -y -q ";
    const std::string talk = "bash -c 'exec 3<>/dev/tcp/127.0.0.1/7070 && echo \"$0\" >&3 && head -n 1 <&3'";
    // A container's policy-rc.d forbids starting services; this root is the
    // booted overlay's own, where they run.
    ASSERT_EQ(In("rm -f /usr/sbin/policy-rc.d").exitCode, 0);
    tvxtest::RunResult r = In("cd /srv/tvx && " + apt + "install ./counter_1.0_amd64.deb", 120);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(Show("ActiveState"), "active") << r.out << Journal();
    EXPECT_EQ(Trim(In("systemctl is-enabled counter").out), "enabled");
    EXPECT_EQ(Trim(In("ps -o user= -p " + Show("MainPID")).out), "counter");
    EXPECT_EQ(machine->WaitFor(talk + " first", "hello counter 1", 15), "hello counter 1") << Journal();
    EXPECT_EQ(Trim(In(talk + " second").out), "hello counter 2");
    EXPECT_EQ(Trim(In("stat -c %U /var/lib/counter/counter.data").out), "counter");

    // The administrator's edit of the conffile and the data outlive an upgrade.
    ASSERT_EQ(In("echo 'property=counter.greeting=edited' >> /etc/counter/counter.cfg").exitCode, 0);
    std::string before = Show("MainPID");
    r = In("cd /srv/tvx && " + apt + "install ./counter_1.1_amd64.deb", 120);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(Trim(In("dpkg-query -W -f '${Version}' counter").out), "1.1");
    EXPECT_NE(Show("MainPID"), before) << "not restarted on upgrade";
    EXPECT_EQ(machine->WaitFor(talk + " third", "edited counter 3", 15), "edited counter 3") << Journal();
    // The first version's run left its startup cache (tvx-pack's default) in
    // the unit's cache directory, the service user's.
    EXPECT_EQ(Trim(In("stat -c %U /var/cache/counter/tvx/*.jsa").out), "counter") << Journal();

    r = In(apt + "remove counter", 120);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(Show("ActiveState"), "inactive");
    EXPECT_NE(In(talk + " gone").exitCode, 0) << "still answering after removal";
    EXPECT_EQ(Trim(In("cat /var/lib/counter/counter.data | wc -l").out), "3") << "removal kept the state";

    r = In(apt + "purge counter", 120);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(In("getent passwd counter").exitCode, 0) << "the user is left";
    EXPECT_NE(In("getent group counter").exitCode, 0) << "the group is left";
    EXPECT_EQ(Trim(In("ls -d /var/lib/counter /var/cache/counter /etc/counter /usr/lib/counter /lib/systemd/system/counter.service "
                      "/etc/systemd/system/multi-user.target.wants/counter.service 2>/dev/null | wc -l")
                       .out),
              "0");
}

}  // namespace
