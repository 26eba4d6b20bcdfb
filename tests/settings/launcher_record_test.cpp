// The settings of executables made from the real launcher image.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/layout.h"
#include "settings/settings_loader.h"
#include "tests/settings/settings_fixture.h"

namespace {

using settingstest::MakeLayout;
using settingstest::ZipArchive;

std::string LauncherImage() {
    static const std::string image = tvxtest::ReadFile(tvxtest::BinDir() + "/tvx-launcher");
    return image;
}

using settingstest::Str;

TEST(LauncherRecord, OneUnpatchedRecordInTheImage) {
    const std::string image = LauncherImage();
    ASSERT_FALSE(image.empty());
    const long record = tvxpack::FindLengthRecord(image);
    ASSERT_GE(record, 0) << "the marker must occur exactly once";
    EXPECT_EQ(image.substr(static_cast<size_t>(record), 8), std::string(8, '\0'));
    EXPECT_EQ(image.compare(static_cast<size_t>(record) + 8, tvx_layout::kRecordMarkerSize,
                            tvx_layout::kRecordMarker, tvx_layout::kRecordMarkerSize),
              0);
}

TEST(LauncherRecord, SettingsOfPackedLaunchersAreRead) {
    struct Row {
        const char* name;
        size_t unread;
        size_t payload;
        size_t comment;
    } rows[] = {
        {"plain", 0, 100, 0},
        {"unread blocks and comment", 64, 1000, 77},
        {"large file", 0, 6000000, 60000},
    };
    tvxtest::TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxpack::Layout layout = MakeLayout(LauncherImage(), {"mainclass com.example.Main", "option -Da=1",
                                                              "option -Db=2"},
                                            ZipArchive(row.payload, std::string(row.comment, '#')));
        layout.firstUnread = std::string(row.unread, '1');
        layout.secondUnread = std::string(row.unread / 2, '2');
        const std::string exe = dir / "app";
        const std::string bytes = settingstest::WriteExecutable(exe, layout);
        CSettingsLoader loader(true, exe.c_str());
        EXPECT_EQ(static_cast<size_t>(loader.RemarkEndOffset()), settingstest::ExpectedRemarkEnd(layout, bytes.size()));
        EXPECT_EQ(Str(loader.GetCommon("mainclass", true)), "com.example.Main");
        MyCStringArray options;
        loader.GetAll("option", options);
        ASSERT_EQ(options.GetCount(), 2);
        EXPECT_STREQ(options[0], "-Da=1");
        EXPECT_STREQ(options[1], "-Db=2");
    }
}

// The running launcher reads its patched record: the debug variable shows it.
TEST(LauncherRecord, RunningLauncherDumpsItsPatchedRecord) {
    tvxtest::TempDir dir;
    const std::string archive = ZipArchive(100);
    ASSERT_EQ(archive.size(), 0xD6u);
    const std::string exe = dir / "app";
    settingstest::WriteExecutable(exe, MakeLayout(LauncherImage(), {"mainclass a.B"}, archive));
    tvxtest::RunOptions options;
    options.setEnv["_TOLVANE_BINARY_DEBUG_"] = "";
    // Private IPC and mount namespaces: nothing the launcher creates reaches the machine.
    const std::string script =
        "set -e; run=$(readlink -f /var/run); mount -t tmpfs tmpfs \"$run\"; "
        "lock=$(readlink -f /var/lock); mkdir -p \"$lock\"; "
        "case \"$lock\" in \"$run\"/*) ;; *) mount -t tmpfs tmpfs \"$lock\";; esac; "
        "exec \"$0\" \"$@\"";
    tvxtest::RunResult r = tvxtest::Run(
        {"unshare", "--ipc", "--mount", "--propagation", "private", "sh", "-c", script, exe, "-help"}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string dump = "\xD6.......TvxArcLen2026.\n";
    EXPECT_EQ(r.out.substr(0, dump.size()), dump);
}

}  // namespace
