// The start status of the service and its stop requests: the process that
// starts a daemon exits only once the daemon has reached the application's
// main method (0) or failed (the launch result, its message on the starter's
// output); SIGINT stops a service like SIGTERM; a stop requested before the
// virtual machine exists ends the start with its files removed; files go
// with the process however it ends. Each case runs in a ServiceSandbox.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/service/service_sandbox.h"
#include "tests/support/test_support.h"

namespace {

using servicetest::ServiceSandbox;

using servicetest::ProbeJar;

// Files and processes a start may leave: the pid file, the lock file, and a
// launcher still running.
const char kLeftovers[] = R"SH(
ls -A /var/run/probesvc.pid /var/lock/probesvc > "$OUT/left" 2>/dev/null
pgrep -f "^$EXE" > "$OUT/running"
exit 0
)SH";

struct StartRow {
    const char* what;
    std::vector<std::string> settings;
    std::vector<std::string> packArgs;
    const char* status;
    const char* output;  // what the starter prints after "Service ... "
};

void PrintTo(const StartRow& row, std::ostream* os) { *os << row.what; }

class StartStatus : public ::testing::TestWithParam<StartRow> {};

TEST_P(StartStatus, TheStarterExitsWithTheOutcomeOfTheStart) {
    const StartRow& row = GetParam();
    ServiceSandbox box(ProbeJar(), "probesvc", row.settings, row.packArgs);
    auto r = box.Run(std::string(R"SH(
unset JAVA_HOME JRE_HOME
run_exe start
# The starter has returned: a started daemon has its pid file already.
[ -e /var/run/probesvc.pid ] && cat /var/run/probesvc.pid > "$OUT/pidfile"
if [ -s "$OUT/pidfile" ]; then
  pid=$(cat "$OUT/pidfile"); track "$pid"
  wait_file "$T/probe-report.txt" || exit 1
  kill -TERM "$pid"; wait_gone "$pid" || exit 1
fi
)SH") + kLeftovers);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("start.rc"), row.status);
    EXPECT_EQ(box.Read("start.out"), std::string("Service ... ") + row.output);
    EXPECT_EQ(tvxtest::FileExists(box.out("pidfile")), std::string(row.status) == "0");
    EXPECT_EQ(box.Read("left"), "") << "pid file or lock file left behind";
    EXPECT_EQ(box.Read("running"), "") << "a launcher still runs";
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, StartStatus,
    ::testing::Values(StartRow{"Started", {}, {}, "0", ""},
                      StartRow{"NoRuntime", {"jvmdll=/nonexistent/libjvm.so"}, {}, "1",
                               "Java Runtime Environment not found.\n"},
                      StartRow{"NoMainClass", {}, {"--main", "servicetest.Missing"}, "7",
                               "The main startup class could not be found.\nMain class servicetest.Missing: "
                               "java.lang.NoClassDefFoundError: servicetest/Missing\n"}),
    [](const ::testing::TestParamInfo<StartRow>& info) { return std::string(info.param.what); });

// Two starts at the same moment, several times: exactly one exits 0, the
// other exits non-zero and says that the lock is taken.
TEST(SimultaneousStart, ExactlyOneOfTwoStartsSucceeds) {
    const int rounds = 4;
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run("ROUNDS=" + std::to_string(rounds) + R"SH(
for i in $(seq "$ROUNDS"); do
  run_exe a$i &
  run_exe b$i &
  wait
  pid=$(cat /var/run/probesvc.pid 2>/dev/null)
  [ -n "$pid" ] || { echo "round $i: no pid file" >&2; exit 1; }
  printf %s "$pid" > "$OUT/pid$i"
  track "$pid"
  wait_file "$T/probe-report.txt" || exit 1
  kill -TERM "$pid"; wait_gone "$pid" || exit 1
  rm -f "$T/probe-report.txt" "$T/probe-stopped.txt"
done
)SH" + kLeftovers);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int i = 1; i <= rounds; ++i) {
        SCOPED_TRACE("round " + std::to_string(i));
        std::string a = box.Read("a" + std::to_string(i) + ".rc");
        std::string b = box.Read("b" + std::to_string(i) + ".rc");
        ASSERT_TRUE((a == "0") != (b == "0")) << "statuses " << a << " and " << b;
        std::string loser = a == "0" ? "b" : "a";
        EXPECT_EQ(box.Read(loser + std::to_string(i) + ".out"),
                  "Service ... The service is running: process " + box.Read("pid" + std::to_string(i)) +
                      " holds its lock /var/lock/probesvc.\nERROR: Acquire lock failed.\n");
    }
    EXPECT_EQ(box.Read("left"), "");
    EXPECT_EQ(box.Read("running"), "");
}

// SIGINT is a stop request like SIGTERM, on both service roads: onStop runs,
// the files go, and the runtime ends the process (128 + the signal).
TEST(StopSignal, SigintStopsTheServiceLikeSigterm) {
    struct Row {
        const char* signal;
        const char* status;
    } rows[] = {{"INT", "130"}, {"TERM", "143"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.signal);
        ServiceSandbox box(ProbeJar(), "probesvc");
        auto r = box.Run(std::string("SIG=") + row.signal + R"SH(
# A background job of a script starts with SIGINT ignored; a service started
# from a terminal does not.
env --default-signal=INT PATH="$LPATH" "$EXE" -no-daemon >"$OUT/fg.out" 2>&1 </dev/null &
pid=$!; track "$pid"
wait_file "$T/probe-report.txt" || exit 1
kill -$SIG "$pid"; wait "$pid"; echo $? > "$OUT/fg.rc"
mv "$T/probe-stopped.txt" "$OUT/fg.stopped"; rm "$T/probe-report.txt"
env --default-signal=INT PATH="$LPATH" "$EXE" >"$OUT/daemon.out" 2>&1 </dev/null
pid=$(cat /var/run/probesvc.pid); track "$pid"
wait_file "$T/probe-report.txt" || exit 1
kill -$SIG "$pid"; wait_gone "$pid" || exit 1
mv "$T/probe-stopped.txt" "$OUT/daemon.stopped"
)SH" + kLeftovers);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(box.Read("fg.rc"), row.status);
        EXPECT_EQ(box.Read("fg.stopped"), "stopped on Service stop\n");
        EXPECT_EQ(box.Read("daemon.out"), "Service ... ");
        EXPECT_EQ(box.Read("daemon.stopped"), "stopped on Service stop\n");
        EXPECT_EQ(box.Read("left"), "") << "pid file or lock file left behind";
        EXPECT_EQ(box.Read("running"), "");
    }
}

// A stop request while the virtual machine is being created (held at a gate
// by a stand-in runtime library): the application's main never runs, the
// files go, and the status is 143, for the foreground and the daemon road
// (whose starter reports it).
TEST(EarlyStop, AStopBeforeTheVirtualMachineEndsTheStartCleanly) {
    ServiceSandbox box(ProbeJar(), "probesvc", {std::string("jvmdll=") + TVX_TEST_LIB_DIR + "/gated_jvm.so"});
    auto r = box.Run("export TVX_REAL_JVM=" + tvxtest::JavaHome() + "/lib/server/libjvm.so" + R"SH(
export TVX_GATE="$T/gate"
PATH="$LPATH" "$EXE" -no-daemon >"$OUT/fg.out" 2>&1 </dev/null &
pid=$!; track "$pid"
wait_file "$T/gate.waiting" || exit 1
kill -TERM "$pid"; touch "$T/gate"
wait "$pid"; echo $? > "$OUT/fg.rc"
rm -f "$T/gate" "$T/gate.waiting"
run_exe daemon &
starter=$!
wait_file "$T/gate.waiting" || exit 1
pid=$(cat /var/run/probesvc.pid); track "$pid"
kill -TERM "$pid"; touch "$T/gate"
wait "$starter"
wait_gone "$pid" || exit 1
)SH" + kLeftovers);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("fg.rc"), "143");
    EXPECT_EQ(box.Read("daemon.rc"), "143");
    EXPECT_EQ(box.Read("daemon.out"), "Service ... ");
    EXPECT_FALSE(tvxtest::FileExists(box.dir() + "/probe-report.txt")) << "main ran";
    EXPECT_EQ(box.Read("left"), "") << "pid file or lock file left behind";
    EXPECT_EQ(box.Read("running"), "");
}

// The application ends the process itself with System.exit: the pid file and
// the lock file go with it.
TEST(EarlyStop, SystemExitOfTheApplicationRemovesTheFiles) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(std::string(R"SH(
run_exe fg -no-daemon exit-main
)SH") + kLeftovers);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("fg.rc"), "3");
    EXPECT_EQ(box.Read("left"), "") << "pid file or lock file left behind";
}

}  // namespace
