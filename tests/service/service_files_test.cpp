// Files other users can touch and streams nobody reads: the launcher's log,
// pid and lock files are never opened through a symbolic link, a lock held
// by another user is named with its owner, and a message written to a pipe
// without a reader never kills the launcher. Each case runs in a
// ServiceSandbox (private /run, so /var/run and /var/lock are the test's).
#include <gtest/gtest.h>

#include <string>

#include "tests/service/service_sandbox.h"
#include "tests/support/test_support.h"

namespace {

using servicetest::ServiceSandbox;

using servicetest::ProbeJar;

const char kNoRuntime[] = "jvmdll=/nonexistent/libjvm.so";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

std::string SymlinkLine(const std::string& path) {
    return "ERROR: " + path + " is a symbolic link; the launcher does not open its files through one.\n";
}

// The standard output is a pipe whose reader has gone before the launcher
// writes (a FIFO opened once by a reader that then exits): the launch
// failure is still reported by its status, not by death through SIGPIPE,
// and the instance segment goes with the process.
TEST(BrokenPipe, AFailureReportedIntoADeadPipeKeepsItsStatus) {
    ServiceSandbox box(ProbeJar(), "probesvc", {kNoRuntime});
    auto r = box.Run(R"SH(
unset JAVA_HOME JRE_HOME
for mode in -test -no-daemon; do
  rm -f "$T/fifo"; mkfifo "$T/fifo"
  ( exec 0<"$T/fifo" ) &
  exec 3>"$T/fifo"
  wait $!
  PATH="$LPATH" "$EXE" $mode >&3 2>"$OUT/run$mode.err" </dev/null
  echo $? > "$OUT/run$mode.rc"
  exec 3>&-
done
ipcs -m | awk '$1 ~ /^0x/' > "$OUT/segments"
ls -A /var/run/probesvc.pid /var/lock/probesvc > "$OUT/left" 2>/dev/null
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* mode : {"-test", "-no-daemon"}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(box.Read(std::string("run") + mode + ".rc"), "1") << "141 is death by SIGPIPE";
    }
    EXPECT_EQ(box.Read("segments"), "") << "a segment was left behind";
    EXPECT_EQ(box.Read("left"), "");
}

// A symbolic link in place of the log, the pid file or the lock file is not
// followed: its target stays untouched and one line says why.
TEST(Symlink, LogPidAndLockFilesAreNeverOpenedThroughALink) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(R"SH(
unset JAVA_HOME JRE_HOME
# The log: the launcher's standard error stays where it was.
ln -s "$T/log-target" "$EXE.stderr.log"
run_exe log -test
rm "$EXE.stderr.log" "$T/probe-report.txt"
# The pid file: the service runs without it.
ln -s "$T/pid-target" /var/run/probesvc.pid
PATH="$LPATH" "$EXE" -no-daemon >"$OUT/pid.out" 2>"$OUT/pid.err" </dev/null &
pid=$!; track "$pid"
wait_file "$T/probe-report.txt" || exit 1
kill -TERM "$pid"; wait "$pid"; echo $? > "$OUT/pid.rc"
rm -f /var/run/probesvc.pid
# The lock file: the service does not start.
ln -s "$T/lock-target" /var/lock/probesvc
run_exe lock -no-daemon
run_exe install -install
ls -A "$T/log-target" "$T/pid-target" "$T/lock-target" > "$OUT/targets" 2>/dev/null
exit 0
)SH",
                     servicetest::InitSystem::SystemD);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("log.rc"), "0");
    EXPECT_EQ(box.Read("log.err"), SymlinkLine(box.exe() + ".stderr.log"));

    EXPECT_EQ(box.Read("pid.rc"), "143");
    EXPECT_TRUE(Contains(tvxtest::ReadFile(box.exe() + ".stderr.log"), SymlinkLine("/var/run/probesvc.pid")));

    EXPECT_EQ(box.Read("lock.rc"), "1");
    EXPECT_EQ(box.Read("lock.out"), "Service ... " + SymlinkLine("/var/lock/probesvc"));
    EXPECT_EQ(box.Read("install.rc"), std::to_string(277 & 0xFF));

    EXPECT_EQ(box.Read("targets"), "") << "a file was created through a link";
}

// A pid file that cannot be written: the service runs without it and says
// so once, on the daemon road (to the terminal that started it, through the
// starter) as in the foreground (into the log).
TEST(PidFile, AnUnwritablePidFileIsReportedOnce) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(R"SH(
mkdir /var/run/probesvc.pid
PATH="$LPATH" "$EXE" -no-daemon >"$OUT/fg.out" 2>"$OUT/fg.err" </dev/null &
pid=$!; track "$pid"
wait_file "$T/probe-report.txt" || exit 1
kill -TERM "$pid"; wait "$pid"; echo $? > "$OUT/fg.rc"
cp "$EXE.stderr.log" "$OUT/fg.log"; rm -f "$EXE.stderr.log" "$T/probe-report.txt"
run_exe daemon
wait_file "$T/probe-report.txt" || exit 1
PATH="$LPATH" "$EXE" >"$OUT/second.out" 2>/dev/null </dev/null
pid=$(sed -n 's/.*process \([0-9]*\) holds.*/\1/p' "$OUT/second.out"); track "$pid"
kill -TERM "$pid"; wait_gone "$pid" || exit 1
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string line =
        "WARNING: The pid file /var/run/probesvc.pid cannot be written (Is a directory); the service runs without it.\n";
    EXPECT_EQ(box.Read("fg.rc"), "143");
    const std::string log = box.Read("fg.log");
    EXPECT_TRUE(Contains(log, line)) << log;
    EXPECT_FALSE(Contains(log.substr(log.find(line) + 1), line)) << "reported twice: " << log;
    EXPECT_EQ(box.Read("daemon.rc"), "0");
    EXPECT_EQ(box.Read("daemon.out"), "Service ... " + line);
    // Without the pid file the lock still names the running service.
    EXPECT_TRUE(Contains(box.Read("second.out"), "The service is running: process ")) << box.Read("second.out");
}

// A lock file created and held by another user (the lock directory is
// writable by everyone): the refusal names the file and its owner.
TEST(ForeignLock, ALockHeldByAnotherUserIsNamedWithItsOwner) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(R"SH(
chmod 1777 /run/lock
chmod 755 "$T"
mkdir -m 777 "$T/nobody"; cp "$EXE" "$T/nobody/probesvc"
user=$(id -nu 65534)
PATH="$LPATH" "$(command -v setpriv)" --reuid=65534 --regid=65534 --clear-groups "$T/nobody/probesvc" -no-daemon \
  >"$OUT/holder.out" 2>&1 </dev/null &
holder=$!; track "$holder"; printf %s "$holder" > "$OUT/holder"
wait_file "$T/nobody/probe-report.txt" || { cat "$OUT/holder.out" "$T/nobody/"*.log >&2; exit 1; }
stat -c %U /var/lock/probesvc > "$OUT/owner"
echo "$user" > "$OUT/user"
run_exe start -no-daemon
kill -TERM "$holder"; wait "$holder"
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string user = box.Read("user");
    ASSERT_FALSE(user.empty());
    user.pop_back();
    EXPECT_EQ(box.Read("owner"), user + "\n");
    EXPECT_EQ(box.Read("start.rc"), "1");
    EXPECT_EQ(box.Read("start.out"), "Service ... The service is running: process " + box.Read("holder") +
                                         " holds its lock /var/lock/probesvc.\nERROR: Acquire lock failed: the lock "
                                         "file /var/lock/probesvc belongs to user " + user + ", not to root.\n");
}

// A service started as a user who may write neither /var/run nor the
// directory of its default log: it runs, and says once of each file that it
// cannot be written and why.
TEST(NonRootService, SaysOnceThatItsPidFileAndLogCannotBeWritten) {
    ServiceSandbox box(ProbeJar(), "probesvc", {"forcecwd ${PROBE_DIR}"});
    auto r = box.Run(R"SH(
chmod 755 /run; chmod 1777 /run/lock
chmod 755 "$T"
mkdir -m 755 "$T/root"; cp "$EXE" "$T/root/probesvc"
mkdir -m 777 "$T/work"
PROBE_DIR="$T/work" PATH="$LPATH" "$(command -v setpriv)" --reuid=65534 --regid=65534 --clear-groups \
  "$T/root/probesvc" -no-daemon >"$OUT/service.out" 2>"$OUT/service.err" </dev/null &
pid=$!; track "$pid"
wait_file "$T/work/probe-report.txt" || { cat "$OUT/service.out" "$OUT/service.err" >&2; exit 1; }
kill -TERM "$pid"; wait "$pid"; echo $? > "$OUT/service.rc"
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string out = box.Read("service.out"), err = box.Read("service.err");
    const std::string pidLine =
        "WARNING: The pid file /var/run/probesvc.pid cannot be written (Permission denied); the service runs "
        "without it.\n";
    const std::string logLine = "WARNING: The log " + box.dir() +
                                "/root/probesvc.stderr.log cannot be written (Permission denied); the stream "
                                "stays where it was.\n";
    // The pid file's line is a message (standard output, and standard error
    // beside it); the log's line stays on the standard error it could not
    // replace.
    EXPECT_EQ(Occurrences(out, pidLine), 1) << out;
    EXPECT_EQ(Occurrences(err, pidLine), 1) << err;
    EXPECT_EQ(Occurrences(err, logLine), 1) << err;
    EXPECT_EQ(box.Read("service.rc"), "143");
}

// With standard output in a file, a refused start still speaks to the
// terminal that typed it: the lock holder and the refusal are on the
// terminal and in the file.
TEST(LockRefusal, IsShownOnTheTerminalAsWellAsInTheOutputFile) {
    ServiceSandbox box(ProbeJar(), "probesvc", {"stdout=probe.out"});
    auto r = box.Run(R"SH(
run_exe start
wait_file "$T/probe-report.txt" || exit 1
pid=$(cat /var/run/probesvc.pid); track "$pid"; printf %s "$pid" > "$OUT/pid"
run_exe second
kill -TERM "$pid"; wait_gone "$pid" || exit 1
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("start.rc"), "0");
    EXPECT_EQ(box.Read("second.rc"), "1");
    const std::string said =
        "The service is running: process " + box.Read("pid") + " holds its lock /var/lock/probesvc.\n"
        "ERROR: Acquire lock failed.\n";
    EXPECT_EQ(box.Read("second.out"), said);
    EXPECT_TRUE(Contains(tvxtest::ReadFile(box.dir() + "/probe.out"), "Service ... " + said))
        << tvxtest::ReadFile(box.dir() + "/probe.out");
}

// The external file beside the executable can run commands as the service's
// user: it is read only when neither group nor others can write it and it
// belongs to root or to the executable's owner; otherwise one line says why.
TEST(ExternalFile, AFileOthersCouldWriteIsIgnored) {
    struct Row {
        const char* what;
        const char* setup;    // commands on $CFG (and $EXE)
        const char* warning;  // the line on standard error; empty when the file is read
    } rows[] = {
        {"root 0644", "chmod 644 \"$CFG\"", ""},
        {"exe owner 0600", "chown 65534 \"$CFG\" \"$EXE\"; chmod 600 \"$CFG\"", ""},
        {"group-writable", "chmod 664 \"$CFG\"", "is ignored: it is writable by group or others."},
        {"world-writable", "chmod 646 \"$CFG\"", "is ignored: it is writable by group or others."},
        {"another user", "chown 65534 \"$CFG\"; chmod 644 \"$CFG\"", "is ignored: it belongs to user "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ServiceSandbox box(ProbeJar(), "probesvc");
        auto r = box.Run(std::string("CFG=\"$EXE.cfg\"\nprintf 'argv=fromcfg\\n' > \"$CFG\"\n") + row.setup + R"SH(
run_exe run -test
)SH");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(box.Read("run.rc"), "0");
        std::string report = tvxtest::ReadFile(box.dir() + "/probe-report.txt");
        std::string err = box.Read("run.err");
        if (row.warning[0] == '\0') {
            EXPECT_TRUE(Contains(report, "args=<fromcfg>\n")) << report;
            EXPECT_EQ(err, "");
        } else {
            EXPECT_TRUE(Contains(report, "args=\n")) << report;
            EXPECT_EQ(err.rfind("WARNING: " + box.exe() + ".cfg " + row.warning, 0), 0u) << err;
            EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        }
    }
}

// The lock directory belongs to whoever makes it: /var/lock is writable by
// everyone, so another user (uid 4242, no account) may make
// /var/lock/subsys, which is then not used (she could delete a held lock file
// in it and let a second daemon start beside the first); and a FIFO she puts
// at the lock path is refused in one line instead of hanging the start.
TEST(LockDirectory, NothingAnotherUserMadeHoldsOrHangsTheLock) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(R"SH(
chmod 1777 /run/lock
setpriv --reuid=4242 --regid=4242 --clear-groups mkdir -m 755 /run/lock/subsys
PATH="$LPATH" "$EXE" -no-daemon >"$OUT/first.out" 2>&1 </dev/null &
first=$!; track "$first"; echo "$first" > "$OUT/first.pid"
wait_file "$T/probe-report.txt" || { cat "$OUT/first.out" >&2; exit 1; }
ls /var/lock/subsys > "$OUT/subsys"
setpriv --reuid=4242 --regid=4242 --clear-groups rm -f /var/lock/subsys/probesvc /var/lock/probesvc 2>/dev/null
timeout 20 env PATH="$LPATH" "$EXE" -no-daemon >"$OUT/second.out" 2>"$OUT/second.err" </dev/null
echo $? > "$OUT/second.rc"
kill -TERM "$first"; wait "$first"
rm -rf /run/lock/subsys /var/lock/probesvc
setpriv --reuid=4242 --regid=4242 --clear-groups mkfifo -m 666 /var/lock/probesvc
timeout 60 env PATH="$LPATH" "$EXE" -no-daemon >"$OUT/fifo.out" 2>"$OUT/fifo.err" </dev/null
echo $? > "$OUT/fifo.rc"
exit 0
)SH");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("subsys"), "") << "the lock file went into her directory";
    EXPECT_EQ(box.Read("second.rc"), "1") << "124: a second daemon ran beside the first";
    // The first daemon's lock (in /var/lock) still holds, and the refusal names its holder.
    const std::string first = box.Read("first.pid");
    EXPECT_EQ(box.Read("second.out"), "Service ... The service is running: process " + first.substr(0, first.find('\n')) +
                                          " holds its lock /var/lock/probesvc.\nERROR: Acquire lock failed.\n");
    EXPECT_EQ(box.Read("fifo.rc"), "1") << "124: the start hung";
    EXPECT_EQ(box.Read("fifo.out"), "Service ... ERROR: Acquire lock failed: /var/lock/probesvc is not a regular file.\n");
}

}  // namespace
