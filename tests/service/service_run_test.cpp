// The service road end to end: a packed Java application run as a daemon,
// in the foreground with -no-daemon and with -test; its lock, pid file and
// stop handling; the help text. Every run that touches /var/run or /var/lock
// happens inside a ServiceSandbox.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/service/service_sandbox.h"
#include "tests/support/test_support.h"

namespace {

using servicetest::ServiceSandbox;

using servicetest::ProbeJar;

std::string Report(bool service, const std::string& args, const std::string& command) {
    return std::string("service=") + (service ? "true" : "false") + "\nargs=" + args + "\ncommand=" + command +
           "\nsame=true\nstartup=0\n";
}

// Lock file location: /var/lock/subsys/ when that directory is readable.
struct LockRow {
    const char* what;
    bool subsys;
    const char* lockDir;
};

void PrintTo(const LockRow& row, std::ostream* os) { *os << row.what; }

class Daemon : public ::testing::TestWithParam<LockRow> {};

TEST_P(Daemon, DetachesHoldsTheLockAndStopsCleanlyOnSigterm) {
    const LockRow& row = GetParam();
    ServiceSandbox box(ProbeJar(), "probesvc");
    std::string lock = std::string(row.lockDir) + "probesvc";
    auto r = box.Run(std::string(row.subsys ? "mkdir -p /run/lock/subsys\n" : "") + "LOCK=" + lock + R"SH(
run_exe start one "two words" -x
wait_file "$T/probe-report.txt" || exit 1
pid=$(cat /var/run/probesvc.pid); track "$pid"
cp /var/run/probesvc.pid "$OUT/pidfile"
kill -0 "$pid" && echo alive > "$OUT/alive"
# daemon(): a session of its own, no longer a child of this shell
awk '{print $6}' "/proc/$pid/stat" > "$OUT/session"
echo "$pid" > "$OUT/pid"
[ -e "$LOCK" ] && echo present > "$OUT/lock-while-running"
run_exe second
kill -TERM "$pid"
wait_gone "$pid" || exit 1
ls -A /var/run/probesvc.pid "$LOCK" > "$OUT/left" 2>/dev/null
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("start.rc"), "0");
    EXPECT_EQ(box.Read("start.out"), "Service ... ");
    EXPECT_EQ(tvxtest::ReadFile(box.dir() + "/probe-report.txt"), Report(true, "<one><two words><-x>", "<one><two words><-x>"));

    std::string pid = box.Read("pid");
    EXPECT_EQ(box.Read("pidfile"), pid);
    EXPECT_EQ(box.Read("alive"), "alive\n");
    EXPECT_EQ(box.Read("session"), pid) << "the daemon leads its own session";
    EXPECT_EQ(box.Read("lock-while-running"), "present\n");

    EXPECT_EQ(box.Read("second.rc"), "1");
    EXPECT_EQ(box.Read("second.out"), "Service ... The service is running: process " + pid.substr(0, pid.find('\n')) + " holds its lock " + lock +
                                          ".\nERROR: Acquire lock failed.\n");

    EXPECT_EQ(tvxtest::ReadFile(box.dir() + "/probe-stopped.txt"), "stopped on Service stop\n");
    EXPECT_EQ(box.Read("left"), "") << "pid file or lock file left behind";
}

// Starting the daemon from a command substitution returns as soon as the
// starter exits: the detached daemon keeps nothing of the caller's pipe.
TEST(DaemonOutput, ReleasesTheStartersOutput) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(R"SH(
PATH="$LPATH" "$EXE" start 2>&1 </dev/null | timeout 30 cat > "$OUT/started"
echo "${PIPESTATUS[0]} ${PIPESTATUS[1]}" > "$OUT/status"
wait_file "$T/probe-report.txt" || exit 1
pid=$(cat /var/run/probesvc.pid); track "$pid"
kill -TERM "$pid"
wait_gone "$pid" || exit 1
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("started"), "Service ... ");
    EXPECT_EQ(box.Read("status"), "0 0\n") << "the reader waited for the daemon (124: timed out)";
}

INSTANTIATE_TEST_SUITE_P(LockPlaces, Daemon,
                         ::testing::Values(LockRow{"VarLock", false, "/var/lock/"},
                                           LockRow{"Subsys", true, "/var/lock/subsys/"}),
                         [](const ::testing::TestParamInfo<LockRow>& info) { return std::string(info.param.what); });

// -no-daemon keeps the service in the foreground with the arguments after the
// option; SIGTERM reaches onStop and the runtime then ends the process with 143,
// whether the Java main method still runs or has already returned.
TEST(NoDaemon, RunsInTheForegroundAndEndsWith143OnSigterm) {
    struct Row {
        std::string args;
        std::string expected;
    } rows[] = {
        {"a b", "<a><b>"},
        {"return-main", "<return-main>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        if (row.args == "return-main" && tvxtest::ZeroVmUnderEmulation())
            GTEST_SKIP() << "the Zero VM under qemu-i386 aborts when SIGTERM arrives while DestroyJavaVM waits "
                            "after main returned (the server VM, natively, ends with 143)";
        ServiceSandbox box(ProbeJar(), "probesvc");
        auto r = box.Run(R"SH(
PATH="$LPATH" "$EXE" dropped -no-daemon )SH" + row.args + R"SH( >"$OUT/run.out" 2>"$OUT/run.err" </dev/null &
pid=$!; track "$pid"; echo "$pid" > "$OUT/pid"
wait_file "$T/probe-report.txt" || exit 1
cp /var/run/probesvc.pid "$OUT/pidfile"
[ -e /var/lock/probesvc ] && echo present > "$OUT/lock-while-running"
kill -TERM "$pid"
wait "$pid"; echo $? > "$OUT/run.rc"
ls -A /var/run/probesvc.pid /var/lock/probesvc > "$OUT/left" 2>/dev/null
exit 0
)SH");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(box.Read("run.rc"), "143");
        EXPECT_EQ(box.Read("run.out"), "Service ... ");
        EXPECT_EQ(box.Read("pidfile"), box.Read("pid"));
        EXPECT_EQ(box.Read("lock-while-running"), "present\n");
        EXPECT_EQ(tvxtest::ReadFile(box.dir() + "/probe-report.txt"), Report(true, row.expected, row.expected));
        EXPECT_EQ(tvxtest::ReadFile(box.dir() + "/probe-stopped.txt"), "stopped on Service stop\n");
        EXPECT_EQ(box.Read("left"), "") << "pid file or lock file left behind";
    }
}

// -test runs the application directly: not as a service, no lock, no pid file,
// and getCommandLineArguments is empty. An argument that begins with the
// option's name selects it too; the "interactive" forms are passed over.
TEST(TestMode, RunsTheApplicationOutsideServiceControl) {
    struct Row {
        const char* args;
        const char* expected;
    } rows[] = {
        {"before -test x \"y z\"", "<x><y z>"},
        {"-TESTrun x", "<x>"},
        {"-interactive /inter -test x", "<x>"},
    };
    ServiceSandbox box(ProbeJar(), "probesvc");
    std::string body;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        std::string n = std::to_string(i);
        body += "run_exe test" + n + " " + rows[i].args + "\nmv \"$T/probe-report.txt\" \"$OUT/report" + n + "\"\n";
    }
    auto r = box.Run(body + R"SH(
ls -A /var/run/probesvc.pid /var/lock/probesvc > "$OUT/left" 2>/dev/null
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        SCOPED_TRACE(rows[i].args);
        std::string n = std::to_string(i);
        EXPECT_EQ(box.Read("test" + n + ".rc"), "0");
        EXPECT_EQ(box.Read("test" + n + ".out"), "");
        EXPECT_EQ(box.Read("report" + n), Report(false, rows[i].expected, ""));
    }
    EXPECT_FALSE(tvxtest::FileExists(box.dir() + "/probe-stopped.txt"));
    EXPECT_EQ(box.Read("left"), "") << "no pid file or lock file under -test";
}

// A main method that throws fails the run on every road: -test and
// -no-daemon exit with 70 (what an init system's Restart=on-failure sees),
// the daemon's start succeeded (main was reached) and the daemon then ends
// and cleans up; the runtime's description and the one line are in the log.
TEST(ExceptionEnding, AThrowingMainFailsOnEveryRoad) {
    struct Row {
        const char* road;
        const char* args;
        const char* status;  // of the command started
        const char* out;     // its standard output
    } rows[] = {
        {"test", "-test throw-main", "70",
         "The application ended with an exception: java.lang.IllegalStateException: probe thrown\n"},
        // Standard output of the service roads is /dev/null: the line still
        // reaches the terminal or journal that started the service.
        {"no-daemon", "-no-daemon throw-main", "70",
         "Service ... The application ended with an exception: java.lang.IllegalStateException: probe thrown\n"},
        {"daemon", "throw-main", "0", "Service ... "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.road);
        ServiceSandbox box(ProbeJar(), "probesvc");
        auto r = box.Run(std::string("run_exe run ") + row.args + R"SH(
for i in $(seq 300); do [ -e /var/run/probesvc.pid ] || [ -e /var/lock/probesvc ] || break; sleep 0.1; done
ls -A /var/run/probesvc.pid /var/lock/probesvc > "$OUT/left" 2>/dev/null
cp "$EXE.stderr.log" "$OUT/log"
exit 0
)SH");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(box.Read("run.rc"), row.status);
        EXPECT_EQ(box.Read("run.out"), row.out);
        const std::string log = box.Read("log");
        EXPECT_NE(log.find("java.lang.IllegalStateException: probe thrown\n\tat servicetest.ServiceProbe.main"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("The application ended with an exception: java.lang.IllegalStateException: probe thrown\n"),
                  std::string::npos)
            << log;
        EXPECT_EQ(box.Read("left"), "");
    }
}

// Installing or removing while the service runs is refused with 277.
TEST(RunningService, InstallAndUninstallAreDeniedWhileItRuns) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(R"SH(
run_exe start
wait_file "$T/probe-report.txt" || exit 1
pid=$(cat /var/run/probesvc.pid); track "$pid"; printf %s "$pid" > "$OUT/pid"
run_exe install -install
run_exe uninstall -uninstall
ls -A /usr/lib/systemd/system/probesvc.service > "$OUT/unit" 2>&1
kill -TERM "$pid"; wait_gone "$pid" || exit 1
run_exe install-after -install
)SH",
                     servicetest::InitSystem::SystemD);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The line before the result says why access was denied: who holds the lock.
    const std::string holder =
        "The service is running: process " + box.Read("pid") + " holds its lock /var/lock/probesvc.\n";
    EXPECT_EQ(box.Read("install.rc"), std::to_string(277 & 0xFF));
    EXPECT_EQ(box.Read("install.out"), holder + "Service 'probesvc' install failed, the requested access was denied.\n\n");
    EXPECT_EQ(box.Read("uninstall.rc"), std::to_string(277 & 0xFF));
    EXPECT_EQ(box.Read("uninstall.out"),
              holder + "Service 'probesvc' uninstall failed, the requested access was denied.\n\n");
    EXPECT_NE(box.Read("unit").find("No such file"), std::string::npos);
    EXPECT_EQ(box.Read("install-after.rc"), "0");
}

// TVX_EXPLAIN=dry on the service roads explains in the foreground beside the
// running service: no lock refusal, no detaching, and the service's pid file
// and lock stay the running process's.
TEST(RunningService, ADryRunBesideItLeavesItsFilesAlone) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(R"SH(
run_exe start
wait_file "$T/probe-report.txt" || exit 1
pid=$(cat /var/run/probesvc.pid); track "$pid"; printf %s "$pid" > "$OUT/pid"
TVX_EXPLAIN=dry run_exe nodaemon -no-daemon
TVX_EXPLAIN=dry run_exe daemon
cat /var/run/probesvc.pid > "$OUT/pid-after"
kill -0 "$pid" && echo alive > "$OUT/alive"
kill -TERM "$pid"; wait_gone "$pid" || exit 1
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    struct Row {
        const char* run;
        const char* road;
    } rows[] = {{"nodaemon", "-no-daemon"}, {"daemon", "daemon"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.run);
        const std::string err = box.Read(std::string(row.run) + ".err");
        EXPECT_EQ(box.Read(std::string(row.run) + ".rc"), "0") << err;
        EXPECT_NE(err.find(std::string("tvx-explain: dry run of the ") + row.road + " road"), std::string::npos) << err;
        EXPECT_NE(err.find("tvx-explain: dry run: stops before creating the virtual machine"), std::string::npos)
            << err;
        const std::string out = box.Read(std::string(row.run) + ".out");
        EXPECT_EQ(out.find("lock"), std::string::npos) << out;
        EXPECT_EQ(out.find("Service ..."), std::string::npos) << out;
    }
    EXPECT_EQ(box.Read("pid-after"), box.Read("pid") + "\n");
    EXPECT_EQ(box.Read("alive"), "alive\n");
}

// Runs the launcher once per argument line inside the sandbox; returns the
// standard output of each run, failing on a non-zero status.
std::vector<std::string> RunEach(ServiceSandbox& box, const std::vector<std::string>& argLines) {
    std::string body;
    for (size_t i = 0; i < argLines.size(); ++i) body += "run_exe run" + std::to_string(i) + " " + argLines[i] + "\n";
    auto r = box.Run(body);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> outputs;
    for (size_t i = 0; i < argLines.size(); ++i) {
        EXPECT_EQ(box.Read("run" + std::to_string(i) + ".rc"), "0") << argLines[i];
        outputs.push_back(box.Read("run" + std::to_string(i) + ".out"));
    }
    return outputs;
}

// Every spelling of the help option prints the usage text and two newlines.
TEST(Help, EveryHelpSpellingPrintsTheUsage) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    const std::vector<std::string> spellings = {"-help", "--help", "/help", "-h",    "/h",
                                                "'-?'",  "'/?'",   "-HELP", "-hfoo", "x -h -test", "-interactive /inter -h"};
    std::vector<std::string> outputs = RunEach(box, spellings);
    for (size_t i = 0; i < spellings.size(); ++i)
        EXPECT_EQ(outputs[i], "Service type application.\n\nUse /install to install service.\n\n") << spellings[i];
}

// A "message" override is the format of the printed text only when it holds
// nothing but one "%s"; anything else is printed as it stands.
TEST(Help, MessageOverridesAreNeverUsedAsFormats) {
    struct Row {
        const char* override;
        const char* printed;
    } rows[] = {
        {"Run %s with care.", "Run probesvc with care."},
        {"Usage: %n%n%x %p", "Usage: %n%n%x %p"},
        {"%s and %s", "%s and %s"},
        {"%d services", "%d services"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.override);
        ServiceSandbox box(ProbeJar(), "probesvc", {std::string("message=1024=") + row.override});
        std::vector<std::string> outputs = RunEach(box, {"-help"});
        EXPECT_EQ(outputs[0], std::string(row.printed) + "\n\n");
    }
}

}  // namespace
