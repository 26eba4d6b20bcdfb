// Files the launcher reads for itself that are not what they should be: a
// FIFO instead of the runtime library or the external file, an external
// file over the size limit, damaged appended data. Each is named in one line
// and the launch goes on as if the file were absent, with its usual result.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/launch/launch_test_util.h"
#include "tests/support/test_support.h"

namespace {

using launchtest::PackedApp;
using launchtest::ProbeValues;
using tvxtest::RunOptions;
using tvxtest::RunResult;

using launchtest::kProbe;
const char kNoMainClass[] = "The main startup class could not be found.";

// A hang is a failure: the launcher must not wait on a FIFO.
RunOptions Deadline() {
    RunOptions options;
    options.timeoutSeconds = 60;
    options.setEnv["PROBE_PROPS"] = "block.prop";
    return options;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(LaunchDamage, FifoAsRuntimeLibraryIsSkipped) {
    PackedApp app({"jvmdll fifo/libjvm.so", "property block.prop=1"}, kProbe);
    tvxtest::MakeDirs(app.dir.path() + "/fifo");
    ASSERT_EQ(mkfifo((app.dir.path() + "/fifo/libjvm.so").c_str(), 0644), 0);
    RunResult r = app.Run({}, Deadline());
    ASSERT_FALSE(r.timedOut);
    // The next search letter finds the machine's runtime.
    EXPECT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    EXPECT_TRUE(Has(app.ErrLog(), "fifo/libjvm.so: not a regular file, skipped")) << app.ErrLog();
    EXPECT_EQ(ProbeValues(r.out)["prop:block.prop"], "1");
}

TEST(LaunchDamage, ExternalFileThatIsNoRegularFileOrTooLargeIsIgnored) {
    const struct {
        const char* name;
        void (*make)(const std::string& path);
        const char* line;
    } rows[] = {
        {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); },
         ".cfg: not a regular file, ignored"},
        {"directory", [](const std::string& path) { tvxtest::MakeDirs(path); }, ".cfg: not a regular file, ignored"},
        {"over 64 MiB", [](const std::string& path) {
             tvxtest::WriteFile(path, "property block.prop=external\n");
             ASSERT_EQ(truncate(path.c_str(), (64 << 20) + 1), 0);
         },
         ".cfg: larger than the 64 MiB limit of settings, ignored"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PackedApp app({"property block.prop=1"}, kProbe);
        row.make(app.exe + ".cfg");
        RunResult r = app.Run({}, Deadline());
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
        EXPECT_TRUE(Has(r.err, app.exe + row.line)) << r.err;
        EXPECT_EQ(ProbeValues(r.out)["prop:block.prop"], "1");
    }
}

TEST(LaunchDamage, DamagedAppendedDataIsNamedBeforeTheUsualMessage) {
    // The block's last line and its final NUL; the settings length follows.
    const std::string blockTail = "property block.prop=1\r\n";
    const struct {
        const char* name;
        void (*damage)(std::string& bytes, size_t blockEnd);
        const char* line;
    } rows[] = {
        {"truncated", [](std::string& bytes, size_t) { bytes.resize(bytes.size() - 10); },
         ": no ZIP archive where the appended data places it (truncated or altered)"},
        {"archive length beyond the file",
         [](std::string& bytes, size_t) {
             const size_t marker = bytes.find(std::string("TvxArcLen2026", 14));
             ASSERT_NE(marker, std::string::npos);
             bytes[marker - 8 + 3] = '\x70';  // A's high byte: far more than the file holds
         },
         ": the archive length recorded in the launcher does not fit the file (truncated?)"},
        {"settings length over the limit",
         [](std::string& bytes, size_t blockEnd) { bytes[blockEnd + 3] = 0x05; },
         ": the settings block is over the 64 MiB limit; its settings are ignored"},
        {"settings length beyond the data",
         [](std::string& bytes, size_t blockEnd) { bytes[blockEnd + 2] = 0x7F; },
         ": the settings length is larger than the data before it (damaged)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PackedApp app({"property block.prop=1"}, kProbe);
        std::string bytes = tvxtest::ReadFile(app.exe);
        const size_t start = bytes.find(blockTail + '\0');
        ASSERT_NE(start, std::string::npos);
        row.damage(bytes, start + blockTail.size() + 1);
        tvxtest::WriteFile(app.exe, bytes, 0755);
        RunResult r = app.Run({}, Deadline());
        EXPECT_EQ(r.exitCode, 7) << r.err << app.ErrLog();
        EXPECT_TRUE(Has(r.err, app.exe + row.line)) << r.err;
        EXPECT_TRUE(Has(r.out, kNoMainClass)) << r.out;
    }
}

}  // namespace

namespace {

// Damage inside the archive: the runtime sees a missing class, the launcher
// names what is wrong first.
TEST(LaunchDamage, DamagedArchiveIsNamedBeforeTheMissingClass) {
    const struct {
        const char* name;
        void (*damage)(std::string& bytes, size_t blockEnd);
        const char* line;
        bool atLoad;
    } rows[] = {
        {"settings length of 16",
         [](std::string& bytes, size_t blockEnd) {
             bytes.replace(blockEnd, 4, std::string("\x10\0\0\0", 4));
         },
         ": the settings length does not lead back to the launcher program before it (damaged); its settings are "
         "ignored", true},
        {"archive comment length 0xffff",
         [](std::string& bytes, size_t) { bytes.replace(bytes.size() - 2, 2, "\xff\xff"); },
         ": the archive's end record declares a comment of 65535 bytes, but 0 bytes follow it (damaged)", false},
        {"2000 random bytes up to the central directory's first header",
         [](std::string& bytes, size_t) {
             const size_t eocd = bytes.size() - 22;
             const size_t directorySize = static_cast<unsigned char>(bytes[eocd + 12]) |
                                          static_cast<unsigned char>(bytes[eocd + 13]) << 8;
             // Ending 40 bytes into the directory: entry data and the first header.
             const size_t at = eocd - directorySize + 40 - 2000;
             unsigned seed = 22;
             for (size_t i = 0; i < 2000; ++i) bytes[at + i] = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
         },
         ": central directory entry 1 of ", false},
        {"central directory name length 0xffff",
         [](std::string& bytes, size_t) {
             const size_t eocd = bytes.size() - 22;
             const size_t directorySize = static_cast<unsigned char>(bytes[eocd + 12]) |
                                          static_cast<unsigned char>(bytes[eocd + 13]) << 8;
             bytes.replace(eocd - directorySize + 28, 2, "\xff\xff");
         },
         ": central directory entry 1 of ", false},
    };
    const std::string blockTail = "property block.prop=1\r\n";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PackedApp app({"property block.prop=1"}, kProbe);
        std::string bytes = tvxtest::ReadFile(app.exe);
        const size_t start = bytes.find(blockTail + '\0');
        ASSERT_NE(start, std::string::npos);
        row.damage(bytes, start + blockTail.size() + 1);
        tvxtest::WriteFile(app.exe, bytes, 0755);
        RunResult r = app.Run({}, Deadline());
        EXPECT_EQ(r.exitCode, 7) << r.err << app.ErrLog();
        // One line naming the damage: read with the settings, on the terminal
        // before the log takes standard error; found at the failure, shown
        // like a message (terminal and log) just before it.
        const std::string line = app.exe + row.line;
        if (row.atLoad) {
            EXPECT_TRUE(Has(r.err, line)) << r.err;
        } else {
            EXPECT_LT(r.out.find(line), r.out.find(kNoMainClass)) << r.out;
            EXPECT_LT(app.ErrLog().find(line), app.ErrLog().find(kNoMainClass)) << app.ErrLog();
        }
        EXPECT_TRUE(Has(r.out, kNoMainClass)) << r.out;
    }
}

}  // namespace

namespace {

// A runtime that ends the process while it is being created: its own text
// stays, and the start is reported as failed (4), not with the status the
// runtime chose (1, which means "no runtime found").
TEST(LaunchDamage, RuntimeGivingUpInCreationIsAFailedStart) {
    const struct {
        const char* option;
        const char* runtimeText;
    } rows[] = {
        {"option -Xmx1k", "Too small maximum heap"},
        {"option -Xss1", "The Java thread stack size specified is too small"},  // creation fails without exiting
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.option);
        PackedApp app({row.option}, kProbe);
        RunResult r = app.Run({}, Deadline());
        EXPECT_EQ(r.exitCode, 4) << r.out << r.err << app.ErrLog();
        EXPECT_TRUE(Has(r.out + app.ErrLog(), row.runtimeText)) << r.out << app.ErrLog();
        EXPECT_TRUE(Has(r.out, "Java Virtual Machine starts failed.")) << r.out;
        EXPECT_TRUE(Has(app.ErrLog(), "Java Virtual Machine starts failed.")) << app.ErrLog();
    }
}

}  // namespace
