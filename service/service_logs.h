// The launcher's log files while it runs: rotated by size when the settings
// ask for it (logmaxsize, logkeep), reopened on SIGHUP on the service roads.
#ifndef TVX_SERVICE_SERVICE_LOGS_H
#define TVX_SERVICE_SERVICE_LOGS_H

// Default number of old files kept when only logmaxsize is given.
constexpr int kDefaultLogKeep = 5;

// A size as the settings write it: digits with an optional K, M or G
// (powers of 1024). 0 when absent; -1 when malformed or below 1 KiB.
long long ParseLogSize(const char* text);
// logkeep: 0 to 99; -1 when malformed. Absent: kDefaultLogKeep.
int ParseLogKeep(const char* text);

// Starts the thread that looks after the log files, when logmaxsize is set
// or `reopenOnHangup` asks for SIGHUP handling (the service roads); once.
void KeepLogs(bool reopenOnHangup);
// From now on SIGHUP reopens the log files (installed once the virtual
// machine exists, in place of its own SIGHUP handling, which would end the
// service). Before that SIGHUP is ignored on the service roads.
void InstallReopenOnHangup();

#endif  // TVX_SERVICE_SERVICE_LOGS_H
