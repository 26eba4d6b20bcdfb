// The sizes and offsets that differ between the four processors the launcher
// is built for, measured on the processor this test was built for and
// compared with the table of expected values. The measured report is printed
// so the numbers of every processor can be read side by side in the logs.
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

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

const ProcessorRow kExpected[] = {
    // pointer, long, pthread_mutex_t, pthread_spinlock_t
    {"i386", {4, 4, 24, 4}},
    {"x86_64", {8, 8, 40, 4}},
    {"armhf", {4, 4, 24, 4}},
    {"aarch64", {8, 8, 48, 4}},
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
