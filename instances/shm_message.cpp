// The instance message channel. Every value in the block may have been left
// by a process that died mid-write or by a damaged segment, so each one is
// checked before it selects memory, a length or a loop bound.
//
// Slot protocol: the block's mutex is held for every change of the slot's
// state (claim and post, take, give up), so a chunk is never overwritten
// while its target copies it and a claim is never given up while its
// claimer fills it. Peeking at busy and target to decide whether to act is
// done without the mutex. Shared fields are read with acquire and written
// with release order, so the target, written last, publishes the chunk on
// processors with weak memory ordering too.
#include "instances/shm_message.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kSignalCycles = 10;      // fast cycles after activity
constexpr int kMaxRetry = 10;          // owner cycles a live target may leave a chunk waiting
constexpr int kIdlePauseUs = 100000;   // pause of an idle cycle
constexpr int kActivePauseUs = 10000;  // pause while the countdown runs
constexpr int kLockTimeoutSeconds = 2; // the mutex is held for a copy of 1 KiB at most
constexpr int kMaxChunks = kMaxChannelMessage / kChannelChunkSize;
constexpr int kMaxPartialMessages = 32;
constexpr int kOwnerSilentCycles = 30;  // cycles without a move of the owner before taking its place

int32_t Get(const int32_t& field) { return __atomic_load_n(&field, __ATOMIC_ACQUIRE); }
void Put(int32_t& field, int32_t value) { __atomic_store_n(&field, value, __ATOMIC_RELEASE); }
// Counters in the block wrap instead of overflowing.
int32_t Next(int32_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value) + 1u); }

// The kind word glibc stores in a mutex initialised with the channel's
// attributes. A block mutex whose kind differs is damaged (or was never
// initialised) and is not handed to pthread, which may assert on the
// combinations of bits a damaged mutex can hold.
void InitChannelMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

int ExpectedMutexKind() {
    static int kind = [] {
        pthread_mutex_t probe;
        InitChannelMutex(&probe);
        int k = probe.__data.__kind;
        pthread_mutex_destroy(&probe);
        return k;
    }();
    return kind;
}

bool MutexLooksSound(pthread_mutex_t* mutex) {
    return __atomic_load_n(&mutex->__data.__kind, __ATOMIC_ACQUIRE) == ExpectedMutexKind();
}

}  // namespace

CShmMessage* pshmmsg = nullptr;

CShmMessage::CShmMessage(void* block) : CShmMessage(block, getpid()) {}

CShmMessage::CShmMessage(void* block, int pid)
    : m_block(static_cast<ChannelBlock*>(block)),
      m_pid(pid),
      m_callback(nullptr),
      m_running(true),
      m_head(nullptr),
      m_tail(nullptr),
      m_thread(),
      m_threadStarted(false),
      m_watch(),
      m_watchCycles(0),
      m_halfPause(false),
      m_delivery(&m_callback),
      m_delivering(false) {
    pthread_spin_init(&m_queueLock, PTHREAD_PROCESS_PRIVATE);
    if (!m_block) return;
    CheckRemotePid();
    Register();
}

CShmMessage::~CShmMessage() {
    Stop();
    while (m_head) {
        SendItem* next = m_head->next;
        delete m_head;
        m_head = next;
    }
    m_tail = nullptr;
    for (int i = 0; i < m_partial.GetSize(); ++i) delete m_partial[i];
    m_partial.Release();
    pthread_spin_destroy(&m_queueLock);
}

bool CShmMessage::Start() {
    if (!m_block) return false;
    if (m_threadStarted) return true;
    __atomic_store_n(&m_running, true, __ATOMIC_RELEASE);
    // Set before the loop thread exists, which reads it from then on.
    m_delivering = m_delivery.Start();
    m_threadStarted = pthread_create(&m_thread, nullptr, ThreadFunc, this) == 0;
    // Named so that it can be told apart among the runtime's threads.
    if (m_threadStarted) pthread_setname_np(m_thread, "tvx-channel");
    return m_threadStarted;
}

bool CShmMessage::Stop(int timeoutMs) {
    __atomic_store_n(&m_running, false, __ATOMIC_RELEASE);
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += (timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (m_threadStarted) {
        if (pthread_timedjoin_np(m_thread, nullptr, &deadline) != 0) return false;
        m_threadStarted = false;
    }
    return m_delivery.Stop(deadline);
}

void CShmMessage::Withdraw() {
    Stop();
    RemoveFromTable(m_pid);
}

// The table's entry count, cut to the table: another process may have
// written anything there.
int CShmMessage::TableCount() const {
    int count = Get(m_block->instanceCount);
    if (count < 0) return 0;
    return count > kChannelTableSize ? kChannelTableSize : count;
}

void CShmMessage::RemoveFromTable(int pid) {
    if (!m_block) return;
    bool locked = Lock();
    int count = TableCount();
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        int listed = Get(m_block->instances[i]);
        if (listed != pid) Put(m_block->instances[kept++], listed);
    }
    Put(m_block->instanceCount, kept);
    if (locked) Unlock();
}

void CShmMessage::AfterFork() {
    const int parent = m_pid;
    int previous = parent;
    m_pid = getpid();
    // The parent's threads are gone; a lock one of them held stays held.
    pthread_spin_init(&m_queueLock, PTHREAD_PROCESS_PRIVATE);
    m_delivery.AfterFork();
    m_delivering = false;
    if (!m_block) return;
    __atomic_compare_exchange_n(&m_block->owner, &previous, m_pid, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    // The parent's entry is this process's now: it must not stay listed
    // while the parent lives on (a daemon's starter waiting for the start).
    RemoveFromTable(parent);
    Register();
    if (m_threadStarted) {
        m_threadStarted = false;
        Start();
    }
}

void* CShmMessage::ThreadFunc(void* self) {
    static_cast<CShmMessage*>(self)->DoMessageLoop();
    return nullptr;
}

void CShmMessage::DoMessageLoop() {
    while (IsRunning()) {
        Wait();
        if (!IsRunning()) break;
        RunCycle();
    }
}

// --- Registration and ownership ------------------------------------------------

bool CShmMessage::CheckPidValid(int pid) { return pid > 0 && kill(pid, 0) == 0; }

int CShmMessage::Owner() const { return m_block ? Get(m_block->owner) : 0; }

void CShmMessage::CheckRemotePid() {
    if (!m_block) return;
    int owner = Get(m_block->owner);
    if (owner == 0) {
        // The first instance of an empty channel owns it and puts the mutex
        // in place; of two starting at once, one wins.
        if (__atomic_compare_exchange_n(&m_block->owner, &owner, m_pid, false, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE))
            InitMutex();
    } else if (owner != m_pid && !CheckPidValid(owner)) {
        __atomic_compare_exchange_n(&m_block->owner, &owner, m_pid, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    }
}

void CShmMessage::Register() {
    bool locked = Lock();
    CheckPidsValid();
    int count = TableCount();
    bool listed = false;
    for (int i = 0; i < count; ++i) listed = listed || Get(m_block->instances[i]) == m_pid;
    if (!listed && count < kChannelTableSize) {
        Put(m_block->instances[count], m_pid);
        Put(m_block->instanceCount, count + 1);
    }
    if (locked) Unlock();
}

void CShmMessage::CheckPidsValid() {
    if (!m_block) return;
    bool locked = Lock();
    int owner = Get(m_block->owner);
    int count = TableCount();
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        int pid = Get(m_block->instances[i]);
        if (pid == owner || !CheckPidValid(pid)) continue;
        bool duplicate = false;
        for (int j = 0; j < kept && !duplicate; ++j) duplicate = Get(m_block->instances[j]) == pid;
        if (!duplicate) Put(m_block->instances[kept++], pid);
    }
    Put(m_block->instanceCount, kept);
    if (locked) Unlock();
}

int CShmMessage::ListInstances(int* pids, int capacity) {
    if (!m_block || capacity <= 0) return 0;
    bool locked = Lock();
    CheckPidsValid();
    int n = 0;
    int owner = Get(m_block->owner);
    if (owner > 0) pids[n++] = owner;
    int count = TableCount();
    for (int i = 0; i < count && n < capacity; ++i) pids[n++] = Get(m_block->instances[i]);
    if (locked) Unlock();
    return n;
}

// --- The block's mutex ------------------------------------------------------------

void CShmMessage::InitMutex() { InitChannelMutex(&m_block->mutex); }

bool CShmMessage::Lock() {
    if (!m_block) return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (MutexLooksSound(&m_block->mutex)) {
            timespec deadline;
            clock_gettime(CLOCK_REALTIME, &deadline);
            deadline.tv_sec += kLockTimeoutSeconds;
            int result = pthread_mutex_timedlock(&m_block->mutex, &deadline);
            if (result == 0) return true;
            if (result == EOWNERDEAD) {
                // The holder died; a chunk it was writing or copying is
                // incomplete, so the slot is freed.
                pthread_mutex_consistent(&m_block->mutex);
                Put(m_block->busy, 0);
                return true;
            }
        }
        // Damaged, never initialised, or held by a process that does not let
        // go: the owner puts a fresh mutex in place and frees the slot.
        if (Get(m_block->owner) != m_pid) return false;
        InitMutex();
        Put(m_block->busy, 0);
    }
    return false;
}

void CShmMessage::Unlock() { pthread_mutex_unlock(&m_block->mutex); }

// An owner that lives but runs no receive loop (a launch without "custom"
// registers too) would never count the retries down nor end the fast
// polling, and a chunk for a target that never reads would hold the slot
// for good. While the owner has something to advance (a countdown above 0,
// or a chunk waiting), its state must change within a few of its cycles;
// when it stays the same for kOwnerSilentCycles cycles of this loop, this
// instance takes the place.
void CShmMessage::CheckOwnerPaces() {
    int owner = Get(m_block->owner);
    OwnerWatch now = {Get(m_block->signal), Get(m_block->retry), Get(m_block->sequence),
                      Get(m_block->nextSequence)};
    bool pending = now.signal > 0 || Get(m_block->busy) != 0;
    if (owner == m_pid || !pending || memcmp(&now, &m_watch, sizeof now) != 0) {
        m_watch = now;
        m_watchCycles = 0;
        return;
    }
    if (++m_watchCycles < kOwnerSilentCycles) return;
    m_watchCycles = 0;
    __atomic_compare_exchange_n(&m_block->owner, &owner, m_pid, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

// --- Pacing -----------------------------------------------------------------------

void CShmMessage::Signal() {
    if (m_block) Put(m_block->signal, kSignalCycles);
}

void CShmMessage::Wait() {
    int countdown = m_block ? Get(m_block->signal) : 0;
    if (countdown <= 0) {
        usleep(kIdlePauseUs);
        return;
    }
    // After a cycle that found this instance's own chunk still waiting for
    // its target, half a pause: the two loops then run out of step, and the
    // target takes each chunk between two cycles of the sender.
    usleep(m_halfPause ? kActivePauseUs / 2 : kActivePauseUs);
    m_halfPause = false;
    // A countdown above its start value was not written by an instance.
    if (m_pid == Get(m_block->owner)) Put(m_block->signal, countdown > kSignalCycles ? kSignalCycles : countdown - 1);
}

// --- The receive loop --------------------------------------------------------------

void CShmMessage::RunCycle() {
    if (!m_block) return;
    CheckRemotePid();
    CheckOwnerPaces();
    bool activity = false;
    ReceiveBuf* complete = nullptr;
    if (Get(m_block->busy) != 0) {
        int target = Get(m_block->target);
        if (target == m_pid) {
            // A receiver far behind leaves the chunk in the slot; the owner
            // counts it as unread as it would for a busy receive loop.
            if (!m_delivering || !m_delivery.Full()) {
                complete = DoMessageReceive();
                activity = true;
            }
        } else {
            int retry = Get(m_block->retry);
            if (retry >= 0 && retry <= kMaxRetry && CheckPidValid(target)) {
                // A live target has not taken its chunk yet: only the owner
                // counts the cycles, and nobody posts meanwhile.
                if (m_pid == Get(m_block->owner)) Put(m_block->retry, retry + 1);
                m_halfPause = Get(m_block->sender) == m_pid;
                PurgeDeadSenders();
                return;
            }
            DropChunk(target, Get(m_block->sequence));
            activity = true;
        }
    }

    bool claimed = false;
    if (!IsSendQueueEmpty() && Get(m_block->busy) == 0 && Lock()) {
        if (Get(m_block->busy) == 0) {
            Put(m_block->target, 0);
            Put(m_block->busy, 1);
            SpinLock();
            SendItem* head = m_head;
            SpinUnlock();
            PostChunk(head);
            claimed = true;
        }
        Unlock();
    }
    if (claimed || activity) Signal();
    PurgeDeadSenders();

    if (complete) {
        CShmMessageCallback* callback = __atomic_load_n(&m_callback, __ATOMIC_ACQUIRE);
        if (m_delivering) {
            m_delivery.Push(complete->sender, complete->payload);
        } else if (callback) {
            int length = complete->payload.GetSize();
            callback->OnReceive(complete->sender, length, length ? complete->payload.GetData() : "");
        }
        delete complete;
    }
}

// Frees the slot when it still holds the chunk seen (same target and
// sequence): a claim filled meanwhile, or a chunk taken and replaced, stays.
void CShmMessage::DropChunk(int target, int sequence) {
    if (!Lock()) return;
    if (Get(m_block->busy) != 0 && Get(m_block->target) == target && Get(m_block->sequence) == sequence)
        Put(m_block->busy, 0);
    Unlock();
}

// Posts the next chunk of `item` into the claimed slot (mutex held).
void CShmMessage::PostChunk(SendItem* item) {
    ChannelBlock* b = m_block;
    if (item->sent == 0) {
        item->messageId = Get(b->nextMessageId);
        Put(b->nextMessageId, Next(item->messageId));
    }
    int length = item->payload.GetSize();
    int chunkLength = length - item->sent;
    if (chunkLength > kChannelChunkSize) chunkLength = kChannelChunkSize;
    int sequence = Get(b->nextSequence);
    Put(b->nextSequence, Next(sequence));

    Put(b->sender, m_pid);
    Put(b->chunkSize, kChannelChunkSize);
    Put(b->messageId, item->messageId);
    Put(b->sequence, sequence);
    Put(b->totalLength, length);
    Put(b->lastChunkIndex, length > 0 ? (length - 1) / kChannelChunkSize : 0);
    Put(b->chunkIndex, item->sent / kChannelChunkSize);
    Put(b->chunkLength, chunkLength);
    Put(b->busy, 1);
    Put(b->retry, 0);
    if (chunkLength > 0) memcpy(b->data, item->payload.GetData() + item->sent, chunkLength);
    Put(b->target, item->target);  // last: the chunk is now posted

    item->sent += kChannelChunkSize;
    if (item->sent < length) return;
    SpinLock();
    m_head = item->next;
    if (!m_head) m_tail = nullptr;
    SpinUnlock();
    delete item;
}

// Copies the chunk addressed to this process out of the slot and frees the
// slot. A chunk whose lengths or indexes cannot belong to a message is
// dropped unread.
CShmMessage::ReceiveBuf* CShmMessage::DoMessageReceive() {
    Chunk chunk;
    bool taken = false;
    if (!Lock()) return nullptr;
    ChannelBlock* b = m_block;
    if (Get(b->busy) != 0 && Get(b->target) == m_pid) {
        chunk.sender = Get(b->sender);
        chunk.messageId = Get(b->messageId);
        chunk.index = Get(b->chunkIndex);
        chunk.lastIndex = Get(b->lastChunkIndex);
        chunk.length = Get(b->chunkLength);
        taken = chunk.length >= 0 && chunk.length <= kChannelChunkSize && chunk.index >= 0 &&
                chunk.lastIndex >= chunk.index && chunk.lastIndex < kMaxChunks &&
                (chunk.index == chunk.lastIndex || chunk.length == kChannelChunkSize);
        if (taken) memcpy(chunk.data, b->data, chunk.length);
        Put(b->busy, 0);
    }
    Unlock();
    return taken ? Reassemble(chunk) : nullptr;
}

CShmMessage::ReceiveBuf* CShmMessage::Reassemble(const Chunk& chunk) {
    int found = -1;
    for (int i = 0; i < m_partial.GetSize() && found < 0; ++i) {
        if (m_partial[i]->messageId == chunk.messageId && m_partial[i]->sender == chunk.sender) found = i;
    }
    if (chunk.index == 0) {
        // A first chunk starts the message afresh.
        if (found >= 0) {
            delete m_partial[found];
            m_partial.Delete(found, 1);
        }
        if (m_partial.GetSize() >= kMaxPartialMessages) {
            delete m_partial[0];
            m_partial.Delete(0, 1);
        }
        ReceiveBuf* started = new ReceiveBuf;
        started->messageId = chunk.messageId;
        started->sender = chunk.sender;
        started->chunks = 0;
        m_partial.Append(started);
        found = m_partial.GetSize() - 1;
    }
    if (found < 0) return nullptr;  // its first part was never seen

    ReceiveBuf* message = m_partial[found];
    if (message->chunks != chunk.index) {
        // A chunk was lost: the message cannot be completed.
        m_partial.Delete(found, 1);
        delete message;
        return nullptr;
    }
    message->payload.Append(chunk.data, chunk.length);
    message->chunks += 1;
    if (chunk.index != chunk.lastIndex) return nullptr;
    m_partial.Delete(found, 1);
    return message;
}

// Drops the partial messages of senders that have exited, unless the slot
// holds a chunk of theirs for this process (their last one may still come).
void CShmMessage::PurgeDeadSenders() {
    for (int i = m_partial.GetSize() - 1; i >= 0; --i) {
        ReceiveBuf* message = m_partial[i];
        if (CheckPidValid(message->sender)) continue;
        if (Get(m_block->busy) != 0 && Get(m_block->target) == m_pid && Get(m_block->sender) == message->sender)
            continue;
        m_partial.Delete(i, 1);
        delete message;
    }
}

// --- The send queue ------------------------------------------------------------------

bool CShmMessage::AddToSendQueue(int target, const CBufferRefT<char>& bytes) {
    if (!m_block || target <= 0 || bytes.GetSize() < 0 || bytes.GetSize() > kMaxChannelMessage) return false;
    SendItem* item = new SendItem;
    item->target = target;
    item->payload.Assign(bytes.GetData(), bytes.GetSize());
    item->next = nullptr;
    item->sent = 0;
    item->messageId = 0;
    SpinLock();
    if (m_tail) {
        m_tail->next = item;
    } else {
        m_head = item;
    }
    m_tail = item;
    SpinUnlock();
    Signal();
    return true;
}

bool CShmMessage::IsSendQueueEmpty() {
    SpinLock();
    bool empty = m_head == nullptr;
    SpinUnlock();
    return empty;
}
