// Text reaches the Java application intact: arguments and settings in the C
// locale of an empty environment, and characters beyond U+FFFF in arguments,
// properties and options.
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
const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600

// Runs the packed probe as `env -i` would: no environment at all, so no
// PATH and the C locale.
RunResult RunWithEmptyEnvironment(const PackedApp& app, const std::vector<std::string>& args,
                                  const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {"/usr/bin/unshare", "--ipc", "/usr/bin/env", "-i"};
    // Without PATH the launcher searches the system's default one, whose
    // "java" is the build machine's; a cross build names its own runtime.
    if (tvxtest::CrossBuild()) argv.push_back("PATH=" + tvxtest::JavaHome() + "/bin");
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(app.exe);
    argv.push_back("-test");
    argv.insert(argv.end(), args.begin(), args.end());
    return tvxtest::Run(argv);
}

TEST(LaunchText, ArgumentsInTheCLocaleOfAnEmptyEnvironment) {
    PackedApp app({}, kProbe);
    RunResult r = RunWithEmptyEnvironment(app, {"\xC3\xA9 x", "ab\xC3\xA9" "cd", kGrin, "a\xFFz", "plain"});
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    auto v = ProbeValues(r.out);
    const struct {
        const char* key;
        const char* units;
    } rows[] = {
        {"arg0", "units=00e9,0020,0078"},
        {"arg1", "units=0061,0062,00e9,0063,0064"},
        {"arg2", "units=d83d,de00"},
        {"arg3", "units=0061,fffd,007a"},  // only the invalid byte is replaced
        {"arg4", "units=0070,006c,0061,0069,006e"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_NE(v[row.key].find(row.units), std::string::npos) << v[row.key];
    }
}

// An external file without a byte-order mark is read as UTF-8 in the C
// locale: a comment with an accent no longer ends the file.
TEST(LaunchText, ExternalFileInTheCLocaleIsReadWhole) {
    PackedApp app({"property block.prop=" + kGrin}, kProbe);
    tvxtest::WriteFile(app.exe + ".cfg", "# r\xC3\xA9glages\nargv after\xC3\xA9\nproperty ext.prop=\xC3\xA9" + kGrin +
                                             "\n");
    RunResult r = RunWithEmptyEnvironment(app, {}, {"PROBE_PROPS=ext.prop,block.prop"});
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    auto v = ProbeValues(r.out);
    EXPECT_NE(v["arg0"].find("units=0061,0066,0074,0065,0072,00e9"), std::string::npos) << r.out;
    // Printed by Java in the C locale, where every non-ASCII character is "?".
    EXPECT_EQ(v["prop:ext.prop"], "??");
    EXPECT_EQ(v["prop:block.prop"], "?");
}

// Characters beyond U+FFFF in every kind of value; Java prints them back as
// UTF-8 in a UTF-8 locale.
TEST(LaunchText, CharactersBeyondTheBasicPlaneSurvive) {
    PackedApp app({"option -Dopt.grin=a" + kGrin + "b", "property prop.grin=c" + kGrin + "d", "argv e" + kGrin},
                  kProbe);
    RunOptions options;
    options.setEnv["PROBE_PROPS"] = "opt.grin,prop.grin";
    RunResult r = app.Run({kGrin + "f"}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    auto v = ProbeValues(r.out);
    EXPECT_EQ(v["prop:opt.grin"], "a" + kGrin + "b");
    EXPECT_EQ(v["prop:prop.grin"], "c" + kGrin + "d");
    EXPECT_EQ(v["arg0"], "e" + kGrin + " units=0065,d83d,de00");
    EXPECT_EQ(v["arg1"], kGrin + "f units=d83d,de00,0066");
}

}  // namespace
