// A private world for service tests: a bash script runs in its own mount and
// IPC namespaces where /run (so /var/run and /var/lock), the systemd unit
// directories and /etc/init.d are fresh tmpfs mounts and /etc is an overlay
// whose writes land in the test's directory. Nothing reaches the machine's
// own init system or service files.
#ifndef TVX_TESTS_SERVICE_SERVICE_SANDBOX_H
#define TVX_TESTS_SERVICE_SERVICE_SANDBOX_H

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace servicetest {

// The service probe application's jar.
inline std::string ProbeJar() { return tvxtest::TestJarsDir() + "/service-probe.jar"; }

enum class InitSystem { None, SystemD, UpStart, SysV, SysVRcd };

class ServiceSandbox {
public:
    // Packs `jar` as `name` in a fresh directory, with the given settings
    // lines plus the runtime library of the build's JDK.
    ServiceSandbox(const std::string& jar, const std::string& name, const std::vector<std::string>& settings = {},
                   const std::vector<std::string>& packArgs = {});

    const std::string& dir() const { return dir_.path(); }
    const std::string& exe() const { return exe_; }
    const std::string& name() const { return name_; }
    std::string out(const std::string& file) const { return dir_ / ("out/" + file); }
    // Content of out/<file>, with a trailing newline removed for .rc files.
    std::string Read(const std::string& file) const;

    // Runs `body` in the namespaces. The script sees T (this directory), OUT,
    // EXE and NAME, the helpers step, wait_file, wait_gone and track, and a
    // PATH on which `which` finds only the recording stand-ins of the chosen
    // init system (systemctl, initctl or chkconfig), each of which appends
    // its command line to $OUT/commands.log. Tracked processes and those
    // named by pid files still alive at the end are killed.
    tvxtest::RunResult Run(const std::string& body, InitSystem init = InitSystem::None);

private:
    tvxtest::TempDir dir_;
    std::string name_;
    std::string exe_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLocalPort();

}  // namespace servicetest

#endif  // TVX_TESTS_SERVICE_SERVICE_SANDBOX_H
