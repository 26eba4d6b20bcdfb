// The channel's receive step over a hostile block: the input is a series of
// block images written, one after another, over the channel area while this
// process's channel runs a cycle after each. The first byte of each image
// chooses which of owner, sender and target name this process, so chunks
// addressed to it and its own ownership are reached. The channel must never
// read or write outside the block or its buffers, deliver only messages
// within the length limit, and keep its table and partial list bounded.
// Seeds include, chunk by chunk, the messages the receiver's deserialisation
// limits exist for (bomb_message: sets nested 100 deep; chain_message: links
// nested 40 deep), so they travel the whole native road to the receiver.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "instances/shm_message.h"
#include "tests/fuzz/support/fuzz_support.h"

namespace {

class Checker : public CShmMessageCallback {
public:
    int OnReceive(int, int length, const char* data) override {
        FUZZ_CHECK(length >= 0 && length <= kMaxChannelMessage, "delivered length " + std::to_string(length));
        unsigned sum = 0;
        for (int i = 0; i < length; ++i) sum += static_cast<unsigned char>(data[i]);  // every byte readable
        total += sum;
        return 0;
    }
    unsigned total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kImage = 1 + offsetof(ChannelBlock, instances) + 4 * kChannelTableSize;
    static_assert(kImage - 1 <= kChannelBlockCapacity, "an image fits the block");
    alignas(16) static unsigned char area[kChannelBlockCapacity];
    memset(area, 0, sizeof area);
    ChannelBlock* block = reinterpret_cast<ChannelBlock*>(area);
    int self = getpid();

    Checker checker;
    CShmMessage channel(area);
    channel.SetMessageCallback(&checker);
    std::string payload(100, 'p');
    channel.AddToSendQueue(self, CBufferRefT<char>(payload.data(), static_cast<int>(payload.size())));

    for (size_t at = 0; at < size; at += kImage) {
        size_t n = size - at < kImage ? size - at : kImage;
        uint8_t choose = data[at];
        // The image leaves the mutex as it is unless it says otherwise, so
        // that most steps get past the lock.
        if (!(choose & 8)) {
            unsigned char mutex[sizeof(pthread_mutex_t)];
            memcpy(mutex, &block->mutex, sizeof mutex);
            memcpy(area, data + at + 1, n - 1);
            memcpy(&block->mutex, mutex, sizeof mutex);
        } else {
            memcpy(area, data + at + 1, n - 1);
        }
        if (choose & 1) block->owner = self;
        if (choose & 2) block->sender = self;
        if (choose & 4) block->target = self;
        channel.RunCycle();

        FUZZ_CHECK(channel.PartialCount() <= 32, "partial messages " + std::to_string(channel.PartialCount()));
        int pids[1 + kChannelTableSize];
        int listed = channel.ListInstances(pids, 1 + kChannelTableSize);
        FUZZ_CHECK(listed >= 0 && listed <= 1 + kChannelTableSize, "listed " + std::to_string(listed));
        FUZZ_CHECK(block->instanceCount >= 0 && block->instanceCount <= kChannelTableSize,
                   "instance count " + std::to_string(block->instanceCount));
    }
    return 0;
}
