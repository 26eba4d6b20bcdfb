// Program entry: prepares the process (locale, settings, instance key,
// working directory, output redirection, single-instance policy) and hands
// the command line to the service dispatcher.
#include <errno.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "instances/shm.h"
#include "instances/instances_natives.h"
#include "instances/shm_message.h"
#include "launch/explain_launch.h"
#include "launch/jvm_launcher.h"
#include "launch/launch_driver.h"
#include "launch/messages.h"
#include "redirect/std_redir.h"
#include "service/service.h"
#include "settings/settings_loader.h"

namespace {

// Redirects standard error or output; a target that cannot be opened (a
// symbolic link in its place, a directory that is missing or that this user
// may not write, a FIFO nobody reads) gets one line on the standard error the
// launcher still has, and the stream stays where it was.
void RedirectStream(int (CStdRedir::*redirect)(const char*), const char* name) {
    if ((stdredir.*redirect)(name) != -1) return;
    MyCString refusal = SymlinkRefusal(name);
    if (refusal.IsEmpty()) refusal = stdredir.Refusal(name);
    if (!refusal.IsEmpty()) SayLine(refusal);
}

// Changes into the configured working directory; a directory that cannot
// be entered is named, and the start goes on where it is.
void EnterWorkingDirectory(const MyCString& configured) {
    const char* dir = configured.IsEmpty() ? "." : configured.c_str();
    errno = 0;
    if (ForceCurrentWorkingDirectory(dir) == 0) return;
    const int error = errno;
    char here[4096];
    SayWarning("forcecwd %s cannot be entered (%s); the working directory stays %s", dir,
               error ? strerror(error) : "path too long", getcwd(here, sizeof here) ? here : "unknown");
}

}  // namespace

int main(int argc, char** argv) {
    setlocale(LC_ALL, "");
    CExplain::Start();

    CSettingsLoader loader(true);
    CJvmLauncher launcher;
    if (CExplain::On()) ExplainSettings(loader);

    pldr = &loader;
    shmx.setkey(loader.GetCommon("appid"));
    void* segment = shmx;
    CShmMessage* channel =
        new CShmMessage(segment ? static_cast<char*>(segment) + kMessageChannelOffset : nullptr);

    plchr = &launcher;
    pshmmsg = channel;
    shm.SetSlot(kSlotLoader, &loader);
    shm.SetSlot(kSlotLauncher, &launcher);
    shm.SetSlot(kSlotMessage, channel);

    MyCString cwd = loader.GetForceCwd();
    EnterWorkingDirectory(cwd);
    if (cwd.IsEmpty()) cwd = ".";
    loader.ResetCurDir();

    MyCString errPath = loader.GetStderr();
    const bool errDefault = errPath.IsEmpty();
    if (!errPath.IsEmpty()) {
        RedirectStream(&CStdRedir::RedirectStderr, errPath);
    } else if (!loader.ExePath().IsEmpty()) {
        errPath = loader.ExePath();
        errPath += ".stderr.log";
        RedirectStream(&CStdRedir::RedirectStderr, errPath);
    }
    MyCString outPath = loader.GetStdout();
    bStdredirSame = outPath.Compare(errPath) == 0;
    if (!outPath.IsEmpty()) {
        if (bStdredirSame)
            stdredir.RedirectStdout(outPath);  // a refusal was reported for standard error
        else
            RedirectStream(&CStdRedir::RedirectStdout, outPath);
    }

    MyCString single = loader.GetCommon("singleinstance");
    if (CExplain::On()) ExplainStartup(cwd, errPath, errDefault, outPath, single);
    if (single.CompareNoCase("true") == 0) {
        // The counter of the segment (as ever) and a lock nobody else can
        // hold, which still applies when the segment is refused.
        bool counted = CountInstance(segment);
        if (shmx.HoldSingleInstance() == 0 || counted) {
            ReportMessage(RSTR(kMsgAlreadyRunning));
            exit(kExitAlreadyRunning);
        }
    } else if (single.CompareNoCase("custom") == 0) {
        StartShmMessage();
    }

    int result = RunService(argc - 1, argv + 1);

    launcher.Close();
    pldr = nullptr;
    plchr = nullptr;
    shm.SetSlot(kSlotLoader, nullptr);
    shm.SetSlot(kSlotLauncher, nullptr);
    shm.SetSlot(kSlotMessage, nullptr);
    pshmmsg = nullptr;
    // A receive thread still inside a delivery after the virtual machine
    // has gone cannot be joined; its channel is then left allocated.
    if (channel->Stop()) delete channel;
    launcher.Close();
    return result;
}
