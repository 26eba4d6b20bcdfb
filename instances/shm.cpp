// The process block shared by the launcher's code copies in one process, and
// the System V instance segment shared by the instances of one application.
#include "instances/shm.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/file.h>
#include <sys/shm.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/platform.h"

namespace {

constexpr int kProjectId = 0xFF;
// The instance segment is for its owner alone.
constexpr int kSegmentMode = 0600;
const char kLockFilePrefix[] = "/tmp/appid.";
const char kLockFileSuffix[] = ".tvx.lock";

// IPC key of the running executable (-1 when its path cannot be read).
key_t ExecutableKey() {
    MyCString path = ModuleFilePath();
    return path.IsEmpty() ? -1 : ftok(path, kProjectId);
}

// Start time of this process in clock ticks since boot (field 22 of its
// main thread's stat file); 0 when it cannot be read. The main thread's task
// entry gives the same answer on every thread, where qemu-user answers
// /proc/self/stat with the start time of the thread that asks.
unsigned long long ProcessStartTime() {
    char path[64];
    const int pid = static_cast<int>(getpid());
    snprintf(path, sizeof path, "/proc/%d/task/%d/stat", pid, pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd == -1) return 0;
    char text[1024];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    // The command name (field 2) may hold blanks and parentheses; the
    // fields after it start behind its last ')'.
    char* p = strrchr(text, ')');
    if (!p) return 0;
    for (int field = 2; field < 22 && p; ++field) p = strchr(p + 1, ' ');
    return p ? strtoull(p + 1, nullptr, 10) : 0;
}

// Parses a block address written with "%lX": hexadecimal digits only.
void* ParseAddress(const char* text) {
    if (!text || !*text || strlen(text) > 2 * sizeof(void*)) return nullptr;
    for (const char* p = text; *p; ++p) {
        if (!((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'F') || (*p >= 'a' && *p <= 'f'))) return nullptr;
    }
    return reinterpret_cast<void*>(strtoul(text, nullptr, 16));
}

void SegmentUnavailable(const char* step, int error) {
    SayWarning("Instance segment unavailable (%s: %s); running without single-instance and instance messages.",
               step, strerror(error));
}

}  // namespace

MyCString ProcessBlockVariable(key_t key) {
    MyCString name;
    name.Format("KEYSHM%08X", static_cast<unsigned>(key));
    return name;
}

MyCString ProcessBlockOwnerVariable(key_t key) {
    MyCString name = ProcessBlockVariable(key);
    name += "_OWNER";
    return name;
}

MyCString ProcessIdentity() {
    MyCString identity;
    identity.Format("%d.%llu", static_cast<int>(getpid()), ProcessStartTime());
    return identity;
}

// The block's address travels in the environment, which every child
// inherits. The owner variable names the process that published it (its pid
// and start time), so an address is adopted only inside that process and a
// child publishes a block of its own instead.
CShmWithinProc::CShmWithinProc() : m_block(nullptr), m_size(kProcessBlockSize), m_owner(false) {
    key_t key = ExecutableKey();
    const char* owner = getenv(ProcessBlockOwnerVariable(key));
    if (owner && ProcessIdentity().Compare(owner) == 0) m_block = ParseAddress(getenv(ProcessBlockVariable(key)));
    if (m_block) return;

    m_block = calloc(1, m_size);
    if (!m_block) return;
    m_owner = true;
    Republish();
}

void CShmWithinProc::Republish() {
    if (!m_block) return;
    key_t key = ExecutableKey();
    MyCString value;
    value.Format("%lX", reinterpret_cast<unsigned long>(m_block));
    setenv(ProcessBlockVariable(key), value, 1);
    setenv(ProcessBlockOwnerVariable(key), ProcessIdentity(), 1);
}

CShmWithinProc::~CShmWithinProc() {
    if (!m_owner) return;
    // Withdraw the published address so that nothing in this process adopts
    // the freed block.
    key_t key = ExecutableKey();
    MyCString name = ProcessBlockVariable(key);
    if (ParseAddress(getenv(name)) == m_block) {
        unsetenv(name);
        unsetenv(ProcessBlockOwnerVariable(key));
    }
    free(m_block);
    m_block = nullptr;
}

CShmHelper::CShmHelper() : m_shmid(-1), m_address(nullptr), m_size(0), m_tried(false) {}

CShmHelper::~CShmHelper() {
    if (m_address) {
        shmdt(m_address);
        m_address = nullptr;
        shmid_ds status;
        if (shmctl(m_shmid, IPC_STAT, &status) == 0 && status.shm_nattch == 0) shmctl(m_shmid, IPC_RMID, nullptr);
    }
    m_key.Release();
}

void CShmHelper::setkey(const char* appid) {
    m_key = appid ? appid : "";
    int begin = 0;
    int end = m_key.GetSize();
    while (begin < end && m_key[begin] == ' ') ++begin;
    while (end > begin && m_key[end - 1] == ' ') --end;
    MyCString id(m_key.GetData() + begin, end - begin);
    m_key.Empty();
    if (id.IsEmpty()) return;

    char* p = id.GetBuffer();
    for (int i = 0; i < id.GetSize(); ++i) {
        if (p[i] == '\\' || p[i] == '/' || p[i] == ':') p[i] = '.';
    }
    m_key = kLockFilePrefix;
    m_key += id;
    m_key += kLockFileSuffix;

    // Only the file's identity keys the segment: create it empty when it is
    // missing. No truncation, no symbolic links followed.
    if (access(m_key, R_OK) != 0) {
        int fd = open(m_key, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd != -1) close(fd);
    }
}

CShmHelper::operator void*() {
    if (!m_tried) {
        m_tried = true;
        init();
    }
    return m_address;
}

bool CShmHelper::init() {
    m_size = kInstanceSegmentSize;
    MyCString keyFile = m_key.IsEmpty() ? ModuleFilePath() : MyCString(m_key);
    m_key.Release();
    key_t key = keyFile.IsEmpty() ? -1 : ftok(keyFile, kProjectId);
    // A failed ftok would key every such instance, whatever its
    // application, to the one segment of key -1.
    if (key == -1) {
        SegmentUnavailable("ftok", errno);
        return false;
    }
    // Starts of one application take turns from the lookup to the clearing,
    // so that no start clears a segment another has just counted itself in.
    int turn = open(keyFile, O_RDONLY | O_CLOEXEC);
    if (turn != -1) flock(turn, LOCK_EX);
    bool attached = Attach(key);
    if (turn != -1) close(turn);
    return attached;
}

bool CShmHelper::Attach(key_t key) {
    // A segment made here is new and zero-filled by the system.
    int id = shmget(key, m_size, IPC_CREAT | IPC_EXCL | kSegmentMode);
    bool created = id != -1;
    if (!created && errno == EEXIST) id = shmget(key, 0, 0);
    if (id == -1) {
        SegmentUnavailable("shmget", errno);
        return false;
    }

    shmid_ds status;
    if (shmctl(id, IPC_STAT, &status) != 0) {
        SegmentUnavailable("shmctl", errno);
        return false;
    }
    if (status.shm_segsz < static_cast<size_t>(m_size)) {
        SegmentUnavailable("shmget", EINVAL);
        return false;
    }
    // Other instances deserialise what the segment carries: only a segment
    // of this user that nobody else can write is used. One of this user's
    // that nobody holds any more (left by an older build) is closed to
    // others here, and cleared below.
    bool own = status.shm_perm.uid == geteuid();
    if (own && (status.shm_perm.mode & 022) != 0 && status.shm_nattch == 0) {
        status.shm_perm.mode = (status.shm_perm.mode & ~0777) | kSegmentMode;
        if (shmctl(id, IPC_SET, &status) != 0) status.shm_perm.mode |= 022;
    }
    if (!own) {
        SayWarning(
            "Instance segment refused: it belongs to user %u; running without single-instance and instance messages.",
            static_cast<unsigned>(status.shm_perm.uid));
        return false;
    }
    if ((status.shm_perm.mode & 022) != 0) {
        SayWarning(
            "Instance segment refused: group or others may write it (mode %03o); running without single-instance and "
            "instance messages.",
            static_cast<unsigned>(status.shm_perm.mode & 0777));
        return false;
    }
    m_shmid = id;
    void* address = shmat(id, nullptr, SHM_RND);
    if (address == reinterpret_cast<void*>(-1)) {
        SegmentUnavailable("shmat", errno);
        return false;
    }
    // Nobody attached: whatever is there was left by instances that died.
    if (!created && status.shm_nattch == 0) memset(address, 0, m_size);
    m_address = address;
    return true;
}

bool CountInstance(void* segment) {
    if (!segment) return false;
    int* counter = static_cast<int*>(segment);
    int seen = __atomic_load_n(counter, __ATOMIC_ACQUIRE);
    bool damaged = false;
    for (;;) {
        // A count is never negative and never near the top of its range;
        // such a value was left by damage, and counts as nobody.
        bool plausible = seen >= 0 && seen < kInstanceCountLimit;
        int next = plausible ? seen + 1 : 1;
        if (__atomic_compare_exchange_n(counter, &seen, next, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
            damaged = !plausible;
            break;
        }
    }
    if (damaged) SayWarning("Instance counter damaged; reset, this instance counted as the first.");
    return !damaged && seen > 0;
}
