// Service mode: the service command line, daemon operation, lock and pid
// files, stop handling, installation into the init system.
#ifndef TVX_SERVICE_SERVICE_H
#define TVX_SERVICE_SERVICE_H

#include <sys/types.h>

#include "base/my_string.h"
#include "launch/messages.h"

// Buffer sizes of the service's names and files.
constexpr int kServicePathSize = 300;     // execpath, pidfile, lockfile, init directories
constexpr int kServiceNameSize = 100;     // prog
constexpr int kServiceScriptSize = 10240; // a formatted unit, job or init script

// Result codes of installation and removal: the id of the reason's message,
// which is also the exit status.
enum {
    kServiceOk = 0,
    kServiceAccessDenied = kMsgAccessDenied,
    kServiceExists = kMsgServiceExists,
    kServiceRefused = kMsgErrorOccurs,
    kServiceMissing = kMsgServiceMissing,
    kServiceForeign = kMsgServiceForeign,
};

// Exit statuses of the service roads other than launch results.
constexpr int kExitServiceRefused = 1;  // paths too long, or the service cannot detach
constexpr int kExitServiceRunning = 1;  // the lock is held: the service runs already
constexpr int kExitLockFailed = 2;      // the lock could not be taken after detaching
constexpr int kExitSignalBase = 128;    // stopped by a signal before main: 128 + signal
constexpr int kExitStartLost = 1;       // a detached child ended without a status the starter could read
// Start status reported by a detached child that reached the application's main.
constexpr int kStartReachedMain = 0;

int RunService(int argc, char** argv);

// --- Paths and locks ---------------------------------------------------------

extern char execpath[kServicePathSize];  // full path of the executable
extern char prog[kServiceNameSize];      // its file name: the service name
extern char pidfile[kServicePathSize];   // "/var/run/<prog>.pid"
extern char lockfile[kServicePathSize];  // "/var/lock/subsys/<prog>" or "/var/lock/<prog>"
extern int fdlock;                       // descriptor holding the service lock, -1 when none

// Fills the paths above. False when the executable's path or name does not
// fit its buffer; the values are then empty.
bool PreparePaths();
// True when the service lock is free; with `remove` the free lock file is deleted.
bool TestLock(bool remove);
// True when this process now holds the service lock.
bool AcquireLock();
// Deletes the lock file and drops the lock; a second call does nothing.
void ReleaseLock();
// Why the lock file cannot be used, when the reason is one the user can
// act on: a symbolic link in its place, or a file owned by another user.
// Empty otherwise.
MyCString LockProblem();
// When another process holds the service lock: the line that names it and
// its pid. Empty otherwise.
MyCString LockHolderLine();
// Writes "<pid>\n" into pidfile; false when it cannot be written.
bool WritePidFile();
void RemovePidFile();
// Removes the pid file, then the lock file, and drops the lock, when this
// process holds it; otherwise does nothing. Safe from any thread and at exit.
void ReleaseServiceFiles();

// --- Running as a service -------------------------------------------------------

// Runs the application under the lock and pid file, detached when `daemonize`.
// The arguments come from process-block slots 11 and 12; the first two
// parameters are not used. Returns the launch result.
int TheServiceMainLinux(unsigned argc, char** argv, bool daemonize);
// Start callback of the service run: flags the Java side and installs the
// stop handling for SIGTERM.
void SetIsServiceFlag();
// The stop steps for signal `sig`: the application's onStop, pid file and
// lock released, then the previous SIGTERM disposition. Runs them on the
// calling thread; a signal that arrives is forwarded by the handler to the
// service's stop thread, which runs the same steps.
void ServiceHandler(int sig);
// Puts the previous SIGTERM and SIGINT dispositions back and ends the stop thread.
void StopServiceHandler();
// From the start of a service run until the virtual machine exists, SIGTERM
// and SIGINT only record a stop request.
void InstallEarlyStopHandling();
// The signal of a recorded stop request, 0 when none.
int PendingStopSignal();

// --- Start status of a detached service ------------------------------------------

// Detaches like daemon(1, 1). Returns only in the detached child; the
// starting process waits for ReportStartStatus and exits with that status
// (0: the application's main was reached), after showing on its standard
// output what the child would have shown on its own.
void DetachWithStartStatus();
// In the detached child: sends the start status to the starter, once; does
// nothing in a process that was not detached that way.
void ReportStartStatus(int status);

// SIGTERM disposition found when the service handler was installed.
extern void (*fnPrevServiceTerm)(int);

// --- Installation ----------------------------------------------------------------

extern char systemdp[kServicePathSize];
extern char upstartp[kServicePathSize];

int InstallService(bool autoStart, const MyCString& args);
int UninstallService();
bool IsSystemD();
bool IsUpStart();
int InstallServiceSystemD(bool autoStart, const MyCString& args);
int InstallServiceUpStart(bool autoStart, const MyCString& args);
int InstallServiceSysV(bool autoStart, const MyCString& args);
int UninstallServiceSystemD();
int UninstallServiceUpStart();
int UninstallServiceSysV();

typedef char ServiceScript[kServiceScriptSize];

// Creates `path` (never over an existing file) holding `text`, then gives it
// `finalMode` unless that is 0. 280 when it exists, 277 when it cannot be
// created or written; a partial file is removed.
int WriteServiceFile(const char* path, const char* text, int length, mode_t finalMode);

// Format the unit, job or init script; return the text's length, or -1 (and
// an empty buffer) when it does not fit.
int BuildScriptSystemD(ServiceScript& buffer, const char* name, const char* path, const char* args);
int BuildScriptUpStart(ServiceScript& buffer, const char* name, const char* runlevels, const char* path,
                       const char* args);
int BuildScriptSysV(ServiceScript& buffer, const char* name, const char* path, const char* runlevels,
                    int priority, const char* args);

// Checks of what is written into init files and shell commands. Each returns
// null (empty) when the text is acceptable, else a sentence saying what is wrong.
const char* CheckServiceName(const char* name);
const char* CheckServicePath(const char* path);
// Why systemd would refuse "<name>.service" as a unit name (it takes ASCII
// letters, digits and ":_.-", one "@" between a template's name and its
// instance, 255 bytes at most); null when it takes it.
const char* CheckSystemDUnitName(const char* name);
// Arguments are refused only for control characters; the sentence names the
// argument and the reason.
MyCString CheckServiceArguments(const char* args);

// The executable a unit, job or init script starts (the word after
// "ExecStart=" or "exec ", or the "execbase=" value), read from the file's
// `length` bytes; empty when it names none.
MyCString ServiceFileExecutable(const char* text, int length);
// After kServiceForeign: the executable the service that was left in place starts.
extern char foreignexec[kServicePathSize];

// The stored service arguments (an ArgvToCmdline line), each quoted so that
// systemd's ExecStart= or a shell reads it back unchanged.
MyCString QuoteArgumentsSystemD(const char* args);
MyCString QuoteArgumentsShell(const char* args);

#endif  // TVX_SERVICE_SERVICE_H
