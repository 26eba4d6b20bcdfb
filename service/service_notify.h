// What the service tells systemd at each step of its life. Every function
// does nothing when the launcher was not started by systemd.
#ifndef TVX_SERVICE_SERVICE_NOTIFY_H
#define TVX_SERVICE_SERVICE_NOTIFY_H

#include <jni.h>

// Values of ServiceStatusManager's status constants.
enum { kJavaStatusStartPending = 2, kJavaStatusRunning = 4, kJavaStatusPaused = 7 };

// How long each start-pending report of the application extends systemd's
// start timeout.
constexpr unsigned kStartExtensionSeconds = 30;

// The service run begins (before the runtime is looked for).
void NotifyServiceStarting();
// The detached child `child` will run the application (the daemon road).
void NotifyMainPid(int child);
// The application's main is about to run in `vm`: readiness (unless the
// application reports it itself) and the watchdog.
void NotifyMainReached(JavaVM* vm);
// A stop request arrived.
void NotifyStopping();
// The application reported a ServiceStatusManager status.
void NotifyApplicationStatus(int status);
// The stop is within its bound and still going: systemd waits `seconds` more.
void NotifyStopExtension(unsigned seconds);
// The service run is over: the watchdog stops pinging.
void NotifyServiceEnded();

// True when the settings say the application reports its own readiness
// ("serviceready application").
bool ApplicationReportsReadiness();

#endif  // TVX_SERVICE_SERVICE_NOTIFY_H
