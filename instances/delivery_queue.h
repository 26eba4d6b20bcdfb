// Hands complete channel messages from the receive loop to a thread of their
// own, which calls the receiver. A receiver that takes long over one message
// (a Java callback on a slow board, or one that does real work) then never
// keeps the loop from taking the next chunks addressed to this instance:
// the owner would count those chunks as unread and drop them.
#ifndef TVX_INSTANCES_DELIVERY_QUEUE_H
#define TVX_INSTANCES_DELIVERY_QUEUE_H

#include <pthread.h>

#include "base/buffer.h"

class CShmMessageCallback;

class CDeliveryQueue {
public:
    // `callback` is read at each delivery: the receiver may be replaced or
    // removed while messages wait.
    explicit CDeliveryQueue(CShmMessageCallback* const* callback);
    ~CDeliveryQueue();
    CDeliveryQueue(const CDeliveryQueue&) = delete;
    CDeliveryQueue& operator=(const CDeliveryQueue&) = delete;

    bool Start();
    // Asks the thread to end and joins it by `deadline` (CLOCK_REALTIME);
    // false when a delivery still runs. Undelivered messages are dropped.
    bool Stop(const timespec& deadline);
    // Queues a message (its bytes are taken over, `payload` is left empty).
    void Push(int sender, CBufferT<char>& payload);
    // More bytes wait than one message may hold: the loop leaves its chunks
    // in the slot until the receiver catches up.
    bool Full();
    // In a child made by fork: the parent's thread is gone and a lock it
    // held stays held; the queue starts empty and without a thread.
    void AfterFork();

private:
    struct Item {
        int sender;
        int length;
        char* data;  // malloc'ed, taken from the payload buffer
        Item* next;
    };
    static void* ThreadFunc(void* self);
    void Run();
    void DropAll();

    CShmMessageCallback* const* m_callback;
    pthread_mutex_t m_lock;
    pthread_cond_t m_ready;
    Item* m_head;
    Item* m_tail;
    long long m_bytes;
    bool m_stopping;
    bool m_started;
    pthread_t m_thread;
};

#endif  // TVX_INSTANCES_DELIVERY_QUEUE_H
