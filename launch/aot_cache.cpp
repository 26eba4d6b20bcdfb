// The assembled archive's two steps. The recording run is the application's own
// run; its record goes into place at exit, and the assembly starts then (or
// at a later start, when the one started at exit was killed, as systemd
// kills what is left of a stopped service). The assembler is a process of
// its own, in a session of its own, holding the record locked while it
// works: a start that finds the record locked knows a cache is being made.
#include "launch/aot_cache.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "launch/cache_upkeep.h"
#include "launch/jvm_launcher.h"
#include "launch/startup_cache.h"

namespace {

// The descriptors the assembler keeps: the cache directory and the record.
const int kDirFd = 3;
const int kRecordFd = 4;
// The idle I/O class (ioprio_set), so that the assembly never competes with
// the application's own reading and writing.
const int kIoprioWhoProcess = 1;
const int kIoprioClassIdle = 3;
const int kIoprioClassShift = 13;

bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

// The -XX flags an assembly must not take over from the application: each
// writes a file, runs a command or starts a recording of its own.
bool HasSideEffects(const char* flag) {
    static const char* const kNames[] = {"OnError",    "OnOutOfMemoryError", "HeapDump",     "ErrorFile",
                                         "StartFlightRecording", "FlightRecorder", "LogFile", "LogVMOutput",
                                         "PerfDataSave", "Flags=",  "VMOptionsFile",      "AbortVMOnException"};
    const char* name = flag + 4;  // past "-XX:"
    if (*name == '+' || *name == '-') ++name;
    for (const char* n : kNames)
        if (StartsWith(name, n)) return true;
    return false;
}

// Puts `dir` at kDirFd and `record` at kRecordFd (without close-on-exec),
// through copies above both, so that neither overwrites the other.
bool KeepDescriptors(int dir, int record) {
    const int dirCopy = fcntl(dir, F_DUPFD, kRecordFd + 1);
    const int recordCopy = fcntl(record, F_DUPFD, kRecordFd + 1);
    return dirCopy >= 0 && recordCopy >= 0 && dup2(dirCopy, kDirFd) == kDirFd &&
           dup2(recordCopy, kRecordFd) == kRecordFd;
}

// Everything but 0 to 2 and the two kept descriptors is closed, so that no
// pipe of the application's caller stays open while the assembly runs.
void CloseOthers() {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, kRecordFd + 1, ~0u, 0) == 0) return;
#endif
    long limit = sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536) limit = 65536;
    for (int fd = kRecordFd + 1; fd < limit; ++fd) close(fd);
}

void ToDevNull() {
    int null = open("/dev/null", O_RDWR);
    if (null < 0) return;
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    if (null > 2) close(null);
}

// The assembler: runs the assembly, then publishes or marks, then sweeps.
// It runs in a child of a process that may have had other threads; glibc's
// fork leaves memory allocation usable in the child.
[[noreturn]] void Assemble(bool training, const char* archive, char* const* argv, const char* exe, const char* jvm,
                           unsigned long long capBytes) {
    using namespace startup_cache;
    setpriority(PRIO_PROCESS, 0, 19);
    syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift);
    const MyCString temporary = TemporaryName(archive);
    bool made = false;
    if (!temporary.IsEmpty() && WriteNewFileAt(kDirFd, temporary, "", 0)) {
        MyCString output;
        output.Format("-XX:%s=/proc/self/fd/%d/%s", training ? "AOTCache" : "SharedArchiveFile", kDirFd,
                      temporary.c_str());
        MyCString record;
        record.Format("-XX:%s=/proc/self/fd/%d", training ? "AOTConfiguration" : "SharedClassListFile", kRecordFd);
        // java's own options variable is read by bin/java only, not by the
        // recording run's virtual machine: it must not shape the assembly.
        unsetenv("JDK_JAVA_OPTIONS");
        int count = 0;
        while (argv[count]) ++count;
        char** full = static_cast<char**>(calloc(static_cast<size_t>(count) + 4, sizeof(char*)));
        pid_t java = -1;
        if (full) {
            int at = 0;
            full[at++] = argv[0];
            full[at++] = const_cast<char*>(training ? "-XX:AOTMode=create" : "-Xshare:dump");
            full[at++] = record.GetBuffer();
            full[at++] = output.GetBuffer();
            for (int i = 1; i < count; ++i) full[at++] = argv[i];
            java = fork();
            if (java == 0) {
                execv(full[0], full);
                _exit(127);
            }
        }
        int status = 0;
        while (java > 0 && waitpid(java, &status, 0) < 0 && errno == EINTR) {
        }
        struct stat st;
        made = java > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
               fstatat(kDirFd, temporary, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
               // The runtime made it with the usual mode; the cache's files
               // are this user's alone.
               fchmodat(kDirFd, temporary, 0600, 0) == 0 && renameat(kDirFd, temporary, kDirFd, archive) == 0;
        if (made) {
            WriteStampAt(kDirFd, archive);
            WriteSourceAt(kDirFd, archive, exe, jvm);
        } else {
            unlinkat(kDirFd, temporary, 0);
        }
    }
    if (!made) WriteNewFileAt(kDirFd, aot_cache::FailedName(archive), "", 0);
    SweepAt(kDirFd, archive, capBytes, time(nullptr));
    // Last, so that a record in place means an assembly not done yet: it
    // goes unless another run has put a newer one in its place.
    struct stat held, named;
    const MyCString record = aot_cache::RecordName(archive, training);
    if (fstat(kRecordFd, &held) == 0 && fstatat(kDirFd, record, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev)
        unlinkat(kDirFd, record, 0);
    _exit(0);
}

// The notice a recording run prints, and the path it names.
char g_recordPath[PATH_MAX];

}  // namespace

namespace aot_cache {

MyCString RecordName(const char* archive, bool training) {
    return startup_cache::NameBeside(archive, training ? ".conf" : ".list");
}

MyCString FailedName(const char* archive) { return startup_cache::NameBeside(archive, ".no"); }

MyCString DynamicName(const char* archive) {
    MyCString name(archive);
    if (name.GetLength() > 4) name.SetSize(name.GetLength() - 4);
    name += ".jsa";
    return name;
}

MyCString JavaOf(const char* jvmPath) {
    // HOME/lib/<vm>/libjvm.so: two directories up is HOME/lib.
    MyCString path(jvmPath);
    for (int up = 0; up < 2; ++up) {
        const char* slash = strrchr(path.c_str(), '/');
        if (!slash || slash == path.c_str()) return MyCString();
        path.SetSize(static_cast<int>(slash - path.c_str()));
    }
    const char* slash = strrchr(path.c_str(), '/');
    if (!slash || strcmp(slash, "/lib") != 0) return MyCString();
    path.SetSize(static_cast<int>(slash - path.c_str()));
    path += "/bin/java";
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode) || access(path, X_OK) != 0) return MyCString();
    return path;
}

const char* Obstacle(const CJvmLauncher& launcher) {
    static const char* const kAgents[] = {"-javaagent", "-agentlib", "-agentpath", "-Xrun", "-Xdebug"};
    for (int i = 0; i < launcher.OptionCount(); ++i) {
        const char* option = launcher.OptionAt(i);
        for (const char* agent : kAgents)
            if (StartsWith(option, agent)) return "an agent is loaded";
        if (!StartsWith(option, "-Djava.class.path=")) continue;
        // Directories cannot be on the class path of an assembled archive.
        const char* entry = option + strlen("-Djava.class.path=");
        while (*entry) {
            const char* end = strchr(entry, ':');
            MyCString path = end ? MyCString(entry, static_cast<int>(end - entry)) : MyCString(entry);
            struct stat st;
            if (!path.IsEmpty() && stat(path, &st) == 0 && S_ISDIR(st.st_mode))
                return "a directory is on the class path";
            if (!end) break;
            entry = end + 1;
        }
    }
    static const char* const kVariables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};
    for (const char* variable : kVariables) {
        const char* value = getenv(variable);
        for (const char* agent : kAgents)
            if (value && strstr(value, agent)) return "an agent is loaded";
    }
    return nullptr;
}

void AssemblyCommand(const char* java, const CJvmLauncher& launcher, bool linkClasses, MyCStringArray& command) {
    command.Add(java);
    if (linkClasses) command.Add("-XX:+AOTClassLinking");
    for (int i = 0; i < launcher.OptionCount(); ++i) {
        const char* option = launcher.OptionAt(i);
        const bool shapes = StartsWith(option, "-Djava.class.path=") || StartsWith(option, "--") ||
                            StartsWith(option, "-Xm") || StartsWith(option, "-Xss") ||
                            (StartsWith(option, "-XX:") && !HasSideEffects(option));
        if (shapes) command.Add(option);
    }
}

bool RecordBusyAt(int dir, const char* record, int* fd) {
    *fd = openat(dir, record, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (*fd < 0) return false;
    struct stat st;
    if (fstat(*fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(*fd);
        *fd = -1;
        return false;
    }
    if (flock(*fd, LOCK_EX | LOCK_NB) == 0) return false;
    close(*fd);
    *fd = -1;
    return true;
}

void StartAssembly(int dir, int recordFd, bool training, const char* archive, const MyCStringArray& command,
                   const char* exe, const char* jvm, unsigned long long capBytes, bool wait) {
    // Everything the assembler needs, ready before the fork.
    CBufferT<char*> argv;
    for (int i = 0; i < command.GetCount(); ++i) argv.Append(const_cast<char*>(command[i]));
    argv.Append(nullptr);
    const pid_t middle = fork();
    if (middle == 0) {
        // A session of its own: no terminal's signals reach the assembly,
        // and the middle process ends at once, so that the assembler
        // belongs to no process that waits for it (unless this one waits).
        setsid();
        if (!wait && fork() != 0) _exit(0);
        if (!KeepDescriptors(dir, recordFd)) _exit(0);
        ToDevNull();
        CloseOthers();
        Assemble(training, archive, argv.GetBuffer(), exe, jvm, capBytes);
    }
    close(recordFd);
    int status;
    while (middle > 0 && waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
}

void QuietenRecordNotice(const char* recordPath) {
    g_recordPath[0] = '\0';
    size_t length = strlen(recordPath);
    if (length < sizeof g_recordPath) memcpy(g_recordPath, recordPath, length + 1);
}

jint JNICALL RecordRunOutput(FILE* stream, const char* format, va_list args) {
    char text[2048];
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    const int fd = stream ? fileno(stream) : -1;
    if (length < 0 || fd < 0) return vfprintf(stream ? stream : stdout, format, args);
    if (static_cast<size_t>(length) >= sizeof text) {
        // Longer than any notice: written as the runtime would.
        char* whole = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
        if (!whole) return vfprintf(stream, format, args);
        vsnprintf(whole, static_cast<size_t>(length) + 1, format, args);
        WriteWhole(fd, whole, static_cast<size_t>(length));
        free(whole);
        return length;
    }
    if (g_recordPath[0] && strstr(text, "AOTConfiguration recorded") && strstr(text, g_recordPath)) return length;
    WriteWhole(fd, text, static_cast<size_t>(length));
    return length;
}

}  // namespace aot_cache
