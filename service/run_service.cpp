// The service command line: install, uninstall, help, a test run, or the
// application run as a service (detached or in the foreground).
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "base/command_line.h"
#include "base/explain.h"
#include "base/sigpipe_guard.h"
#include "instances/shm.h"
#include "instances/shm_message.h"
#include "launch/jvm_launcher.h"
#include "launch/launch_driver.h"
#include "launch/messages.h"
#include "redirect/std_redir.h"
#include "service/service.h"
#include "service/service_logs.h"
#include "service/service_notify.h"
#include "service/systemd_notify.h"
#include "settings/settings_loader.h"

namespace {

const char kServiceOptions[] =
    "|-install:|install:|inst:|-uninstall|uninstall|uninst|-no-daemon|no-daemon|-test|test|interactive|interact|"
    "inter|-help|help|h|?";

const char kPathsTooLong[] =
    "ERROR: The executable's path must be shorter than 300 bytes and its file name shorter than 100 bytes to run "
    "or install it as a service.";

enum Command { kRunDaemon, kInstall, kUninstall, kNoDaemon, kTest, kIgnored, kHelp };

struct OptionCommand {
    const char* name;
    Command command;
};

const OptionCommand kCommands[] = {
    {"-install", kInstall},    {"install", kInstall},   {"inst", kInstall},        {"-uninstall", kUninstall},
    {"uninstall", kUninstall}, {"uninst", kUninstall},  {"-no-daemon", kNoDaemon}, {"no-daemon", kNoDaemon},
    {"-test", kTest},          {"test", kTest},         {"interactive", kIgnored}, {"interact", kIgnored},
    {"inter", kIgnored},       {"-help", kHelp},        {"help", kHelp},           {"h", kHelp},
    {"?", kHelp},
};

Command CommandOf(const char* name) {
    for (const OptionCommand& entry : kCommands) {
        if (strcmp(entry.name, name) == 0) return entry.command;
    }
    return kIgnored;
}

// Prints the result text and two newlines, with the service name as the
// text's one "%s". A text that holds any other conversion (a "message"
// override) is printed as it stands, never used as a format.
void PrintServiceText(MyCString text) {
    text += "\n\n";
    const char* name = prog;
    CSigpipeGuard quiet;
    fputs(FormatPlaceholders(text, &name, 1), stdout);
    fflush(stdout);
}

// The result text of an install or uninstall: the success message, or the
// failure message followed by the reason's message.
MyCString ResultText(int result, MessageId success, MessageId failure) {
    if (result == kServiceOk) return RSTR(success);
    MyCString text = RSTR(failure);
    if (result == kServiceForeign) {
        // The path stands in a text that is formatted once more with the
        // service name: its own "%" are doubled.
        MyCString other;
        for (const char* p = foreignexec; *p; ++p) other += *p == '%' ? "%%" : MyCString(p, 1);
        const char* arg = other;
        text += FormatPlaceholders(RSTR(static_cast<unsigned>(result)), &arg, 1);
    } else {
        text += RSTR(static_cast<unsigned>(result));
    }
    return text;
}

// The lock cannot be taken: the reason when it is one the user can act on,
// else the plain message.
void ShowLockFailure() {
    MyCString holder = LockHolderLine();
    if (!holder.IsEmpty()) ShowOnStdout(holder);
    MyCString problem = LockProblem();
    ShowOnStdout(problem.IsEmpty() ? "ERROR: Acquire lock failed." : problem.c_str());
}

void ReportMainReached() {
    ReportStartStatus(kStartReachedMain);
    NotifyMainReached(plchr ? plchr->GetJavaVM() : nullptr);
}

}  // namespace

int RunService(int argc, char** argv) {
    bool pathsReady = PreparePaths();

    CGetOption options(argc, argv, kServiceOptions, true);
    Command command = kRunDaemon;
    const char* name = nullptr;
    const char* value = nullptr;
    int index = 0;
    int code;
    while ((code = options.EnumOpts(name, value, index)) != 0) {
        if (code == -2 || !name) continue;  // unknown options and plain arguments
        Command found = CommandOf(name);
        if (found == kIgnored) continue;
        command = found;
        break;
    }

    switch (command) {
        case kTest:
            KeepLogs(false);
            return RunJavaMain(argc - index, argv + index, nullptr, 0, nullptr);
        case kHelp:
            PrintServiceText(RSTR(kMsgServiceHelp));
            return 0;
        case kInstall:
        case kUninstall: {
            int result;
            if (!pathsReady) {
                ReportMessage(kPathsTooLong);
                result = kServiceRefused;
            } else if (command == kInstall) {
                bool autoStart = value && strcasecmp(value, "auto") == 0;
                // "-install zoo.cfg": the option's value was taken from the
                // next argument, and being no "auto" it is the first of the
                // service's arguments.
                int first = index;
                if (!autoStart && index > 0 && value == argv[index - 1]) first = index - 1;
                result = InstallService(autoStart, ArgvToCmdline(argc, argv, first));
            } else {
                result = UninstallService();
            }
            PrintServiceText(command == kInstall ? ResultText(result, kMsgServiceInstalled, kMsgServiceInstallFailed)
                                                : ResultText(result, kMsgServiceUninstalled, kMsgServiceUninstallFailed));
            return result;
        }
        case kNoDaemon:
        case kRunDaemon:
        case kIgnored:
            break;
    }

    bool daemonize = command != kNoDaemon;
    if (!daemonize) {
        argc -= index;
        argv += index;
    }
    if (CExplain::Dry()) {
        // A dry run explains in the foreground and leaves the service's
        // files alone, so it can run beside the service it explains.
        CExplain::Fact("dry run of the %s road: no detaching, lock or pid file", daemonize ? "daemon" : "-no-daemon");
        return RunJavaMain(argc, argv, SetIsServiceFlag, 0, nullptr);
    }
    if (!pathsReady) {
        ReportMessage(kPathsTooLong);
        return kExitServiceRefused;
    }
    if (!SystemdNotifies()) {
        // A terminal's progress text; in systemd's journal it would only
        // stand in front of the application's first line.
        CSigpipeGuard quiet;
        printf("Service ... ");
        fflush(stdout);
    }
    shm.SetSlot(kSlotServiceArgc, reinterpret_cast<void*>(static_cast<intptr_t>(argc)));
    shm.SetSlot(kSlotServiceArgv, argv);
    return TheServiceMainLinux(static_cast<unsigned>(argc), argv, daemonize);
}

int TheServiceMainLinux(unsigned, char**, bool daemonize) {
    if (!TestLock(false)) {
        ShowLockFailure();
        exit(kExitServiceRunning);
    }
    if (daemonize) {
        DetachWithStartStatus();
        // The detached child is a new process: the helper classes' copy of
        // the code must find the process block under its identity.
        shm.Republish();
        // Its message channel takes over the starter's place (pid, table
        // entry, ownership) and its receive thread, which fork left behind.
        if (pshmmsg) pshmmsg->AfterFork();
    }
    InstallEarlyStopHandling();
    KeepLogs(true);
    NotifyServiceStarting();
    MyCString out = pldr ? pldr->GetStdout() : MyCString();
    if (out.IsEmpty()) stdredir.RedirectStdout("/dev/null");
    if (daemonize) stdredir.ReleaseOriginals();
    if (!AcquireLock()) {
        ShowLockFailure();
        ReportStartStatus(kExitLockFailed);
        exit(kExitLockFailed);
    }
    if (!WritePidFile()) {
        const int error = errno;  // before the look at the path overwrites it
        MyCString refusal = SymlinkRefusal(pidfile);
        if (refusal.IsEmpty()) {
            refusal.Format("WARNING: The pid file %s cannot be written (%s); the service runs without it.", pidfile,
                           strerror(error));
        }
        ReportMessage(refusal);
    }
    // However the process ends from here on (System.exit in the
    // application, the runtime's own signal handling), its files go with it.
    static bool cleanupRegistered = false;
    if (!cleanupRegistered) cleanupRegistered = atexit(ReleaseServiceFiles) == 0;
    if (int sig = PendingStopSignal()) {
        ReleaseServiceFiles();
        ReportStartStatus(kExitSignalBase + sig);
        return kExitSignalBase + sig;
    }

    int argc = static_cast<int>(reinterpret_cast<intptr_t>(shm.GetSlot(kSlotServiceArgc)));
    char** argv = static_cast<char**>(shm.GetSlot(kSlotServiceArgv));
    if (plchr) plchr->SetBeforeMain(ReportMainReached);
    int result = RunJavaMain(argc, argv, SetIsServiceFlag, 0, nullptr);
    ReportStartStatus(result);  // nothing when main was reached
    NotifyServiceEnded();

    if (plchr) plchr->Close();
    ReleaseServiceFiles();
    StopServiceHandler();
    // A launch failure must not look like a service that ended well.
    return result;
}
