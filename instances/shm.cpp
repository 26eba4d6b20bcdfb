// The process block shared by the launcher's code copies in one process, and
// the System V instance segment shared by the instances of one application.
#include "instances/shm.h"

#include <errno.h>
#include <stdint.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/file.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/platform.h"
#include "base/trusted_dir.h"

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

// How long a start waits for another start of the same application to
// finish setting up the segment before it goes on without its turn.
constexpr int kTurnWaitMs = 3000;

// Written at byte 4 of a segment by the start that cleared it: whose segment
// it is. ftok keeps 16 bits of the key file's inode and 8 of its device, so
// unrelated applications can share a key; the full identity tells them apart.
struct SegmentIdentity {
    char magic[8];
    uint64_t device;
    uint64_t inode;
};
const char kIdentityMagic[8] = {'t', 'v', 'x', '-', 'k', 'e', 'y', '1'};
constexpr int kIdentityOffset = 4;
static_assert(sizeof(SegmentIdentity) == 24, "the record has one layout on every processor");

// The directory of this user's instance locks, which nobody else can write:
// /run/tvx for root, $XDG_RUNTIME_DIR/tvx for others; -1 (and `why`) when
// there is none.
int PrivateLockDirectory(MyCString* why) {
    static int dir = -2;
    static MyCString reason;
    if (dir == -2) {
        MyCString path;
        const char* runtime = getenv("XDG_RUNTIME_DIR");
        if (geteuid() == 0) {
            path = "/run/tvx";
        } else if (runtime && runtime[0] == '/') {
            path = runtime;
            path += "/tvx";
        }
        if (path.IsEmpty())
            reason = "no private directory for locks (XDG_RUNTIME_DIR is not set)";
        dir = path.IsEmpty() ? -1 : OpenTrustedDirectory(path, &reason);
    }
    if (dir < 0 && why) *why = reason;
    return dir;
}

// Opens (creating it, mode 0600) the lock file `name` in the private lock
// directory; -1 when it cannot.
int OpenPrivateLock(const MyCString& base, const char* suffix, MyCString* why) {
    int dir = PrivateLockDirectory(why);
    if (dir < 0 || base.IsEmpty()) return -1;
    MyCString name(base);
    name += suffix;
    int fd = openat(dir, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        fd = -1;
    }
    if (fd < 0 && why) why->Format("cannot open its lock file: %s", strerror(errno));
    return fd;
}

// Takes an exclusive flock on `fd`, waiting at most `ms` milliseconds.
bool LockWithin(int fd, int ms) {
    for (int waited = 0;; waited += 10) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (waited >= ms) return false;
        usleep(10000);
    }
}

// The key file opened for its identity: a regular file, reached without
// following a link or blocking on a FIFO; a key file in /tmp must be this
// user's and writable by nobody else, or another user could replace it and
// so key another segment. -1 with `why` otherwise.
int OpenKeyFile(const MyCString& path, bool shared, struct stat* st, MyCString* why) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | (shared ? O_NOFOLLOW : 0));
    if (fd < 0) {
        why->Format("the key file %s cannot be opened: %s", path.c_str(), strerror(errno));
        return -1;
    }
    const char* problem = nullptr;
    if (fstat(fd, st) != 0)
        problem = "cannot be examined";
    else if (!S_ISREG(st->st_mode))
        problem = "is not a regular file";
    else if (shared && st->st_uid != geteuid())
        problem = "belongs to another user";
    else if (shared && (st->st_mode & 022) != 0)
        problem = "may be written by others";
    if (problem) {
        why->Format("the key file %s %s", path.c_str(), problem);
        close(fd);
        return -1;
    }
    return fd;
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

CShmHelper::CShmHelper()
    : m_shmid(-1), m_address(nullptr), m_size(0), m_tried(false), m_device(0), m_inode(0), m_single(-1) {}

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
    m_lockName = "appid.";
    m_lockName += id;
    if (m_lockName.GetLength() > 200) m_lockName.SetSize(200);

    // Only the file's identity keys the segment: create it empty when it is
    // missing (mode 0644: nobody else may write it). No truncation, no link
    // followed, never waiting on a FIFO someone put there.
    struct stat st;
    if (lstat(m_key, &st) != 0 && errno == ENOENT) {
        int fd = open(m_key, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd != -1) close(fd);
    }
}

int CShmHelper::HoldSingleInstance() {
    if (m_single >= 0) return 1;
    MyCString why;
    int fd = m_lockName.IsEmpty() ? -1 : OpenPrivateLock(m_lockName, ".single", &why);
    if (fd < 0) {
        // The segment's counter alone decides then; without a segment,
        // nothing does, and that is said.
        if (!m_address)
            SayWarning("Single instance not enforced: %s.",
                    why.IsEmpty() ? "no identity for the application's lock" : why.c_str());
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return 0;
    }
    m_single = fd;
    return 1;
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
    const bool shared = !m_key.IsEmpty();
    MyCString keyFile = shared ? MyCString(m_key) : ModuleFilePath();
    m_key.Release();
    MyCString why;
    struct stat st;
    int turn = keyFile.IsEmpty() ? -1 : OpenKeyFile(keyFile, shared, &st, &why);
    if (turn < 0) {
        SayWarning("Instance segment refused: %s; running without single-instance and instance messages.",
                keyFile.IsEmpty() ? "the executable's path is unknown" : why.c_str());
        return false;
    }
    if (!shared) m_lockName.Format("exe.%llx.%llx", static_cast<unsigned long long>(st.st_dev),
                                   static_cast<unsigned long long>(st.st_ino));
    // ftok's key, from the file that was opened and checked.
    const key_t key = static_cast<key_t>((st.st_ino & 0xffff) | ((st.st_dev & 0xff) << 16) |
                                         (static_cast<unsigned>(kProjectId & 0xff) << 24));
    m_device = static_cast<uint64_t>(st.st_dev);
    m_inode = static_cast<uint64_t>(st.st_ino);
    // Starts of one application take turns from the lookup to the clearing,
    // so that no start clears a segment another has just counted itself in.
    // Anyone who can read the key file can hold its lock, so it is waited
    // for a bounded time only.
    if (!LockWithin(turn, kTurnWaitMs))
        SayWarning("Instance segment: %s stayed locked by another process for %d s; going on without waiting.",
                keyFile.c_str(), kTurnWaitMs / 1000);
    bool attached = Attach(key);
    close(turn);
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
    // this user made and owns, that nobody else can reach, is used. Its
    // creator keeps access whoever it is handed to (IPC_SET), so another
    // user's segment given to this user is still hers. One of this user's
    // that nobody holds any more (left by an older build) is closed to
    // others here, and cleared below.
    const uid_t self = geteuid();
    bool own = status.shm_perm.uid == self && status.shm_perm.cuid == self;
    if (own && (status.shm_perm.mode & 077) != 0 && status.shm_nattch == 0) {
        status.shm_perm.mode = (status.shm_perm.mode & ~0777) | kSegmentMode;
        if (shmctl(id, IPC_SET, &status) != 0) status.shm_perm.mode |= 077;
    }
    if (!own) {
        MyCString whose;
        if (status.shm_perm.uid != self)
            whose.Format("it belongs to user %u", static_cast<unsigned>(status.shm_perm.uid));
        else
            whose.Format("it was made by user %u", static_cast<unsigned>(status.shm_perm.cuid));
        SayWarning("Instance segment refused: %s; running without single-instance and instance messages.",
                whose.c_str());
        return false;
    }
    if ((status.shm_perm.mode & 077) != 0) {
        SayWarning(
            "Instance segment refused: group or others may use it (mode %03o); running without single-instance and "
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
    // The record sits at byte 4, not aligned for its 64-bit fields, so it is
    // copied in and out rather than accessed in place.
    char* record = static_cast<char*>(address) + kIdentityOffset;
    SegmentIdentity identity;
    if (created || status.shm_nattch == 0) {
        if (!created) memset(address, 0, m_size);
        memcpy(identity.magic, kIdentityMagic, sizeof identity.magic);
        identity.device = m_device;
        identity.inode = m_inode;
        memcpy(record, &identity, sizeof identity);
    } else {
        memcpy(&identity, record, sizeof identity);
        if (memcmp(identity.magic, kIdentityMagic, sizeof identity.magic) == 0 &&
            (identity.device != m_device || identity.inode != m_inode)) {
            shmdt(address);
            SayWarning(
                "Instance segment refused: its key %08x is also another application's (the key keeps only part of "
                "a file's identity); running without single-instance and instance messages.",
                static_cast<unsigned>(key));
            return false;
        }
    }
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
