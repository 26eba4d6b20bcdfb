// Message channel between the running instances of one application over the
// channel block of the instance segment: a table of instance pids, one slot
// that carries a chunk of at most 1024 bytes, and a receive thread per
// instance that polls the slot, reassembles messages and posts its own.
#ifndef TVX_INSTANCES_SHM_MESSAGE_H
#define TVX_INSTANCES_SHM_MESSAGE_H

#include <pthread.h>

#include "base/buffer.h"
#include "instances/channel_block.h"
#include "instances/delivery_queue.h"

// Receiver of complete messages; `data` is valid only during the call.
class CShmMessageCallback {
public:
    virtual int OnReceive(int sender, int length, const char* data) = 0;
    virtual ~CShmMessageCallback() {}
};

// Longest message a receiver reassembles (and a sender queues): every length
// and index read from the block is checked against it before memory is
// taken for a message.
constexpr int kMaxChannelMessage = 64 * 1024 * 1024;

class CShmMessage {
public:
    // `block` is the channel area of the instance segment, or null when the
    // segment is unavailable (every operation then does nothing).
    explicit CShmMessage(void* block);
    // The same as instance `pid` (tests drive several instances over one
    // block in one process).
    CShmMessage(void* block, int pid);
    virtual ~CShmMessage();
    CShmMessage(const CShmMessage&) = delete;
    CShmMessage& operator=(const CShmMessage&) = delete;

    // One incoming message being reassembled.
    struct ReceiveBuf {
        int messageId;
        int sender;
        int chunks;
        CBufferT<char> payload;
    };

    void SetMessageCallback(CShmMessageCallback* cb) { __atomic_store_n(&m_callback, cb, __ATOMIC_RELEASE); }
    // Starts the receive thread, and the thread that hands complete messages
    // to the callback; false when there is no block or the receive thread
    // cannot be created. Without a receive thread (RunCycle driven by hand)
    // the callback is called from RunCycle.
    bool Start();
    // Ends the receive loop and the deliveries and joins both threads; false
    // when one did not leave within `timeoutMs` (a delivery that does not
    // return; the object must then not be freed).
    bool Stop(int timeoutMs = 2000);
    // Leaves the channel for good: stops the receive thread and removes this
    // process from the instance table (a daemon's starter, whose place the
    // detached child has taken, while it waits for the start to finish).
    void Withdraw();
    // In a child made by fork: takes this process's pid, registers it where
    // the parent was (owner included) and starts a receive thread again when
    // the parent had one.
    void AfterFork();

    // Queues a copy of `bytes` for `target`; false when the message is too
    // long or there is no block.
    bool AddToSendQueue(int target, const CBufferRefT<char>& bytes);
    bool IsSendQueueEmpty();

    void CheckPidsValid();
    static bool CheckPidValid(int pid);
    void CheckRemotePid();
    void Signal();
    void Wait();
    // One cycle of the receive loop without its pause: owner check, slot
    // examination, send step, delivery. Also drives the channel over a plain
    // memory block in tests.
    void RunCycle();

    void* Block() const { return m_block; }
    int Pid() const { return m_pid; }
    int Owner() const;
    // The owner, then the table after pruning; at most 1 + 250 entries, fills
    // `pids` and returns the count.
    int ListInstances(int* pids, int capacity);
    int PartialCount() const { return m_partial.GetSize(); }

private:
    struct SendItem {
        int target;
        CBufferT<char> payload;
        SendItem* next;
        int sent;
        int messageId;
    };
    // A chunk copied out of the slot.
    struct Chunk {
        int sender;
        int messageId;
        int index;
        int lastIndex;
        int length;
        char data[kChannelChunkSize];
    };

    // What the owner advances, as last seen by this loop.
    struct OwnerWatch {
        int32_t signal;
        int32_t retry;
        int32_t sequence;
        int32_t nextSequence;
    };

    static void* ThreadFunc(void* self);
    void CheckOwnerPaces();
    void DoMessageLoop();
    ReceiveBuf* DoMessageReceive();
    ReceiveBuf* Reassemble(const Chunk& chunk);
    void DropChunk(int target, int sequence);
    void PostChunk(SendItem* item);
    void PurgeDeadSenders();
    void Register();
    void RemoveFromTable(int pid);
    int TableCount() const;
    bool Lock();
    void Unlock();
    void InitMutex();
    void SpinLock() { pthread_spin_lock(&m_queueLock); }
    void SpinUnlock() { pthread_spin_unlock(&m_queueLock); }
    bool IsRunning() const { return __atomic_load_n(&m_running, __ATOMIC_ACQUIRE); }

    ChannelBlock* m_block;
    int m_pid;
    pthread_spinlock_t m_queueLock;
    CShmMessageCallback* m_callback;
    bool m_running;
    SendItem* m_head;
    SendItem* m_tail;
    CBufferT<ReceiveBuf*> m_partial;
    pthread_t m_thread;
    bool m_threadStarted;
    OwnerWatch m_watch;
    int m_watchCycles;
    bool m_halfPause;  // the next active pause is half as long
    CDeliveryQueue m_delivery;
    bool m_delivering;  // complete messages go to m_delivery's thread
};

extern CShmMessage* pshmmsg;

#endif  // TVX_INSTANCES_SHM_MESSAGE_H
