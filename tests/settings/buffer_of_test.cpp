// BUFFER_OF: the static copy and its dump to standard output.
#include <string>

#include <gtest/gtest.h>

#include "settings/settings_loader.h"
#include "tests/settings/settings_fixture.h"

namespace {

using settingstest::ScopedEnv;

struct Call {
    std::string bytes;
    unsigned length;
    unsigned char* result;
};

void CallBufferOf(void* context) {
    Call* call = static_cast<Call*>(context);
    call->result = BUFFER_OF(call->bytes.data(), call->length);
}

std::string Dumped(Call& call) { return settingstest::CaptureStdout(CallBufferOf, &call); }

TEST(BufferOf, DumpWhenTheVariableIsSet) {
    struct Row {
        const char* name;
        std::string bytes;
        std::string dump;
    };
    const Row rows[] = {
        {"control bytes as dots", settingstest::Bytes("\x00\x01\x1F"), "...\n"},
        {"printable bytes as themselves", " A~", " A~\n"},
        {"DEL and the upper half unchanged", "\x7F\x80\xFF", "\x7F\x80\xFF\n"},
        {"a length record", settingstest::Bytes("\x7A\x6C\x3A\x00\0\0\0\0TvxArcLen2026\0"),
         "zl:.....TvxArcLen2026.\n"},
        {"nothing", "", "\n"},
    };
    for (const char* value : {"", "1"}) {
        ScopedEnv debug("_TOLVANE_BINARY_DEBUG_", value);
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.name) + ", variable set to \"" + value + "\"");
            Call call{row.bytes, static_cast<unsigned>(row.bytes.size()), nullptr};
            EXPECT_EQ(Dumped(call), row.dump);
            ASSERT_NE(call.result, nullptr);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(call.result), row.bytes.size()), row.bytes);
        }
    }
}

TEST(BufferOf, NoDumpWithoutTheVariable) {
    ScopedEnv debug("_TOLVANE_BINARY_DEBUG_", nullptr);
    Call call{"abc\x01", 4, nullptr};
    EXPECT_EQ(Dumped(call), "");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(call.result), 4), "abc\x01");
}

TEST(BufferOf, OneStaticBufferOverwrittenByTheNextCall) {
    ScopedEnv debug("_TOLVANE_BINARY_DEBUG_", nullptr);
    unsigned char* first = BUFFER_OF("first", 5);
    unsigned char* second = BUFFER_OF("SECOND", 6);
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(first), 6), "SECOND");
}

TEST(BufferOf, LongerRequestsAreCutTo100Bytes) {
    ScopedEnv debug("_TOLVANE_BINARY_DEBUG_", "");
    std::string bytes;
    for (int i = 0; i < 150; ++i) bytes.push_back(static_cast<char>('A' + i % 26));
    Call call{bytes, 150, nullptr};
    EXPECT_EQ(Dumped(call), bytes.substr(0, 100) + "\n");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(call.result), 100), bytes.substr(0, 100));
    EXPECT_EQ(BUFFER_OF(nullptr, 10), call.result);
}

}  // namespace
