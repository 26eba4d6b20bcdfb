// Byte layout of the message channel block, which lies 1024 bytes into the
// instance segment and is read and written by every instance of one
// application. The mutex is the platform's pthread_mutex_t in place, so the
// offsets after it differ between processors; they are fixed below for each
// processor the launcher is built for.
#ifndef TVX_INSTANCES_CHANNEL_BLOCK_H
#define TVX_INSTANCES_CHANNEL_BLOCK_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

constexpr int kChannelChunkSize = 1024;    // bytes carried by one chunk
constexpr int kChannelTableSize = 250;     // entries of the instance table
constexpr int kChannelBlockCapacity = 3072;  // room for the block in the segment

struct ChannelBlock {
    int32_t owner;          // pid of the owner; 0 while there is none
    int32_t nextMessageId;  // next message identifier to hand out
    int32_t nextSequence;   // next chunk sequence number
    pthread_mutex_t mutex;  // process-shared, recursive, robust: guards the slot
    int32_t signal;         // countdown of fast polling cycles, set to 10 on activity
    // The message slot: one chunk in flight.
    int32_t sender;          // pid of the instance that posted the chunk
    int32_t target;          // pid the chunk is for; 0 while the slot is being filled
    int32_t sequence;        // the chunk's sequence number
    int32_t busy;            // 1 while the slot holds a chunk or is being filled
    int32_t retry;           // owner cycles spent waiting for the target
    int32_t messageId;       // message the chunk belongs to
    int32_t chunkIndex;      // index of the chunk in its message, from 0
    int32_t lastChunkIndex;  // index of the message's last chunk
    int32_t chunkSize;       // always 1024
    int32_t totalLength;     // length of the whole message
    int32_t chunkLength;     // valid bytes in data
    char data[kChannelChunkSize];
    // The registered instances.
    int32_t instanceCount;
    int32_t instances[kChannelTableSize];
};

// Offsets every build for one processor must agree on: instances of one
// application share the block across processes.
#define TVX_CHANNEL_OFFSETS(mutexAt, signalAt, end)                                          \
    static_assert(offsetof(ChannelBlock, owner) == 0, "owner");                              \
    static_assert(offsetof(ChannelBlock, nextMessageId) == 4, "next message id");            \
    static_assert(offsetof(ChannelBlock, nextSequence) == 8, "next sequence");               \
    static_assert(offsetof(ChannelBlock, mutex) == (mutexAt), "mutex");                      \
    static_assert(offsetof(ChannelBlock, signal) == (signalAt), "signal countdown");         \
    static_assert(offsetof(ChannelBlock, sender) == (signalAt) + 4, "sender");               \
    static_assert(offsetof(ChannelBlock, target) == (signalAt) + 8, "target");               \
    static_assert(offsetof(ChannelBlock, sequence) == (signalAt) + 12, "sequence");          \
    static_assert(offsetof(ChannelBlock, busy) == (signalAt) + 16, "busy");                  \
    static_assert(offsetof(ChannelBlock, retry) == (signalAt) + 20, "retry");                \
    static_assert(offsetof(ChannelBlock, messageId) == (signalAt) + 24, "message id");       \
    static_assert(offsetof(ChannelBlock, chunkIndex) == (signalAt) + 28, "chunk index");     \
    static_assert(offsetof(ChannelBlock, lastChunkIndex) == (signalAt) + 32, "last index");  \
    static_assert(offsetof(ChannelBlock, chunkSize) == (signalAt) + 36, "chunk size");       \
    static_assert(offsetof(ChannelBlock, totalLength) == (signalAt) + 40, "total length");   \
    static_assert(offsetof(ChannelBlock, chunkLength) == (signalAt) + 44, "chunk length");   \
    static_assert(offsetof(ChannelBlock, data) == (signalAt) + 48, "data");                  \
    static_assert(offsetof(ChannelBlock, instanceCount) == (signalAt) + 1072, "count");      \
    static_assert(offsetof(ChannelBlock, instances) == (signalAt) + 1076, "table");          \
    static_assert(offsetof(ChannelBlock, instances) + 4 * kChannelTableSize == (end), "end")

#if defined(__x86_64__)
static_assert(sizeof(pthread_mutex_t) == 40, "x86-64 mutex");
TVX_CHANNEL_OFFSETS(16, 56, 2132);
#elif defined(__aarch64__)
static_assert(sizeof(pthread_mutex_t) == 48, "aarch64 mutex");
TVX_CHANNEL_OFFSETS(16, 64, 2140);
#elif defined(__arm__) || defined(__i386__)
static_assert(sizeof(pthread_mutex_t) == 24, "32-bit mutex");
TVX_CHANNEL_OFFSETS(12, 36, 2112);
#else
#error "channel block layout not defined for this processor"
#endif

#undef TVX_CHANNEL_OFFSETS

static_assert(sizeof(ChannelBlock) <= kChannelBlockCapacity, "the block fits the segment");

#endif  // TVX_INSTANCES_CHANNEL_BLOCK_H
