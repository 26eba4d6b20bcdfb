// The runtime version range check.
#include <gtest/gtest.h>

#include "launch/launch_driver.h"

namespace {

TEST(VersionRange, Rows) {
    struct Row {
        const char* version;
        const char* min;
        const char* max;
        int expected;  // -1 too low, 1 too high, 0 accepted
    } rows[] = {
        {"1.5.0_22", "1.5", "", 0},
        {"1.8.0", "1.5", "", 0},
        {"1.6.0_29", "1.6.0.30", "", -1},
        {"1.6.0_30", "1.6.0.30", "", 0},
        {"1.6.0_45", "", "1.6", 0},
        {"1.7.0", "", "1.6", 1},
        {"17", "1.5", "", 0},        // only the first number is compared
        {"17.0.9", "18", "", -1},
        {"17.0.9", "", "11", 1},
        {"17.0.9", "11", "17", 0},
        {"17.0.9", "17.0.10", "", -1},
        {"17.0.9", "", "17.0.8", 1},
        {"1.4.2", "1.5", "1.3", -1},  // too low wins over too high
        {"", "1.5", "1.6", 0},        // an unparsable version compares nothing
        {"abc", "1.5", "1.6", 0},
        {"1.8.0", "x", "y", 0},       // unparsable bounds are no bounds
        {"1.8.0", "", "", 0},
        {"21-ea", "", "20", 1},
        {"1.8.0_292-b10", "1.8.0.300", "", -1},
        {"9", "1.8.0_40", "", 0},
        // Long separators fit their buffers whatever their length.
        {"1................................................................................2", "1..3", "", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.version) + " in [" + row.min + ", " + row.max + "]");
        EXPECT_EQ(CheckVersionRange(row.version, row.min, row.max), row.expected);
    }
}

TEST(VersionRange, NullTextsAreNoBounds) {
    EXPECT_EQ(CheckVersionRange("1.8", nullptr, nullptr), 0);
    EXPECT_EQ(CheckVersionRange(nullptr, "1.5", "1.6"), 0);
}

}  // namespace
