// The process block shared by the launcher's two code copies in one process,
// and the System V instance segment shared by all instances of one application.
#ifndef TVX_INSTANCES_SHM_H
#define TVX_INSTANCES_SHM_H

#include <stdint.h>
#include <sys/types.h>

#include "base/my_string.h"

// Process-block slots.
enum {
    kSlotLoader = 0,
    kSlotLauncher = 1,
    kSlotMessage = 2,
    kSlotReceiver = 3,
    kSlotServiceHandler = 10,
    kSlotServiceArgc = 11,
    kSlotServiceArgv = 12,
};
constexpr int kProcessBlockSize = 4096;
constexpr int kInstanceSegmentSize = 4096;
constexpr int kMessageChannelOffset = 1024;

// Name of the environment variable holding the process block's address
// ("KEYSHM" and the executable's IPC key in eight hexadecimal digits).
MyCString ProcessBlockVariable(key_t key);
// Name of the variable naming the process that published the address.
MyCString ProcessBlockOwnerVariable(key_t key);
// This process's identity as written into the owner variable.
MyCString ProcessIdentity();

// One 4096-byte block of pointer slots per process. The copy that creates
// it publishes its address; a copy loaded later into the same process adopts
// it (and never frees it).
class CShmWithinProc {
public:
    CShmWithinProc();
    ~CShmWithinProc();
    CShmWithinProc(const CShmWithinProc&) = delete;
    CShmWithinProc& operator=(const CShmWithinProc&) = delete;

    void** Slots() const { return static_cast<void**>(m_block); }
    void* GetSlot(int i) const { return m_block ? Slots()[i] : nullptr; }
    void SetSlot(int i, void* v) {
        if (m_block) Slots()[i] = v;
    }
    bool IsOwner() const { return m_owner; }
    void* Block() const { return m_block; }
    // After fork: publishes the block the child inherited under the child's
    // identity, so that a copy loaded later into the child adopts it.
    void Republish();

private:
    void* m_block;
    int m_size;
    bool m_owner;
};

// The 4096-byte System V segment of one application: the single-instance
// counter (an int at offset 0) and, from byte 1024 on, the message channel.
class CShmHelper {
public:
    CShmHelper();
    ~CShmHelper();
    CShmHelper(const CShmHelper&) = delete;
    CShmHelper& operator=(const CShmHelper&) = delete;

    // Keys the segment by the lock file of `appid` (blanks trimmed, "\", "/" and
    // ":" made "."), or by the executable's path when it is blank.
    void setkey(const char* appid);
    // The segment's address, attaching on first use; null when the segment
    // cannot be created or attached (the reason is on standard error).
    operator void*();
    const MyCString& KeyFile() const { return m_key; }
    // Takes this application's single-instance lock, a file in a directory
    // only this user can write (so another user cannot hold or replace it),
    // held to the end of the process: 1 when taken, 0 when another instance
    // holds it, -1 when there is no such directory (then only the segment's
    // counter decides; when there is no segment either, one line says so).
    // Call after the segment's first use.
    int HoldSingleInstance();

private:
    bool init();
    bool Attach(key_t key);

    int m_shmid;
    void* m_address;
    int m_size;
    MyCString m_key;
    bool m_tried;
    MyCString m_lockName;  // the application's name among this user's locks
    uint64_t m_device;     // identity of the key file
    uint64_t m_inode;
    int m_single;          // the single-instance lock, once held
};

// Counts one more instance in the counter at the start of `segment`,
// atomically; true when another instance was counted before. A value that
// cannot be a count (negative, or at kInstanceCountLimit or above) is
// reported once on standard error and replaced, this instance counting as
// the first.
constexpr int kInstanceCountLimit = 1 << 30;
bool CountInstance(void* segment);

extern CShmWithinProc shm;
extern CShmHelper shmx;

#endif  // TVX_INSTANCES_SHM_H
