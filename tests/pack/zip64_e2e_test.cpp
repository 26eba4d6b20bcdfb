// Jars of more than 65,535 entries (shaded and fat jars) carry ZIP64 end
// records. Packed, they must stay readable by unzip and the Java runtime,
// run under the launcher, and pass the launcher's own archive check.
#include <zip.h>

#include <string>

#include <gtest/gtest.h>

#include "settings/archive_check.h"
#include "settings/layout.h"
#include "tests/pack/pack_e2e_util.h"
#include "tests/support/test_support.h"

namespace packtest {
namespace {

constexpr int kFillers = 100000;

// `base` copied to `path` with kFillers small stored entries added, and the
// helper classes too when `withHelpers`.
void WriteBigJar(const std::string& base, const std::string& path, bool withHelpers) {
    tvxtest::WriteFile(path, tvxtest::ReadFile(base));
    int code = 0;
    zip_t* za = zip_open(path.c_str(), 0, &code);
    ASSERT_NE(za, nullptr) << code;
    static const char kData[] = "x";
    char name[32];
    for (int i = 0; i < kFillers; ++i) {
        snprintf(name, sizeof name, "filler/%06d.txt", i);
        zip_source_t* src = zip_source_buffer(za, kData, 1, 0);
        zip_int64_t at = src ? zip_file_add(za, name, src, 0) : -1;
        ASSERT_GE(at, 0) << zip_strerror(za);
        zip_set_file_compression(za, static_cast<zip_uint64_t>(at), ZIP_CM_STORE, 0);
    }
    zip_t* helpers = nullptr;
    if (withHelpers) {
        helpers = zip_open(HelpersJar().c_str(), ZIP_RDONLY, &code);
        ASSERT_NE(helpers, nullptr);
        for (const std::string& helper : HelperClassNames()) {
            zip_int64_t index = zip_name_locate(helpers, helper.c_str(), 0);
            ASSERT_GE(index, 0) << helper;
            zip_source_t* src = zip_source_zip(za, helpers, static_cast<zip_uint64_t>(index), 0, 0, -1);
            ASSERT_GE(zip_file_add(za, helper.c_str(), src, 0), 0) << zip_strerror(za);
        }
    }
    ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
    if (helpers) zip_discard(helpers);
}

TEST(PackZip64, JarOfMoreThan65535EntriesStaysAJarAndRuns) {
    const struct {
        const char* name;
        bool withHelpers;  // true: tvx-pack copies the jar byte for byte
    } rows[] = {{"helper classes added by tvx-pack", false}, {"jar copied as it is", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxtest::TempDir dir;
        const std::string jar = dir / "big.jar";
        const std::string exe = dir / "big";
        WriteBigJar(TestJar(), jar, row.withHelpers);
        tvxtest::RunResult pack = RunPack({"--set", "jvmdll " + tvxtest::JavaHome() + "/lib/server/libjvm.so",
                                           "--set", "stderr " + (dir / "big.err"), "-o", exe, jar});
        ASSERT_EQ(pack.exitCode, 0) << pack.err;

        // The locator names the ZIP64 end record by its offset in the executable.
        const std::string bytes = tvxtest::ReadFile(exe);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        const size_t eocd = bytes.size() - tvx_layout::kEocdSize;
        ASSERT_EQ(tvx_layout::ReadLE32(data + eocd), tvx_layout::kEocdSignature);
        ASSERT_EQ(tvx_layout::ReadLE16(data + eocd + 10), 0xFFFF) << "the entry count needs ZIP64";
        const size_t locator = eocd - tvx_layout::kZip64LocatorSize;
        ASSERT_EQ(tvx_layout::ReadLE32(data + locator), tvx_layout::kZip64LocatorSignature);
        const uint64_t record = tvx_layout::ReadLE64(data + locator + 8);
        ASSERT_LT(record, bytes.size());
        EXPECT_EQ(tvx_layout::ReadLE32(data + record), tvx_layout::kZip64RecordSignature);
        EXPECT_EQ(record + tvx_layout::kZip64RecordSize, locator);
        const tvxpack::ExecutableLayout layout = LayoutOf(exe);
        char text[512];
        EXPECT_EQ(ArchiveDamage(data, bytes.size(), layout.archiveOffset, layout.archiveLength, text, sizeof text),
                  nullptr)
            << text;

        // unzip finds every entry intact and warns only about the launcher in front.
        tvxtest::RunResult unzip = tvxtest::Run({"unzip", "-tq", exe});
        EXPECT_TRUE(unzip.exitCode == 0 || unzip.exitCode == 1) << unzip.out << unzip.err;
        EXPECT_NE(unzip.out.find("No errors detected in compressed data"), std::string::npos) << unzip.out;
        EXPECT_EQ((unzip.out + unzip.err).find("signature not where expected"), std::string::npos) << unzip.out;
        tvxtest::RunResult count = tvxtest::Shell("unzip -Z1 '" + exe + "' 2>/dev/null | wc -l");
        tvxtest::RunResult base = tvxtest::Shell("unzip -Z1 '" + TestJar() + "' | grep -vc '^com/brindell/tvx/'");
        EXPECT_EQ(std::stoi(count.out), kFillers + std::stoi(base.out) + static_cast<int>(HelperClassNames().size()));

        tvxtest::RunResult java = tvxtest::Run({tvxtest::JavaHome() + "/bin/java", "-cp", exe, "packtest.Hello", "a"});
        EXPECT_EQ(java.exitCode, 0) << java.err;
        EXPECT_EQ(java.out, "main=packtest.Hello\nargs=a\nmode=null\nhelper=com.brindell.tvx.Instances\n");

        tvxtest::RunOptions inDir;  // tvx-pack's default startup cache kept here
        inDir.setEnv["XDG_CACHE_HOME"] = dir / "cache";
        inDir.unsetEnv = {"CACHE_DIRECTORY"};
        tvxtest::RunResult run = tvxtest::Run({"/usr/bin/unshare", "--ipc", exe, "-test", "b"}, inDir);
        EXPECT_EQ(run.exitCode, 0) << run.out << tvxtest::ReadFile(dir / "big.err");
        EXPECT_EQ(run.out, "main=packtest.Hello\nargs=b\nmode=null\nhelper=com.brindell.tvx.Instances\n")
            << tvxtest::ReadFile(dir / "big.err");
    }
}

}  // namespace
}  // namespace packtest
