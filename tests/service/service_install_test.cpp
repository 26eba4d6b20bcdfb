// Installation and removal under systemd, Upstart and SysV init, each inside
// a ServiceSandbox whose PATH shows only that init system's (recording)
// commands: the file written byte for byte, the commands run, the results
// for a second install and a missing service, and refusals of names and
// arguments that would reach a shell.
#include <gtest/gtest.h>
#include <stdio.h>

#include <ostream>
#include <string>

#include "tests/service/expected_scripts.h"
#include "tests/service/service_sandbox.h"
#include "tests/support/test_support.h"

namespace {

using servicetest::InitSystem;
using servicetest::ServiceSandbox;

using servicetest::ProbeJar;

struct InitRow {
    const char* what;
    InitSystem init;
    const char* file;         // where the service's file lands
    const char* manualLog;    // commands of install (manual) + uninstall
    const char* autoLog;      // commands of install (auto) + uninstall
    int mode;                 // file mode expected (umask 022)
};

void PrintTo(const InitRow& row, std::ostream* os) { *os << row.what; }

// `systemdArgs` as ExecStart= holds them, `shellArgs` as shell words.
std::string Expected(const InitRow& row, const std::string& exe, bool autoStart, const std::string& systemdArgs,
                     const std::string& shellArgs) {
    switch (row.init) {
        case InitSystem::SystemD:
            return servicetest::ExpectedSystemDUnit("probesvc", exe, systemdArgs);
        case InitSystem::UpStart:
            return servicetest::ExpectedUpStartJob("probesvc", autoStart ? "2345" : "", exe, shellArgs);
        default:
            return servicetest::ExpectedSysVScript("probesvc", exe, autoStart ? "35" : "-", 70, shellArgs);
    }
}

class Install : public ::testing::TestWithParam<InitRow> {};

TEST_P(Install, InstallsOnceRemovesOnceAndRunsTheInitCommands) {
    const InitRow& row = GetParam();
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(std::string("F=") + row.file + R"SH(
umask 022
run_exe install1 -install -port 8080 "two words" 'say "hi"'
cp "$F" "$OUT/file1"; stat -c %a "$F" > "$OUT/mode1"
run_exe install2 --install
cmp "$F" "$OUT/file1" && echo same > "$OUT/unchanged"
case "$F" in
  *.service) step verify systemd-analyze verify "$F" ;;
  *.conf) ;;
  *) step syntax bash -n "$F" ;;
esac
run_exe uninstall1 -uninstall
[ -e "$F" ] && echo present > "$OUT/after-uninstall"
run_exe uninstall2 /UNINST
cp "$OUT/commands.log" "$OUT/manual.log"; : > "$OUT/commands.log"
run_exe install3 -install:auto
cp "$F" "$OUT/file3"
run_exe uninstall3 -uninstall
# Under a umask that takes nothing away, nobody else may write what root starts.
cp "$OUT/commands.log" "$OUT/auto-commands.log"
umask 000
run_exe install4 -install
stat -c %a "$F" > "$OUT/mode4"
run_exe uninstall4 -uninstall
mv "$OUT/auto-commands.log" "$OUT/commands.log"
exit 0
)SH",
                     row.init);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string args = "-port 8080 \"two words\" \"say \\\"hi\\\"\"";
    const std::string shellArgs = "-port 8080 'two words' 'say \"hi\"'";

    EXPECT_EQ(box.Read("install1.rc"), "0");
    EXPECT_EQ(box.Read("install1.out"), "Service 'probesvc' installed successfully.\n\n");
    EXPECT_EQ(box.Read("file1"), Expected(row, box.exe(), false, args, shellArgs));
    char mode[16];
    snprintf(mode, sizeof mode, "%o\n", row.mode);
    EXPECT_EQ(box.Read("mode1"), mode);
    EXPECT_EQ(box.Read("install4.rc"), "0");
    EXPECT_EQ(box.Read("mode4"), mode) << "under umask 000";

    EXPECT_EQ(box.Read("install2.rc"), std::to_string(280 & 0xFF));
    EXPECT_EQ(box.Read("install2.out"), "Service 'probesvc' install failed, the service already exists.\n\n");
    EXPECT_EQ(box.Read("unchanged"), "same\n");

    if (row.init == InitSystem::SystemD) {
        EXPECT_EQ(box.Read("verify.rc"), "0") << box.Read("verify.err");
    } else if (row.init != InitSystem::UpStart) {
        EXPECT_EQ(box.Read("syntax.rc"), "0") << box.Read("syntax.err");
    }

    EXPECT_EQ(box.Read("uninstall1.rc"), "0");
    EXPECT_EQ(box.Read("uninstall1.out"), "Service 'probesvc' uninstalled successfully.\n\n");
    EXPECT_FALSE(tvxtest::FileExists(box.out("after-uninstall")));
    EXPECT_EQ(box.Read("uninstall2.rc"), std::to_string(282 & 0xFF));
    EXPECT_EQ(box.Read("uninstall2.out"), "Service 'probesvc' uninstall failed, service does not exist.\n\n");
    EXPECT_EQ(box.Read("manual.log"), row.manualLog);

    EXPECT_EQ(box.Read("install3.rc"), "0");
    EXPECT_EQ(box.Read("file3"), Expected(row, box.exe(), true, "", ""));
    EXPECT_EQ(box.Read("uninstall3.rc"), "0");
    EXPECT_EQ(box.Read("commands.log"), row.autoLog);
}

INSTANTIATE_TEST_SUITE_P(
    InitSystems, Install,
    ::testing::Values(
        InitRow{"SystemD", InitSystem::SystemD, "/lib/systemd/system/probesvc.service", "systemctl disable probesvc\n",
                "systemctl enable probesvc\nsystemctl disable probesvc\n", 0644},
        InitRow{"UpStart", InitSystem::UpStart, "/etc/init/probesvc.conf", "", "", 0644},
        InitRow{"SysV", InitSystem::SysV, "/etc/init.d/probesvc", "chkconfig --add probesvc\nchkconfig --del probesvc\n",
                "chkconfig --add probesvc\nchkconfig --del probesvc\n", 0755},
        InitRow{"SysVRcd", InitSystem::SysVRcd, "/etc/rc.d/init.d/probesvc",
                "chkconfig --add probesvc\nchkconfig --del probesvc\n",
                "chkconfig --add probesvc\nchkconfig --del probesvc\n", 0755}),
    [](const ::testing::TestParamInfo<InitRow>& info) { return std::string(info.param.what); });

// The value of the install option decides start at boot, however it is written;
// a value option also takes the next argument unless it begins with - or /,
// and a next argument so taken that is not "auto" stays a service argument.
TEST(InstallOption, AutoStartFollowsTheOptionValue) {
    struct Row {
        const char* args;
        bool autoStart;
        const char* serviceArgs;
    } rows[] = {
        {"-install", false, ""},
        {"-install:auto", true, ""},
        {"--install auto", true, ""},
        {"/INSTALL=AUTO x", true, "x"},
        {"-inst:manual a b", false, "a b"},
        {"-install -x y", false, "-x y"},
        {"-installauto", true, ""},
        {"first -install:auto last", true, "last"},
        // A value taken from the next argument that is not "auto" is the
        // service's first argument, never lost.
        {"-install zoo.cfg", false, "zoo.cfg"},
        {"-install zoo.cfg second", false, "zoo.cfg second"},
        {"-install: zoo.cfg", false, "zoo.cfg"},
        {"-install:auto zoo.cfg", true, "zoo.cfg"},
        {"-install Auto zoo.cfg", true, "zoo.cfg"},
    };
    ServiceSandbox box(ProbeJar(), "probesvc");
    std::string body;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        std::string n = std::to_string(i);
        body += "run_exe install" + n + " " + rows[i].args + "\ncp /lib/systemd/system/probesvc.service \"$OUT/unit" +
                n + "\"\nrun_exe uninstall" + n + " -uninstall\n";
    }
    auto r = box.Run(body + "cp \"$OUT/commands.log\" \"$OUT/all.log\"\n", InitSystem::SystemD);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string log;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        SCOPED_TRACE(rows[i].args);
        std::string n = std::to_string(i);
        EXPECT_EQ(box.Read("install" + n + ".rc"), "0");
        EXPECT_EQ(box.Read("unit" + n), servicetest::ExpectedSystemDUnit("probesvc", box.exe(), rows[i].serviceArgs));
        EXPECT_EQ(box.Read("uninstall" + n + ".rc"), "0");
        if (rows[i].autoStart) log += "systemctl enable probesvc\n";
        log += "systemctl disable probesvc\n";
    }
    EXPECT_EQ(box.Read("all.log"), log);
}

// Names and paths that a shell or systemd would act on, and arguments that no
// line of a file can carry, are refused before anything is written or run.
TEST(InstallRefusal, UnsafeNamesAndArgumentsAreRefused) {
    struct Row {
        const char* name;       // the executable's file name
        const char* args;       // after -install:manual
        const char* problem;    // start of the reason printed
    } rows[] = {
        {"bad$name", "", "ERROR: The service name may hold only"},
        {"bad\"name", "", "ERROR: The service name may hold only"},
        {"bad`name`", "", "ERROR: The service name may hold only"},
        {"bad\\name", "", "ERROR: The service name may hold only"},
        {"bad name", "", "ERROR: The service name may hold only"},
        {"-badname", "", "ERROR: The service name must not begin with"},
        {"probesvc", "\"$(printf 'a\\nExecStartPre=/bin/true')\"",
         "ERROR: The service argument \"a\\nExecStartPre=/bin/true\" holds a newline"},
        {"probesvc", "x \"$(printf 'tab\\there')\"", "ERROR: The service argument \"tab\\there\" holds a control"},
    };
    ServiceSandbox box(ProbeJar(), "probesvc");
    std::string body;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        std::string n = std::to_string(i);
        std::string quotedName = "'";
        for (char c : std::string(rows[i].name)) quotedName += c == '\'' ? std::string("'\\''") : std::string(1, c);
        quotedName += "'";
        body += "cp \"$EXE\" \"$T/\"" + quotedName + "\n";
        body += "step install" + n + " env PATH=\"$LPATH\" \"$T/\"" + quotedName + " -install:manual " + rows[i].args + "\n";
        body += "step uninstall" + n + " env PATH=\"$LPATH\" \"$T/\"" + quotedName + " -uninstall\n";
    }
    body += "ls -A \"$T/units-upper\" > \"$OUT/units\"\n";
    auto r = box.Run(body, InitSystem::SystemD);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        SCOPED_TRACE(rows[i].name + std::string(" ") + rows[i].args);
        std::string n = std::to_string(i);
        EXPECT_EQ(box.Read("install" + n + ".rc"), std::to_string(281 & 0xFF));
        std::string out = box.Read("install" + n + ".out");
        EXPECT_EQ(out.rfind(rows[i].problem, 0), 0u) << out;
        std::string tail = std::string("\nService '") + rows[i].name + "' install failed, error occurs.\n\n";
        EXPECT_EQ(out.substr(out.find('\n')), tail) << out;
        if (rows[i].args[0] == '\0') {
            EXPECT_EQ(box.Read("uninstall" + n + ".rc"), std::to_string(281 & 0xFF));
        } else {
            EXPECT_EQ(box.Read("uninstall" + n + ".rc"), std::to_string(282 & 0xFF));
        }
    }
    EXPECT_EQ(box.Read("units"), "") << "nothing may be written";
    EXPECT_EQ(box.Read("commands.log"), "") << "nothing may be run";
    EXPECT_FALSE(tvxtest::FileExists(box.dir() + "/injected"));
}

// Copies of one program in two directories share the service name: a copy
// never removes the service another copy installed, under any init system;
// the owner still can, and so can any copy once the owner's file is gone.
TEST(UninstallOwner, AnotherCopysServiceIsLeftInPlace) {
    struct Row {
        const char* what;
        InitSystem init;
        const char* file;
        const char* removeCommand;  // what uninstalling records, "" for none
    } rows[] = {
        {"SystemD", InitSystem::SystemD, "/lib/systemd/system/probesvc.service", "systemctl disable probesvc\n"},
        {"UpStart", InitSystem::UpStart, "/etc/init/probesvc.conf", ""},
        {"SysV", InitSystem::SysV, "/etc/init.d/probesvc", "chkconfig --del probesvc\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ServiceSandbox box(ProbeJar(), "probesvc");
        auto r = box.Run(std::string("F=") + row.file + R"SH(
mkdir "$T/v1" "$T/v2"
cp "$EXE" "$T/v1/probesvc"; cp "$EXE" "$T/v2/probesvc"
step install env PATH="$LPATH" "$T/v1/probesvc" -install x
cp "$F" "$OUT/file1"
: > "$OUT/commands.log"
step foreign env PATH="$LPATH" "$T/v2/probesvc" -uninstall
cmp "$F" "$OUT/file1" && echo same > "$OUT/kept"
cp "$OUT/commands.log" "$OUT/foreign.log"
step owner env PATH="$LPATH" "$T/v1/probesvc" -uninstall
[ -e "$F" ] || echo gone > "$OUT/gone"
cp "$OUT/commands.log" "$OUT/owner.log"
step reinstall env PATH="$LPATH" "$T/v1/probesvc" -install
rm "$T/v1/probesvc"
step orphan env PATH="$LPATH" "$T/v2/probesvc" -uninstall
[ -e "$F" ] || echo gone > "$OUT/orphan-gone"
exit 0
)SH", row.init);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(box.Read("install.rc"), "0");
        EXPECT_EQ(box.Read("foreign.rc"), std::to_string(283 & 0xFF));
        EXPECT_EQ(box.Read("foreign.out"), "Service 'probesvc' uninstall failed, it starts " + box.dir() +
                                               "/v1/probesvc, not this executable.\n\n");
        EXPECT_EQ(box.Read("kept"), "same\n");
        EXPECT_EQ(box.Read("foreign.log"), "") << "nothing may be run for a service left in place";
        EXPECT_EQ(box.Read("owner.rc"), "0");
        EXPECT_EQ(box.Read("gone"), "gone\n");
        EXPECT_EQ(box.Read("owner.log"), row.removeCommand);
        EXPECT_EQ(box.Read("reinstall.rc"), "0");
        EXPECT_EQ(box.Read("orphan.rc"), "0") << box.Read("orphan.out");
        EXPECT_EQ(box.Read("orphan-gone"), "gone\n");
    }
}

// Paths and names longer than the service's buffers are refused, never cut.
TEST(InstallRefusal, OverlongPathsAndNamesAreRefused) {
    ServiceSandbox box(ProbeJar(), "probesvc");
    std::string deepDir = "$T/" + std::string(200, 'd') + "/" + std::string(100, 'e');
    std::string longName = std::string(120, 'n');
    auto r = box.Run("mkdir -p \"" + deepDir + "\"\ncp \"$EXE\" \"" + deepDir + "/probesvc\"\ncp \"$EXE\" \"$T/" +
                         longName + "\"\n" +
                         "step deep-run env PATH=\"$LPATH\" \"" + deepDir + "/probesvc\"\n"
                         "step deep-install env PATH=\"$LPATH\" \"" + deepDir + "/probesvc\" -install\n"
                         "step long-run env PATH=\"$LPATH\" \"$T/" + longName + "\" -no-daemon\n"
                         "step long-install env PATH=\"$LPATH\" \"$T/" + longName + "\" -install\n"
                         "ls -A /var/run/*.pid > \"$OUT/pids-left\" 2>/dev/null\nls -A \"$T/units-upper\" > \"$OUT/units\"\n",
                     InitSystem::SystemD);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string message =
        "ERROR: The executable's path must be shorter than 300 bytes and its file name shorter than 100 bytes to run "
        "or install it as a service.\n";
    for (const char* run : {"deep-run", "long-run"}) {
        SCOPED_TRACE(run);
        EXPECT_EQ(box.Read(std::string(run) + ".rc"), "1");
        EXPECT_EQ(box.Read(std::string(run) + ".out"), message);
    }
    for (const char* install : {"deep-install", "long-install"}) {
        SCOPED_TRACE(install);
        EXPECT_EQ(box.Read(std::string(install) + ".rc"), std::to_string(281 & 0xFF));
        std::string out = box.Read(std::string(install) + ".out");
        EXPECT_EQ(out.rfind(message, 0), 0u) << out;
    }
    EXPECT_EQ(box.Read("pids-left"), "");
    EXPECT_EQ(box.Read("units"), "");
}

}  // namespace

namespace {

// A name systemd refuses as a unit name is refused before a unit is written,
// with one line saying why and 281; the same name under SysV init, which
// takes it, is installed.
TEST(InstallRefusal, UnitNamesSystemdCannotTakeAreRefused) {
    struct Row {
        const char* name;
        InitSystem init;
        bool refused;
    } rows[] = {
        {"caf\xc3\xa9", InitSystem::SystemD, true}, {"a+b", InitSystem::SystemD, true},
        {"a=b", InitSystem::SystemD, true},         {"a,b", InitSystem::SystemD, true},
        {"caf\xe9", InitSystem::SystemD, true},     {"web@blue", InitSystem::SystemD, false},
        {"a+b", InitSystem::SysV, false},           {"caf\xc3\xa9", InitSystem::SysV, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ServiceSandbox box(ProbeJar(), "probesvc");
        std::string name = row.name;
        auto r = box.Run("N='" + name + R"SH('
cp "$EXE" "$T/$N"
# (not through env, which takes a name holding "=" for an assignment)
as_named() { local n=$1; shift; PATH="$LPATH" "$T/$N" "$@" >"$OUT/$n.out" 2>"$OUT/$n.err" </dev/null; echo $? >"$OUT/$n.rc"; }
as_named install -install
ls -A "$T/units-upper" /etc/init.d > "$OUT/written" 2>/dev/null
as_named uninstall -uninstall
exit 0
)SH",
                         row.init);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string out = box.Read("install.out");
        if (row.refused) {
            EXPECT_EQ(box.Read("install.rc"), std::to_string(281 & 0xFF));
            EXPECT_EQ(out, "ERROR: The unit name \"" + name + ".service\" cannot be installed: systemd takes unit names " +
                               "of ASCII letters, digits and the characters : _ . - only (and one @ between a " +
                               "template's name and its instance).\nService '" + name +
                               "' install failed, error occurs.\n\n");
            EXPECT_EQ(box.Read("written").find(name), std::string::npos) << box.Read("written");
            EXPECT_EQ(box.Read("uninstall.rc"), std::to_string(282 & 0xFF));
        } else {
            EXPECT_EQ(box.Read("install.rc"), "0") << out;
            EXPECT_EQ(out, "Service '" + name + "' installed successfully.\n\n");
            EXPECT_NE(box.Read("written").find(name), std::string::npos) << box.Read("written");
            EXPECT_EQ(box.Read("uninstall.rc"), "0");
        }
    }
}

// The SysV script on Debian, which has no /etc/init.d/functions: start,
// status and stop through the real start-stop-daemon, each with the status
// an init system expects, and a second start and stop that change nothing.
TEST(SysVDebian, ScriptStartsReportsAndStopsTheService) {
    if (!tvxtest::Emulator().empty())
        GTEST_SKIP() << "start-stop-daemon finds the service by /proc/PID/exe, which under binfmt_misc names "
                        "the emulator, not the executable";
    ServiceSandbox box(ProbeJar(), "probesvc");
    auto r = box.Run(R"SH(
[ ! -e /etc/init.d/functions ] && [ ! -e /etc/rc.d/init.d/functions ] || { echo "a functions library exists" >&2; exit 1; }
run_exe install -install
S=/etc/init.d/probesvc
SYS="PATH=/usr/sbin:/usr/bin:/sbin:/bin"
step start env $SYS "$S" start
wait_file "$T/probe-report.txt" || exit 1
pid=$(cat /var/run/probesvc.pid); track "$pid"
tr '\0' ' ' < "/proc/$pid/cmdline" > "$OUT/cmdline"
step status env $SYS "$S" status
step start2 env $SYS "$S" start
[ "$(cat /var/run/probesvc.pid)" = "$pid" ] && echo same > "$OUT/same-pid"
step stop env $SYS "$S" stop
# Ended by the time stop returns (a zombie waiting for its reaper counts as ended).
state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)
[ -n "$state" ] && [ "$state" != Z ] && echo "alive ($state)" > "$OUT/after-stop"
ls -A /var/run/probesvc.pid /var/lock/probesvc /var/lock/subsys/probesvc > "$OUT/left" 2>/dev/null
step status2 env $SYS "$S" status
step stop2 env $SYS "$S" stop
exit 0
)SH",
                     InitSystem::SysV);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(box.Read("install.rc"), "0");
    EXPECT_EQ(box.Read("start.rc"), "0") << box.Read("start.err");
    EXPECT_EQ(box.Read("start.out"), "Starting probesvc: Service ... \n");
    EXPECT_EQ(box.Read("start.err"), "");
    EXPECT_EQ(box.Read("cmdline"), box.exe() + " ");
    EXPECT_EQ(box.Read("status.rc"), "0") << box.Read("status.err");
    EXPECT_NE(box.Read("status.out").find("is running"), std::string::npos) << box.Read("status.out");
    EXPECT_EQ(box.Read("start2.rc"), "0") << box.Read("start2.out") << box.Read("start2.err");
    EXPECT_EQ(box.Read("same-pid"), "same\n") << "a second start leaves the running service alone";
    EXPECT_EQ(box.Read("stop.rc"), "0") << box.Read("stop.err");
    EXPECT_EQ(box.Read("stop.out"), "Stopping probesvc: \n");
    EXPECT_FALSE(tvxtest::FileExists(box.out("after-stop"))) << "the service still runs after stop: " << box.Read("after-stop");
    EXPECT_EQ(tvxtest::ReadFile(box.dir() + "/probe-stopped.txt"), "stopped on Service stop\n");
    EXPECT_EQ(box.Read("left"), "") << "pid file or lock file left behind";
    EXPECT_EQ(box.Read("status2.rc"), "3") << box.Read("status2.out");
    EXPECT_EQ(box.Read("status2.out"), "probesvc is stopped\n");
    EXPECT_EQ(box.Read("stop2.rc"), "0") << box.Read("stop2.err");
}

}  // namespace
