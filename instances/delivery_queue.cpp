#include "instances/delivery_queue.h"

#include <stdlib.h>

#include "instances/shm_message.h"

CDeliveryQueue::CDeliveryQueue(CShmMessageCallback* const* callback)
    : m_callback(callback), m_head(nullptr), m_tail(nullptr), m_bytes(0), m_stopping(false), m_started(false),
      m_thread() {
    pthread_mutex_init(&m_lock, nullptr);
    pthread_cond_init(&m_ready, nullptr);
}

CDeliveryQueue::~CDeliveryQueue() {
    // A thread that could not be joined may still use the queue: leave it.
    if (m_started) return;
    DropAll();
    pthread_cond_destroy(&m_ready);
    pthread_mutex_destroy(&m_lock);
}

bool CDeliveryQueue::Start() {
    if (m_started) return true;
    m_stopping = false;
    m_started = pthread_create(&m_thread, nullptr, ThreadFunc, this) == 0;
    if (m_started) pthread_setname_np(m_thread, "tvx-deliver");
    return m_started;
}

bool CDeliveryQueue::Stop(const timespec& deadline) {
    pthread_mutex_lock(&m_lock);
    m_stopping = true;
    pthread_cond_signal(&m_ready);
    pthread_mutex_unlock(&m_lock);
    if (!m_started) return true;
    if (pthread_timedjoin_np(m_thread, nullptr, &deadline) != 0) return false;
    m_started = false;
    DropAll();
    return true;
}

void CDeliveryQueue::Push(int sender, CBufferT<char>& payload) {
    Item* item = new Item;
    item->sender = sender;
    item->length = payload.GetSize();
    item->data = payload.Detach();
    item->next = nullptr;
    pthread_mutex_lock(&m_lock);
    if (m_tail) {
        m_tail->next = item;
    } else {
        m_head = item;
    }
    m_tail = item;
    m_bytes += item->length;
    pthread_cond_signal(&m_ready);
    pthread_mutex_unlock(&m_lock);
}

bool CDeliveryQueue::Full() {
    pthread_mutex_lock(&m_lock);
    bool full = m_bytes > kMaxChannelMessage;
    pthread_mutex_unlock(&m_lock);
    return full;
}

void CDeliveryQueue::AfterFork() {
    pthread_mutex_init(&m_lock, nullptr);
    pthread_cond_init(&m_ready, nullptr);
    m_started = false;
    m_stopping = false;
    DropAll();
}

void* CDeliveryQueue::ThreadFunc(void* self) {
    static_cast<CDeliveryQueue*>(self)->Run();
    return nullptr;
}

void CDeliveryQueue::Run() {
    pthread_mutex_lock(&m_lock);
    for (;;) {
        while (!m_head && !m_stopping) pthread_cond_wait(&m_ready, &m_lock);
        if (m_stopping) break;
        Item* item = m_head;
        m_head = item->next;
        if (!m_head) m_tail = nullptr;
        pthread_mutex_unlock(&m_lock);

        CShmMessageCallback* callback = __atomic_load_n(m_callback, __ATOMIC_ACQUIRE);
        if (callback) callback->OnReceive(item->sender, item->length, item->length ? item->data : "");

        pthread_mutex_lock(&m_lock);
        // Counted until delivered: a receiver that is behind holds back the
        // loop, not only the queue.
        m_bytes -= item->length;
        free(item->data);
        delete item;
    }
    pthread_mutex_unlock(&m_lock);
}

void CDeliveryQueue::DropAll() {
    while (m_head) {
        Item* next = m_head->next;
        free(m_head->data);
        delete m_head;
        m_head = next;
    }
    m_tail = nullptr;
    m_bytes = 0;
}
