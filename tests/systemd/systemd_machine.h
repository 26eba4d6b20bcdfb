// A real systemd, booted as PID 1 of private namespaces over a root of its
// own (boot_systemd.sh), reached with nsenter. The machine's /tmp, /work and
// cgroups are never touched: a file placed in the machine's /tmp before the
// boot is checked to be still there after the shutdown.
#ifndef TVX_TESTS_SYSTEMD_SYSTEMD_MACHINE_H
#define TVX_TESTS_SYSTEMD_SYSTEMD_MACHINE_H

#include <string>

#include "tests/support/test_support.h"

namespace systemdtest {

class SystemdMachine {
public:
    SystemdMachine();
    ~SystemdMachine();
    SystemdMachine(const SystemdMachine&) = delete;
    SystemdMachine& operator=(const SystemdMachine&) = delete;

    // Why systemd cannot be booted here; empty when it can.
    static std::string CannotBoot();

    // Boots and waits until the manager is up; false (with the reason in
    // error()) when it does not come up.
    bool Boot();
    // Kills the manager and everything it started, removes its cgroup
    // subtree; true when the sentinel in the machine's /tmp survived.
    bool Shutdown();
    const std::string& error() const { return error_; }

    // The directory bound at /srv/tvx inside the root (seen from outside).
    std::string app() const { return dir_ / "app"; }
    // Runs a shell command inside the booted root.
    tvxtest::RunResult Exec(const std::string& command, int timeoutSeconds = 60) const;
    // Runs `command` inside until it prints `expected` (after trimming), at
    // most `seconds`; returns the last output.
    std::string WaitFor(const std::string& command, const std::string& expected, int seconds) const;
    // The console output of the manager so far.
    std::string Console() const;

private:
    tvxtest::TempDir dir_;
    std::string sentinel_;
    std::string error_;
    int pid_ = 0;      // systemd, as the machine sees it
    int script_ = 0;   // the boot script
};

}  // namespace systemdtest

#endif  // TVX_TESTS_SYSTEMD_SYSTEMD_MACHINE_H
