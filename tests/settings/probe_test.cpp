// A packed program reading its own settings: the record patched into its
// image, its path, and the configuration file beside it.
#include <string>

#include <gtest/gtest.h>

#include "tests/settings/settings_fixture.h"

namespace {

using settingstest::MakeLayout;
using settingstest::ProbeImage;

class SettingsProbe : public testing::Test {
protected:
    tvxtest::RunResult RunProbe(const std::string& exe, const std::vector<std::string>& requests,
                                const char* debug = nullptr) {
        std::vector<std::string> argv = {exe};
        argv.insert(argv.end(), requests.begin(), requests.end());
        tvxtest::RunOptions options;
        options.cwd = "/";
        if (debug)
            options.setEnv["_TOLVANE_BINARY_DEBUG_"] = debug;
        else
            options.unsetEnv.push_back("_TOLVANE_BINARY_DEBUG_");
        return tvxtest::Run(argv, options);
    }
    tvxtest::TempDir dir_;
};

TEST_F(SettingsProbe, ReadsItsOwnSettingsAndTheFileBesideIt) {
    const std::string exe = dir_ / "app.bin";
    settingstest::WriteExecutable(exe, MakeLayout(ProbeImage(), {"mainclass com.example.Main", "option -Dblock",
                                                                 "option $APPLICATION_HOME"},
                                                  settingstest::ZipArchive(100, "comment")));
    tvxtest::WriteFile(dir_ / "app.cfg", "option -Dreplaced-extension\nmainclass ignored\n");
    tvxtest::WriteFile(dir_ / "app.bin.config", "option -Dext\nmainclass ext.Main\n");
    tvxtest::RunResult r =
        RunProbe(exe, {"first:mainclass", "embedded:mainclass", "all:option", "home", "first:missing"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string home = dir_.path() + "/";
    EXPECT_EQ(r.out, "[ext.Main]\n[com.example.Main]\n[-Dext]\n[-Dblock]\n[" + home + "]\n[" + home + "]\n[]\n");
}

TEST_F(SettingsProbe, ImagesWithoutAPatchedRecordHaveNoSettings) {
    tvxpack::Layout layout = MakeLayout(ProbeImage(), {"option -Dblock"});
    std::string bytes;
    std::string error;
    ASSERT_TRUE(tvxpack::BuildExecutable(layout, &bytes, &error)) << error;
    settingstest::WriteLE32At(bytes, static_cast<size_t>(tvxpack::FindLengthRecord(layout.image)), 0);
    const std::string unpatched = dir_ / "unpatched";
    tvxtest::WriteFile(unpatched, bytes, 0755);
    const std::string plain = dir_ / "plain";
    tvxtest::WriteFile(plain, ProbeImage(), 0755);
    for (const std::string& exe : {unpatched, plain}) {
        SCOPED_TRACE(exe);
        tvxtest::RunResult r = RunProbe(exe, {"all:option", "first:option"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "[]\n");
    }
}

TEST_F(SettingsProbe, DebugVariableDumpsTheLengthRecord) {
    const std::string archive = settingstest::ZipArchive(100);
    ASSERT_EQ(archive.size(), 0xD6u);  // the length's low byte is printed as itself
    const std::string exe = dir_ / "app";
    settingstest::WriteExecutable(exe, MakeLayout(ProbeImage(), {"mainclass a.B"}, archive));
    const std::string dump = "\xD6.......TvxArcLen2026.\n";
    struct Row {
        const char* name;
        const char* debug;
        std::string out;
    } rows[] = {
        {"unset", nullptr, "[a.B]\n"},
        {"empty", "", dump + "[a.B]\n"},
        {"set", "yes", dump + "[a.B]\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxtest::RunResult r = RunProbe(exe, {"first:mainclass"}, row.debug);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, row.out);
    }
}

}  // namespace
