// The drop-in written beside the unit when the settings ask for more than
// the plain unit: readiness through the notification protocol, a user of
// its own, a restart policy, the watchdog, a stop bound, the network.
#include "service/systemd_dropin.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launch/messages.h"
#include "settings/settings_loader.h"

namespace {

const char* const kRestartValues[] = {"no", "on-success", "on-failure", "on-abnormal", "on-watchdog", "on-abort",
                                      "always"};

bool Given(const char* value) { return value && *value; }

// User and group names go unquoted onto unit and command lines.
bool IsPlainUserName(const char* name) {
    if (!name[0] || name[0] == '-' || strlen(name) > 32) return false;
    for (const char* p = name; *p; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                  c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// A name systemd takes for CacheDirectory= (below /var/cache, one level).
bool IsUnitDirectoryName(const char* name) {
    if (!name[0] || name[0] == '.' || strlen(name) > 200) return false;
    for (const char* p = name; *p; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                  c == '-' || c == '.' || c == '@';
        if (!ok) return false;
    }
    return true;
}

void Append(MyCString& text, const char* part) { text += part; }

void AppendLine(MyCString& text, const char* key, const char* value) {
    text += key;
    text += value;
    text += "\n";
}

void AppendSeconds(MyCString& text, const char* key, unsigned seconds) {
    char number[16];
    snprintf(number, sizeof number, "%u", seconds);
    AppendLine(text, key, number);
}

}  // namespace

long ParseSeconds(const char* text) {
    if (!Given(text)) return 0;
    long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || p - text >= 7) return -1;
        value = value * 10 + (*p - '0');
    }
    return value >= 1 && value <= 2147483 ? value : -1;
}

MyCString ParseSystemdOptions(const char* user, const char* restart, const char* watchdog, const char* stopTimeout,
                              const char* network, const char* ready, SystemdOptions& options) {
    options = SystemdOptions();
    options.any = Given(user) || Given(restart) || Given(watchdog) || Given(stopTimeout) || Given(network) ||
                  Given(ready);
    if (Given(user)) {
        if (!IsPlainUserName(user)) return MyCString("serviceuser must be a user name (letters, digits, '_', '-', '.').");
        options.user = user;
    }
    if (Given(restart)) {
        bool known = false;
        for (const char* value : kRestartValues) known = known || strcmp(value, restart) == 0;
        if (!known)
            return MyCString(
                "servicerestart must be one of no, on-success, on-failure, on-abnormal, on-watchdog, on-abort, always.");
        options.restart = restart;
    }
    long seconds = ParseSeconds(watchdog);
    if (seconds < 0) return MyCString("servicewatchdog must be a number of seconds from 1 to 2147483.");
    options.watchdogSeconds = static_cast<unsigned>(seconds);
    seconds = ParseSeconds(stopTimeout);
    if (seconds < 0) return MyCString("stoptimeout must be a number of seconds from 1 to 2147483.");
    options.stopSeconds = static_cast<unsigned>(seconds);
    if (Given(network)) {
        if (strcasecmp(network, "true") == 0)
            options.networkOnline = true;
        else if (strcasecmp(network, "false") != 0)
            return MyCString("servicenetwork must be true or false.");
    }
    if (Given(ready)) {
        if (strcasecmp(ready, "application") == 0)
            options.applicationReady = true;
        else if (strcasecmp(ready, "main") != 0)
            return MyCString("serviceready must be main or application.");
    }
    return MyCString();
}

int BuildDropInSystemD(ServiceScript& buffer, const SystemdOptions& options, const char* const* ownedFiles,
                       int ownedCount) {
    MyCString text("# Written by -install from the executable's settings; -uninstall removes it.\n");
    if (options.networkOnline) {
        Append(text, "[Unit]\n");
        AppendLine(text, "Wants=", "network-online.target");
        AppendLine(text, "After=", "network-online.target");
        Append(text, "\n");
    }
    Append(text, "[Service]\n");
    AppendLine(text, "Type=", "notify");
    AppendLine(text, "NotifyAccess=", "main");
    if (!options.user.IsEmpty()) {
        AppendLine(text, "User=", options.user);
        AppendLine(text, "Group=", options.group.IsEmpty() ? options.user.c_str() : options.group.c_str());
        if (ownedCount > 0) {
            // Run as root ('+') before each start: the pid file, the lock and
            // the logs exist and belong to the service's user; a symbolic
            // link in their place is left alone (the launcher refuses it).
            MyCString owner = options.user;
            owner += ":";
            owner += options.group.IsEmpty() ? options.user.c_str() : options.group.c_str();
            text += "ExecStartPre=+/bin/sh -c 'for f; do [ -L \"$$f\" ] || { touch \"$$f\" && chown ";
            text += owner;
            text += " \"$$f\"; }; done' tvx-prepare";
            for (int i = 0; i < ownedCount; ++i) {
                text += " ";
                text += ownedFiles[i];
            }
            text += "\n";
        }
    }
    if (!options.cacheDirectory.IsEmpty()) AppendLine(text, "CacheDirectory=", options.cacheDirectory);
    if (!options.restart.IsEmpty()) AppendLine(text, "Restart=", options.restart);
    if (options.watchdogSeconds) AppendSeconds(text, "WatchdogSec=", options.watchdogSeconds);
    if (options.stopSeconds) AppendSeconds(text, "TimeoutStopSec=", options.stopSeconds);
    int length = text.GetLength();
    if (length >= kServiceScriptSize) {
        buffer[0] = '\0';
        return -1;
    }
    memcpy(buffer, text.c_str(), static_cast<size_t>(length) + 1);
    return length;
}

MyCString ReadSystemdOptions(SystemdOptions& options) {
    CSettingsLoader* loader = pldr;
    if (!loader) {
        options = SystemdOptions();
        return MyCString();
    }
    MyCString user = loader->GetCommon("serviceuser");
    MyCString restart = loader->GetCommon("servicerestart");
    MyCString watchdog = loader->GetCommon("servicewatchdog");
    MyCString stop = loader->GetCommon("stoptimeout");
    MyCString network = loader->GetCommon("servicenetwork");
    MyCString ready = loader->GetCommon("serviceready");
    MyCString result = ParseSystemdOptions(user, restart, watchdog, stop, network, ready, options);
    // A service of its own user keeps its startup cache in the directory
    // systemd makes for it (a root service uses /var/cache/tvx).
    MyCString cache = CSettingsLoader::EnvProcess(loader->GetCommon("startupcache"), false);
    if (result.IsEmpty() && !options.user.IsEmpty() && cache.CompareNoCase("true") == 0 && IsUnitDirectoryName(prog))
        options.cacheDirectory = prog;
    return result;
}

namespace {

// The launcher's own files a service user must be able to write: the pid
// file, the lock and the log files given as absolute paths (a relative one
// depends on the working directory and is left to the administrator).
int OwnedFiles(MyCStringArray& files) {
    files.Add(pidfile);
    files.Add(lockfile);
    CSettingsLoader* loader = pldr;
    MyCString err = loader ? loader->GetStderr() : MyCString();
    if (err.IsEmpty() && loader) {
        err = loader->ExePath();
        err += ".stderr.log";
    }
    MyCString out = loader ? loader->GetStdout() : MyCString();
    const MyCString* logs[] = {&err, &out};
    for (const MyCString* path : logs) {
        if (path->GetLength() > 1 && (*path)[0] == '/') files.Add(*path);
    }
    return files.GetCount();
}

// Paths go unquoted onto the ExecStartPre= line.
bool IsPlainPath(const char* path) {
    for (const char* p = path; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        bool ok = c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  strchr("/._-+,:=@", c) != nullptr;
        if (!ok) return false;
    }
    return true;
}

}  // namespace

bool SystemdDropInPaths(char (&directory)[kServicePathSize], char (&file)[kServicePathSize]) {
    int n = snprintf(directory, sizeof directory, "%s%s.service.d/", systemdp, prog);
    int m = snprintf(file, sizeof file, "%s%s.service.d/tvx.conf", systemdp, prog);
    return n > 0 && n < kServicePathSize && m > 0 && m < kServicePathSize;
}

int PrepareSystemdDropIn(SystemdOptions& options) {
    MyCString problem = ReadSystemdOptions(options);
    if (problem.IsEmpty() && !options.user.IsEmpty()) {
        struct passwd* account = getpwnam(options.user);
        if (!account) {
            problem = "serviceuser names no user of this system: ";
            problem += options.user;
        } else {
            struct group* primary = getgrgid(account->pw_gid);
            if (primary && IsPlainUserName(primary->gr_name)) options.group = primary->gr_name;
        }
    }
    if (problem.IsEmpty()) return kServiceOk;
    MyCString text("ERROR: ");
    text += problem;
    ReportMessage(text);
    return kServiceRefused;
}

int WriteSystemdDropIn(const SystemdOptions& options) {
    char directory[kServicePathSize];
    char file[kServicePathSize];
    if (!SystemdDropInPaths(directory, file)) {
        ReportMessage("ERROR: The service's file path must be shorter than 300 bytes.");
        return kServiceRefused;
    }
    MyCStringArray files;
    if (!options.user.IsEmpty()) OwnedFiles(files);
    CBufferT<const char*> owned;
    for (int i = 0; i < files.GetCount(); ++i) {
        if (IsPlainPath(files[i])) owned.Append(files[i]);
    }
    ServiceScript text;
    int length = BuildDropInSystemD(text, options, owned.GetData(), owned.GetSize());
    if (length < 0) {
        ReportMessage("ERROR: The service's script would be longer than 10240 bytes.");
        return kServiceRefused;
    }
    struct stat st;
    if (mkdir(directory, 0755) != 0 && (errno != EEXIST || lstat(directory, &st) != 0 || !S_ISDIR(st.st_mode)))
        return kServiceAccessDenied;
    if (lstat(file, &st) == 0 && S_ISREG(st.st_mode)) unlink(file);
    return WriteServiceFile(file, text, length, 0644);
}

void RemoveSystemdDropIn() {
    char directory[kServicePathSize];
    char file[kServicePathSize];
    if (!SystemdDropInPaths(directory, file)) return;
    unlink(file);
    rmdir(directory);  // only when nothing else is in it
}
