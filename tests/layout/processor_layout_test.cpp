// The sizes and offsets that differ between the four processors the launcher
// is built for (the channel block's layout follows the mutex size), measured
// on the processor this test was built for and compared with the table of
// expected values. The measured report is printed so the numbers of every
// processor can be read side by side in the logs.
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instances/channel_block.h"

namespace {

struct Measure {
    const char* name;
    size_t value;
};

// Expected values per processor, in the order of Measured().
struct ProcessorRow {
    const char* processor;
    std::vector<size_t> values;
};

// pointer, long, pthread_mutex_t, pthread_spinlock_t, then the channel
// block: owner, next message id, next sequence, mutex, signal countdown,
// sender, target, sequence, busy, retry, message id, chunk index, last chunk
// index, chunk size, total length, chunk length, data, instance count,
// instance table, end of the block.
const ProcessorRow kExpected[] = {
    {"i386", {4, 4, 24, 4, 0, 4, 8, 12, 36, 40, 44, 48, 52, 56, 60, 64, 68, 72, 76, 80, 84, 1108, 1112, 2112}},
    {"x86_64", {8, 8, 40, 4, 0, 4, 8, 16, 56, 60, 64, 68, 72, 76, 80, 84, 88, 92, 96, 100, 104, 1128, 1132, 2132}},
    {"armhf", {4, 4, 24, 4, 0, 4, 8, 12, 36, 40, 44, 48, 52, 56, 60, 64, 68, 72, 76, 80, 84, 1108, 1112, 2112}},
    {"aarch64", {8, 8, 48, 4, 0, 4, 8, 16, 64, 68, 72, 76, 80, 84, 88, 92, 96, 100, 104, 108, 112, 1136, 1140, 2140}},
};

const char* ThisProcessor() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__i386__)
    return "i386";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__arm__) && defined(__ARM_PCS_VFP)
    return "armhf";
#else
    return "unknown";
#endif
}

std::vector<Measure> Measured() {
    return {
        {"sizeof(void*)", sizeof(void*)},
        {"sizeof(long)", sizeof(long)},
        {"sizeof(pthread_mutex_t)", sizeof(pthread_mutex_t)},
        {"sizeof(pthread_spinlock_t)", sizeof(pthread_spinlock_t)},
        {"channel: owner", offsetof(ChannelBlock, owner)},
        {"channel: next message id", offsetof(ChannelBlock, nextMessageId)},
        {"channel: next sequence", offsetof(ChannelBlock, nextSequence)},
        {"channel: mutex", offsetof(ChannelBlock, mutex)},
        {"channel: signal countdown", offsetof(ChannelBlock, signal)},
        {"channel: sender", offsetof(ChannelBlock, sender)},
        {"channel: target", offsetof(ChannelBlock, target)},
        {"channel: sequence", offsetof(ChannelBlock, sequence)},
        {"channel: busy", offsetof(ChannelBlock, busy)},
        {"channel: retry", offsetof(ChannelBlock, retry)},
        {"channel: message id", offsetof(ChannelBlock, messageId)},
        {"channel: chunk index", offsetof(ChannelBlock, chunkIndex)},
        {"channel: last chunk index", offsetof(ChannelBlock, lastChunkIndex)},
        {"channel: chunk size", offsetof(ChannelBlock, chunkSize)},
        {"channel: total length", offsetof(ChannelBlock, totalLength)},
        {"channel: chunk length", offsetof(ChannelBlock, chunkLength)},
        {"channel: data", offsetof(ChannelBlock, data)},
        {"channel: instance count", offsetof(ChannelBlock, instanceCount)},
        {"channel: instance table", offsetof(ChannelBlock, instances)},
        {"channel: end of the block", offsetof(ChannelBlock, instances) + sizeof(ChannelBlock::instances)},
    };
}

TEST(ProcessorLayout, MatchesTheTableOfThisProcessor) {
    const ProcessorRow* row = nullptr;
    for (const ProcessorRow& r : kExpected) {
        if (std::string(r.processor) == ThisProcessor()) row = &r;
    }
    ASSERT_NE(row, nullptr) << "no expected values for processor " << ThisProcessor();

    std::vector<Measure> measured = Measured();
    ASSERT_EQ(measured.size(), row->values.size());
    printf("layout report for %s\n", ThisProcessor());
    for (size_t i = 0; i < measured.size(); ++i) {
        printf("  %-40s %5zu (table: %zu)\n", measured[i].name, measured[i].value, row->values[i]);
        EXPECT_EQ(measured[i].value, row->values[i]) << measured[i].name << " on " << ThisProcessor();
    }
}

}  // namespace
