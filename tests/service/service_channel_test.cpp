// "custom" single-instance mode on the daemon road: the channel is started
// before the launcher detaches, so the detached child must take its
// starter's place (pid, ownership) and run a receive thread of its own.
#include <gtest/gtest.h>

#include <string>

#include "tests/service/service_sandbox.h"
#include "tests/support/test_support.h"

namespace {

TEST(DaemonChannel, DetachedChildOwnsTheChannelAndReceives) {
    servicetest::ServiceSandbox box(tvxtest::TestJarsDir() + "/instance-apps.jar", "chansvc",
                                    {"singleinstance custom"}, {"--main", "instancetest.ChannelApp"});
    auto r = box.Run(R"SH(
run_exe start "$T" D recv ready hold
wait_file "$T/D.info" || exit 1
pid=$(cat /var/run/chansvc.pid); track "$pid"
echo "$pid" > "$OUT/pid"
step sender "$EXE" -test "$T" C ready send:D:string:5 send:first:string:3 flush
for i in $(seq 600); do [ "$(cat "$T/D.log" 2>/dev/null | wc -l)" = 2 ] && break; sleep 0.1; done
cp "$T/D.log" "$OUT/log" 2>/dev/null
touch "$T/stop"
wait_gone "$pid" || exit 1
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err << box.Read("start.err");
    EXPECT_EQ(box.Read("start.rc"), "0");
    EXPECT_EQ(box.Read("sender.rc"), "0") << box.Read("sender.out") << box.Read("sender.err");
    std::string pid = box.Read("pid");
    while (!pid.empty() && pid.back() == '\n') pid.pop_back();
    std::string info = tvxtest::ReadFile(box.dir() + "/D.info");
    EXPECT_NE(info.find("pid=" + pid + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("current=" + pid + "\n"), std::string::npos) << "registered under the daemon's own pid: " << info;
    EXPECT_NE(info.find("first=" + pid + "\n"), std::string::npos) << "owner where its starter was: " << info;
    EXPECT_NE(info.find("instances=" + pid + "\n"), std::string::npos) << "the starter is gone from the table: " << info;
    std::string log = box.Read("log");
    EXPECT_NE(log.find("class=java.lang.String len=5"), std::string::npos) << log;
    EXPECT_NE(log.find("class=java.lang.String len=3"), std::string::npos) << "sent to the first instance: " << log;
}

}  // namespace
