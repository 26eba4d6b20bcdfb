// The settings that make the systemd unit one an administrator would deploy,
// and the drop-in file they become (<unit directory>/<prog>.service.d/tvx.conf).
#ifndef TVX_SERVICE_SYSTEMD_DROPIN_H
#define TVX_SERVICE_SYSTEMD_DROPIN_H

#include "base/my_string.h"
#include "service/service.h"

struct SystemdOptions {
    bool any = false;               // at least one of the settings is given
    MyCString user;                 // serviceuser
    MyCString group;                // that user's primary group (filled at install)
    MyCString restart;              // servicerestart
    unsigned watchdogSeconds = 0;   // servicewatchdog, 0: none
    unsigned stopSeconds = 0;       // stoptimeout, 0: none
    bool networkOnline = false;     // servicenetwork true
    bool applicationReady = false;  // serviceready application
    // The unit's CacheDirectory= (startupcache true): systemd makes
    // /var/cache/NAME for the service's user, and the launcher keeps its
    // startup cache there ($CACHE_DIRECTORY) when the user has no home.
    MyCString cacheDirectory;
};

// The raw setting values (null or empty when absent) checked and read into
// `options`. Returns an empty text, or the sentence saying what is wrong.
MyCString ParseSystemdOptions(const char* user, const char* restart, const char* watchdog, const char* stopTimeout,
                              const char* network, const char* ready, SystemdOptions& options);

// A number of seconds as the settings write it: 1 to 2147483, digits only.
// 0 when absent; -1 when malformed.
long ParseSeconds(const char* text);

// The drop-in's text. `ownedFiles` are the launcher's files that the service
// user must be able to write (prepared, as root, before each start). Returns
// the length, or -1 (and an empty buffer) when it does not fit.
int BuildDropInSystemD(ServiceScript& buffer, const SystemdOptions& options, const char* const* ownedFiles,
                       int ownedCount);

// The settings of this executable, read through the process's loader.
MyCString ReadSystemdOptions(SystemdOptions& options);

// Install steps (prog, execpath, lockfile, pidfile and systemdp set):
// reads and checks the settings and the service user (kServiceRefused, with
// the reason shown, when they cannot be used); writes the drop-in, its
// directory made when missing (a drop-in left by an earlier install is
// replaced); removes it and its directory when empty.
int PrepareSystemdDropIn(SystemdOptions& options);
int WriteSystemdDropIn(const SystemdOptions& options);
void RemoveSystemdDropIn();

// "<unit directory><prog>.service.d/" and its "tvx.conf"; false when too long.
bool SystemdDropInPaths(char (&directory)[kServicePathSize], char (&file)[kServicePathSize]);

#endif  // TVX_SERVICE_SYSTEMD_DROPIN_H
