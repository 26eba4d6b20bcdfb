// A real server application run as a service: Debian's H2 database server,
// packed with tvx-pack, started as a daemon through the launcher, used by
// H2's own command-line client over TCP, stopped with SIGTERM, started again
// to show its data survived, and stopped with nothing left behind.
#include <gtest/gtest.h>

#include <string>

#include "tests/service/service_sandbox.h"
#include "tests/support/test_support.h"

namespace {

const char kH2Jar[] = "/usr/share/java/h2.jar";

TEST(H2Service, ServesClientsAsADaemonAndLeavesNothingBehind) {
    ASSERT_TRUE(tvxtest::FileExists(kH2Jar)) << "needs Debian's libh2-java (cmake/install-deps.sh)";
    int port = servicetest::FreeLocalPort();
    ASSERT_GT(port, 0);
    servicetest::ServiceSandbox box(kH2Jar, "h2svc", {}, {"--main", "org.h2.tools.Server"});

    std::string body = "PORT=" + std::to_string(port) + "\nH2=" + kH2Jar + R"SH(
sql() { java -cp "$H2" org.h2.tools.Shell -url "jdbc:h2:tcp://127.0.0.1:$PORT/svcdb" -user sa -password secret -sql "$1"; }
wait_port() { local i; for i in $(seq 600); do (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && return 0; sleep 0.1; done; return 1; }
# serve N: starts the daemon, waits for its port, records its pid
serve() {
  run_exe "start$1" -tcp -tcpPort "$PORT" -ifNotExists -baseDir "$T/db"
  wait_file /var/run/h2svc.pid || exit 1
  pid=$(cat /var/run/h2svc.pid); track "$pid"
  wait_port || { echo "no server on $PORT" >&2; exit 1; }
  [ -e /var/lock/h2svc ] && echo present > "$OUT/lock$1"
}
# stop N: SIGTERM, then what is left in /var/run and /var/lock
stop() {
  kill -TERM "$pid"
  wait_gone "$pid" || exit 1
  ls -A /var/run/h2svc.pid /var/lock/h2svc > "$OUT/left$1" 2>/dev/null
}
# The database lives on a tmpfs: a 32-bit ARM runtime under qemu-user lists
# ext4 directories with the host's 64-bit offsets and fails with EOVERFLOW,
# which a real 32-bit kernel never hands it.
mkdir -p "$T/db" && mount -t tmpfs tvx-h2-db "$T/db" || exit 1
serve 1
step create sql "CREATE TABLE t(id INT PRIMARY KEY, name VARCHAR(100)); INSERT INTO t VALUES (1, 'launched as a service'); SELECT name FROM t WHERE id = 1"
stop 1
serve 2
step query sql "SELECT name FROM t WHERE id = 1"
stop 2
exit 0
)SH";
    auto r = box.Run(body);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* n : {"1", "2"}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(box.Read(std::string("start") + n + ".rc"), "0");
        EXPECT_EQ(box.Read(std::string("start") + n + ".out"), "Service ... ");
        EXPECT_EQ(box.Read(std::string("lock") + n), "present\n");
        EXPECT_EQ(box.Read(std::string("left") + n), "") << "pid file or lock file left behind";
    }
    EXPECT_EQ(box.Read("create.rc"), "0") << box.Read("create.err");
    EXPECT_NE(box.Read("create.out").find("launched as a service\n(1 row"), std::string::npos) << box.Read("create.out");
    EXPECT_EQ(box.Read("query.rc"), "0") << box.Read("query.err");
    EXPECT_NE(box.Read("query.out").find("launched as a service\n(1 row"), std::string::npos) << box.Read("query.out");
}

}  // namespace
