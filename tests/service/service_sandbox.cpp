#include "tests/service/service_sandbox.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace servicetest {

namespace {

// Single quotes for bash, any content.
std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

const char kPrologue[] = R"SH(
mkdir -p "$OUT" "$T/fakebin" "$T/tools" "$T/etc-upper" "$T/etc-work" "$T/units-upper" "$T/units-work"
setup_failed() { echo "sandbox setup failed: $1" >&2; exit 90; }
mount -t tmpfs tvx-run /run || setup_failed "tmpfs on /run"
mkdir -p /run/lock
mount -t overlay tvx-etc -o "lowerdir=/etc,upperdir=$T/etc-upper,workdir=$T/etc-work" /etc || setup_failed "/etc"
units=$(realpath -e /usr/lib/systemd/system 2>/dev/null)
if [ -n "$units" ]; then
  mount -t overlay tvx-units -o "lowerdir=$units,upperdir=$T/units-upper,workdir=$T/units-work" "$units" ||
    setup_failed "$units"
fi
if [ -d /lib/systemd/system ] && [ "$(realpath -e /lib/systemd/system)" != "$units" ]; then
  mount -t tmpfs tvx-lib-units /lib/systemd/system || setup_failed "/lib/systemd/system"
fi
ln -s "$(command -v which)" "$T/tools/which"
LPATH="$T/fakebin:$T/tools"

cleanup() {
  local f p
  for f in /run/*.pid "$OUT/pids"; do
    [ -f "$f" ] || continue
    for p in $(cat "$f"); do kill -9 "$p" 2>/dev/null; done
  done
  return 0
}
trap cleanup EXIT

# run_exe NAME ARGS...: the launcher with the sandbox's PATH; output and status in $OUT/NAME.*
run_exe() { local n=$1; shift; PATH="$LPATH" "$EXE" "$@" >"$OUT/$n.out" 2>"$OUT/$n.err" </dev/null; echo $? >"$OUT/$n.rc"; }
# step NAME COMMAND...: any command; output and status in $OUT/NAME.*
step() { local n=$1; shift; "$@" >"$OUT/$n.out" 2>"$OUT/$n.err" </dev/null; echo $? >"$OUT/$n.rc"; }
wait_file() { local i; for i in $(seq 600); do [ -e "$1" ] && return 0; sleep 0.1; done; echo "no $1" >&2; return 1; }
wait_gone() { local i; for i in $(seq 600); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done; echo "$1 still runs" >&2; return 1; }
track() { echo "$1" >>"$OUT/pids"; }
)SH";

std::string FakeCommand(const std::string& name, const std::string& log) {
    std::string path = "$T/fakebin/" + name;
    return "printf '%s\\n' '#!/bin/sh' 'echo \"${0##*/} $*\" >> " + Quote(log) + "' > \"" + path + "\"\nchmod 755 \"" +
           path + "\"\n";
}

}  // namespace

ServiceSandbox::ServiceSandbox(const std::string& jar, const std::string& name, const std::vector<std::string>& settings,
                               const std::vector<std::string>& packArgs)
    : name_(name), exe_(dir_ / name) {
    std::vector<std::string> lines = settings;
    lines.push_back("jvmdll=" + tvxtest::JavaHome() + "/lib/server/libjvm.so");
    tvxtest::Pack(jar, exe_, lines, packArgs);
}

std::string ServiceSandbox::Read(const std::string& file) const {
    std::string text = tvxtest::ReadFile(out(file));
    if (file.size() > 3 && file.compare(file.size() - 3, 3, ".rc") == 0 && !text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

tvxtest::RunResult ServiceSandbox::Run(const std::string& body, InitSystem init) {
    std::string log = out("commands.log");
    std::string script = "set -u\nT=" + Quote(dir()) + "\nOUT=" + Quote(dir() + "/out") + "\nEXE=" + Quote(exe_) +
                         "\nNAME=" + Quote(name_) + "\nexport T OUT EXE NAME\n" + kPrologue;
    switch (init) {
        case InitSystem::SystemD:
            script += FakeCommand("systemctl", log);
            break;
        case InitSystem::UpStart:
            script += "mkdir -p /etc/init\n" + FakeCommand("initctl", log);
            break;
        case InitSystem::SysVRcd:
            script += "mkdir -p /etc/rc.d/init.d\n";
            script += FakeCommand("chkconfig", log);
            break;
        case InitSystem::SysV:
            script += FakeCommand("chkconfig", log);
            break;
        case InitSystem::None:
            break;
    }
    script += "touch \"$OUT/commands.log\"\n";
    script += body;
    std::string path = dir_ / "sandbox.sh";
    tvxtest::WriteFile(path, script);
    tvxtest::RunOptions options;
    options.timeoutSeconds = 300;
    tvxtest::RunResult r =
        tvxtest::Run({"unshare", "--mount", "--propagation", "private", "--ipc", "bash", path}, options);
    EXPECT_NE(r.exitCode, 90) << r.err;
    EXPECT_FALSE(r.timedOut) << r.err;
    return r;
}

int FreeLocalPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t length = sizeof addr;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0) close(fd);
    return port;
}

}  // namespace servicetest
