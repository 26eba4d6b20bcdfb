// Registration of the executable as a system service under systemd, Upstart
// or SysV init (detected afresh on every call, in that order).
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launch/messages.h"
#include "service/service.h"
#include "service/systemd_dropin.h"

char systemdp[kServicePathSize];
char upstartp[kServicePathSize];
char foreignexec[kServicePathSize];

namespace {

struct InitFile {
    const char* directory;
    const char* suffix;
};

// True when `command` prints, as its first word, a path that can be read.
bool CommandFindsReadablePath(const char* command) {
    FILE* f = popen(command, "r");
    if (!f) return false;
    char word[kServicePathSize];
    memset(word, 0, sizeof word);
    int matched = fscanf(f, "%299s", word);
    pclose(f);
    return matched == 1 && word[0] && access(word, R_OK) == 0;
}

bool SetDirectory(char (&target)[kServicePathSize], const char* directory) {
    int n = snprintf(target, sizeof target, "%s", directory);
    return n > 0 && n < kServicePathSize;
}

// Runs `format` with the service name through the shell, not reading its
// output; the name was checked to hold no character the shell acts on.
void RunServiceCommand(const char* format) {
    char command[kServicePathSize];
    int n = snprintf(command, sizeof command, format, prog);
    if (n < 0 || n >= kServicePathSize) return;
    FILE* f = popen(command, "r");
    if (f) pclose(f);
}

// Full path of the service's file in `directory`; false when it does not fit.
bool ServiceFilePath(char (&path)[kServicePathSize], const InitFile& file) {
    int n = snprintf(path, sizeof path, "%s%s%s", file.directory, prog, file.suffix);
    if (n > 0 && n < kServicePathSize) return true;
    ReportMessage("ERROR: The service's file path must be shorter than 300 bytes.");
    return false;
}

int RefuseScript() {
    ReportMessage("ERROR: The service's script would be longer than 10240 bytes.");
    return kServiceRefused;
}

// Steps shared by the three init systems; a null directory is one that
// cannot be written.
// The service lock is free; when it is not, the process that holds it is named.
bool LockFree() {
    if (TestLock(true)) return true;
    MyCString holder = LockHolderLine();
    if (!holder.IsEmpty()) ReportMessage(holder);
    return false;
}

int InstallFile(const InitFile& file, const char* text, int length, mode_t finalMode) {
    if (!LockFree() || !file.directory || access(file.directory, W_OK) != 0) return kServiceAccessDenied;
    char path[kServicePathSize];
    if (!ServiceFilePath(path, file)) return kServiceRefused;
    if (access(path, F_OK) == 0) return kServiceExists;
    if (length < 0) return RefuseScript();
    return WriteServiceFile(path, text, length, finalMode);
}

// True when the service file at `path` starts an executable other than this
// one (copies of one program in two directories share the service name);
// its path is then kept in foreignexec. A file that names no executable,
// or one that no longer exists, belongs to nobody else.
bool StartsAnotherExecutable(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    static char text[2 * kServiceScriptSize];
    ssize_t length = read(fd, text, sizeof text);
    close(fd);
    if (length <= 0) return false;
    MyCString named = ServiceFileExecutable(text, static_cast<int>(length));
    if (named.IsEmpty() || named.Compare(execpath) == 0) return false;
    struct stat other, self;
    if (stat(named, &other) != 0) return false;
    if (stat(execpath, &self) == 0 && self.st_dev == other.st_dev && self.st_ino == other.st_ino) return false;
    snprintf(foreignexec, sizeof foreignexec, "%s", named.c_str());
    return true;
}

int UninstallFile(const InitFile& file, const char* command) {
    if (!LockFree() || !file.directory || access(file.directory, W_OK) != 0) return kServiceAccessDenied;
    char path[kServicePathSize];
    if (!ServiceFilePath(path, file)) return kServiceRefused;
    struct stat st;
    if (lstat(path, &st) != 0) return kServiceMissing;
    if (StartsAnotherExecutable(path)) return kServiceForeign;
    if (command) RunServiceCommand(command);
    return unlink(path) == 0 ? kServiceOk : kServiceAccessDenied;
}

// The SysV directory: "/etc/rc.d/init.d/" when writable, else "/etc/init.d/".
const char* SysVDirectory() {
    static const char* const kDirectories[] = {"/etc/rc.d/init.d/", "/etc/init.d/"};
    for (const char* directory : kDirectories) {
        if (access(directory, W_OK) == 0) return directory;
    }
    return nullptr;
}

// Name and path go unquoted into init files and shell commands: refuse
// anything a shell or systemd would act on; arguments are quoted where they
// are written, and refused only when no file line can carry them. The
// reason is shown.
int CheckInstallation(bool withArguments, const MyCString& args) {
    MyCString problem = CheckServiceName(prog);
    if (problem.IsEmpty()) problem = CheckServicePath(execpath);
    if (problem.IsEmpty() && withArguments) problem = CheckServiceArguments(args);
    if (problem.IsEmpty()) return kServiceOk;
    MyCString text("ERROR: ");
    text += problem;
    ReportMessage(text);
    return kServiceRefused;
}

}  // namespace

// Creates `path` (never over an existing file) holding `text`, mode
// `finalMode` or 0644 whatever the umask: root starts what it says, so
// nobody else may write it. 280 when it exists, 277 when it cannot be
// created or written; a partial file is removed.
int WriteServiceFile(const char* path, const char* text, int length, mode_t finalMode) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno == EEXIST ? kServiceExists : kServiceAccessDenied;
    bool ok = write(fd, text, static_cast<size_t>(length)) == length;
    if (ok) ok = fchmod(fd, finalMode ? finalMode : 0644) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        unlink(path);
        return kServiceAccessDenied;
    }
    return kServiceOk;
}

bool IsSystemD() {
    static const char* const kDirectories[] = {"/lib/systemd/system/", "/usr/lib/systemd/system/"};
    for (const char* directory : kDirectories) {
        if (access(directory, R_OK) == 0)
            return SetDirectory(systemdp, directory) && CommandFindsReadablePath("which systemctl");
    }
    return false;
}

bool IsUpStart() {
    if (access("/etc/init/", R_OK) != 0) return false;
    return SetDirectory(upstartp, "/etc/init/") && CommandFindsReadablePath("which initctl");
}

int InstallService(bool autoStart, const MyCString& args) {
    int checked = CheckInstallation(true, args);
    if (checked != kServiceOk) return checked;
    if (IsSystemD()) return InstallServiceSystemD(autoStart, args);
    if (IsUpStart()) return InstallServiceUpStart(autoStart, args);
    return InstallServiceSysV(autoStart, args);
}

int UninstallService() {
    int checked = CheckInstallation(false, MyCString());
    if (checked != kServiceOk) return checked;
    if (IsSystemD()) return UninstallServiceSystemD();
    if (IsUpStart()) return UninstallServiceUpStart();
    return UninstallServiceSysV();
}

int InstallServiceSystemD(bool autoStart, const MyCString& args) {
    if (const char* problem = CheckSystemDUnitName(prog)) {
        MyCString text;
        text.Format("ERROR: The unit name \"%s.service\" cannot be installed: %s", prog, problem);
        ReportMessage(text);
        return kServiceRefused;
    }
    SystemdOptions options;
    int checked = PrepareSystemdDropIn(options);
    if (checked != kServiceOk) return checked;
    ServiceScript script;
    int length = BuildScriptSystemD(script, prog, execpath, args);
    int result = InstallFile(InitFile{systemdp, ".service"}, script, length, 0);
    if (result == kServiceOk && options.any) {
        result = WriteSystemdDropIn(options);
        if (result != kServiceOk) UninstallFile(InitFile{systemdp, ".service"}, nullptr);
    }
    if (result == kServiceOk && autoStart) RunServiceCommand("systemctl enable \"%s\"");
    return result;
}

int InstallServiceUpStart(bool autoStart, const MyCString& args) {
    ServiceScript script;
    int length = BuildScriptUpStart(script, prog, autoStart ? "2345" : "", execpath, args);
    return InstallFile(InitFile{upstartp, ".conf"}, script, length, 0);
}

int InstallServiceSysV(bool autoStart, const MyCString& args) {
    ServiceScript script;
    int length = BuildScriptSysV(script, prog, execpath, autoStart ? "35" : "-", 70, args);
    int result = InstallFile(InitFile{SysVDirectory(), ""}, script, length, 0755);
    if (result == kServiceOk) RunServiceCommand("chkconfig --add \"%s\"");
    return result;
}

int UninstallServiceSystemD() {
    int result = UninstallFile(InitFile{systemdp, ".service"}, "systemctl disable \"%s\"");
    if (result == kServiceOk) RemoveSystemdDropIn();
    return result;
}

int UninstallServiceUpStart() { return UninstallFile(InitFile{upstartp, ".conf"}, nullptr); }

int UninstallServiceSysV() { return UninstallFile(InitFile{SysVDirectory(), ""}, "chkconfig --del \"%s\""); }
