// Outside systemd, on the daemon road: a stop whose onStop hangs is ended by
// the stoptimeout bound with one line in the log, its files removed; SIGHUP
// reopens the log files instead of ending the service, and without the new
// settings nothing of this applies (a hanging onStop just hangs).
#include <gtest/gtest.h>

#include <string>

#include "tests/service/service_sandbox.h"
#include "tests/support/test_support.h"

namespace {

using servicetest::ServiceSandbox;

// The systemd tests' probe, which can hang in onStop.
std::string HangingProbeJar() { return tvxtest::TestJarsDir() + "/systemd-probe.jar"; }

TEST(StopBound, AHangingOnStopEndsAfterTheBoundWithOneLine) {
    ServiceSandbox box(HangingProbeJar(), "boundsvc", {"stoptimeout=2"});
    auto r = box.Run(R"SH(
run_exe start hang-stop
wait_file "$T/marks/initialised" || exit 1
pid=$(cat /var/run/boundsvc.pid); track "$pid"
sleep 0.5
start=$(date +%s%N)
kill -TERM "$pid"
wait_gone "$pid" || exit 1
echo $(( ($(date +%s%N) - start) / 1000000 )) > "$OUT/took-ms"
ls -A /var/run/boundsvc.pid /var/lock/boundsvc > "$OUT/left" 2>/dev/null
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("start.rc"), "0");
    EXPECT_TRUE(tvxtest::FileExists(box.dir() + "/marks/stopped"));
    int took = std::stoi(box.Read("took-ms"));
    EXPECT_GE(took, 2000);
    EXPECT_LT(took, 6000);
    EXPECT_EQ(box.Read("left"), "") << "pid file or lock file left behind";
    std::string log = tvxtest::ReadFile(box.exe() + ".stderr.log");
    EXPECT_NE(log.find("boundsvc: the stop did not end within 2 seconds (stoptimeout): the application's onStop did "
                       "not return; the process is ended.\n"),
              std::string::npos)
        << log;
}

TEST(StopBound, HangupReopensTheLogInsteadOfEndingTheService) {
    ServiceSandbox box(HangingProbeJar(), "hupsvc", {"stderr=" + std::string("service.log")});
    auto r = box.Run(R"SH(
run_exe start
wait_file "$T/marks/initialised" || exit 1
pid=$(cat /var/run/hupsvc.pid); track "$pid"
sleep 0.5
mv "$T/service.log" "$T/service.log.1"
kill -HUP "$pid"
sleep 1.5
kill -0 "$pid" && echo alive > "$OUT/alive"
[ -e "$T/service.log" ] && echo reopened > "$OUT/reopened"
kill -TERM "$pid"
wait_gone "$pid" || exit 1
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("alive"), "alive\n") << "SIGHUP ended the service";
    EXPECT_EQ(box.Read("reopened"), "reopened\n");
    EXPECT_NE(tvxtest::ReadFile(box.dir() + "/service.log.1").find("probe says hello on standard error"),
              std::string::npos);
}

}  // namespace
