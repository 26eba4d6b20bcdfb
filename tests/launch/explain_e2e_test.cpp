// Explain mode end to end: packed executables started with TVX_EXPLAIN, whose
// explanations must reach the original standard error (not the log) and say
// what the launcher did and why.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/launch/launch_test_util.h"
#include "tests/support/test_support.h"

namespace {

using launchtest::CountOf;
using launchtest::PackedApp;
using tvxtest::RunOptions;
using tvxtest::RunResult;

using launchtest::kProbe;

RunOptions Explaining() {
    RunOptions options;
    options.setEnv["TVX_EXPLAIN"] = "1";
    return options;
}

void ExpectLines(const std::string& text, const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        EXPECT_EQ(CountOf(text, "tvx-explain: " + line + "\n"), 1) << "missing: " << line << "\n" << text;
}

TEST(Explain, SuccessfulLaunchSaysWhatItDid) {
    PackedApp app({"option -Xmx64m", "property app.mode=${EXPLAIN_MODE}", "Optoin -Xss1m", "argv one"}, kProbe);
    RunOptions options = Explaining();
    options.setEnv["EXPLAIN_MODE"] = "fast";
    RunResult r = app.Run({"two"}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    const std::string home = app.dir.path() + "/";
    const std::string cp = app.exe;
    ExpectLines(r.err, {
        "setting mainclass = launchtest.Probe (embedded block line 1)",
        "setting option = -Xmx64m (embedded block line 2)",
        "setting property = app.mode=${EXPLAIN_MODE} (embedded block line 3)",
        "line ignored, no known key: Optoin -Xss1m (embedded block line 4)",
        "setting argv = one (embedded block line 5)",
        "setting jre_order: not set (cbsie)",
        "setting startupcache: not set (false)",
        "expand ${EXPLAIN_MODE} = fast (environment)",
        "working directory " + app.dir.path() + " (forcecwd .)",
        "stderr -> " + app.exe + ".stderr.log (default: executable path + .stderr.log)",
        "stdout -> unchanged",
        "single instance: off",
        "runtime search order cbsie",
        "runtime source c (jvmdll): refused, not set",
        "runtime source b (bundled runtime, jre): " + home + "./jre/: refused, missing",
        "vm option -Xmx64m",
        "vm option -Djava.class.path=" + cp,
        "vm option -Dtvx.app.path=" + app.exe,
        "virtual machine created (result 0)",
        "property app.mode=fast",
        "version check: skipped, neither minjre nor maxjre is set",
        "main class launchtest.Probe",
        "argv setting one",
        "application starts",
    });
    EXPECT_EQ(CountOf(r.err, "tvx-explain: executable " + app.exe + ": "), 1) << r.err;
    EXPECT_NE(r.err.find("tvx-explain: runtime source s (java on PATH): "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": accepted, library /"), std::string::npos) << r.err;
    // Explanations end before the application runs, and stay out of the log
    // and out of standard output.
    EXPECT_LT(r.err.find("application starts"), r.err.size());
    EXPECT_EQ(app.ErrLog().find("tvx-explain"), std::string::npos) << app.ErrLog();
    EXPECT_EQ(r.out.find("tvx-explain"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("arg1=two"), std::string::npos) << r.out;
}

TEST(Explain, OffWhenUnsetOrZero) {
    PackedApp app({"option -Xmx64m"}, kProbe);
    for (const char* value : {"", "0"}) {
        RunOptions options;
        if (*value) options.setEnv["TVX_EXPLAIN"] = value;
        else options.unsetEnv = {"TVX_EXPLAIN"};
        RunResult r = app.Run({}, options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ((r.out + r.err + app.ErrLog()).find("tvx-explain"), std::string::npos) << value;
    }
}

// Every runtime source refuses, each with its reason; then "not found".
TEST(Explain, NoRuntimeGivesEachSourcesReason) {
    PackedApp app({"jvmdll /nonexistent/libjvm.so", "jre ./bundled"}, kProbe);
    tvxtest::TempDir notRuntime;
    tvxtest::TempDir emptyPath;
    RunOptions options = Explaining();
    options.setEnv["PATH"] = emptyPath.path();
    options.setEnv["JAVA_HOME"] = notRuntime.path();
    options.unsetEnv = {"JRE_HOME"};
    RunResult r = app.Run({}, options);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    ExpectLines(r.err, {
        "runtime search order cbsie",
        "runtime source c (jvmdll): /nonexistent/libjvm.so: refused, missing",
        "runtime source b (bundled runtime, jre): " + app.dir.path() + "/./bundled: refused, missing",
        "runtime source e (JRE_HOME): refused, not set",
        "runtime source e (JAVA_HOME): " + notRuntime.path() + ": refused, not a runtime (no libjvm.so in its layouts)",
        "runtime not found: every source refused",
        "launch failed: result 1",
    });
    // The search-path probe runs twice (two registry names elsewhere), each
    // time without a java command.
    EXPECT_EQ(CountOf(r.err, "tvx-explain: runtime source s (java on PATH): no java command on PATH, probing /\n"), 2)
        << r.err;
    EXPECT_EQ(CountOf(r.out, "Java Runtime Environment not found.\n"), 1) << r.out;
}

// A library built for another processor is found (the search accepts any
// readable file) and explained as such; loading it then fails.
TEST(Explain, LibraryOfAnotherProcessorIsNamed) {
    PackedApp app({"jre_order c", "jvmdll other-cpu-libjvm.so"}, kProbe);
    std::string elf(64, '\0');
    elf.replace(0, 4, "\x7f" "ELF");
    elf[4] = 2;                          // 64-bit
    elf[5] = 1;                          // little-endian
    elf[18] = static_cast<char>(0x02);   // machine 2 (SPARC): no launcher build uses it
    tvxtest::WriteFile(app.dir / "other-cpu-libjvm.so", elf);
    RunResult r = app.Run({}, Explaining());
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("tvx-explain: runtime source c (jvmdll): " + app.dir.path() +
                         "/other-cpu-libjvm.so: accepted, library " + app.dir.path() +
                         "/other-cpu-libjvm.so, but wrong processor: ELF machine 2"),
              std::string::npos)
        << r.err;
}

TEST(Explain, VersionRangeRefusal) {
    PackedApp app({"minjre 1.8", "maxjre 11"}, kProbe);
    RunResult r = app.Run({}, Explaining());
    EXPECT_EQ(r.exitCode, 12) << r.err;
    ExpectLines(r.err, {"version check: runtime " + launchtest::JavaVersion() + ", minjre 1.8, maxjre 11: refused, too high",
                        "launch failed: result 12"});
    EXPECT_EQ(r.err.find("application starts"), std::string::npos);
}

// TVX_EXPLAIN=dry says the same facts up to the runtime and stops: the
// application's main (which prints its properties) never runs and the
// runtime library is never loaded, whatever the road; without a runtime the
// dry run ends with the launch result.
TEST(Explain, DryRunStopsBeforeTheVirtualMachine) {
    struct Row {
        const char* name;
        std::vector<std::string> settings;
        std::vector<std::string> args;
        int status;
        const char* line;
    } rows[] = {
        {"test road", {}, {"-test"}, 0, "dry run: stops before creating the virtual machine with "},
        {"plain run", {}, {}, 0, "dry run: stops before creating the virtual machine with "},
        {"no runtime", {"jre_order c"}, {"-test"}, 1, "runtime not found: every source refused"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedApp app(row.settings, kProbe);
        RunOptions options;
        options.setEnv["TVX_EXPLAIN"] = "dry";
        RunResult r = app.Run(row.args, options);
        EXPECT_EQ(r.exitCode, row.status) << r.err << app.ErrLog();
        EXPECT_NE(r.err.find(std::string("tvx-explain: ") + row.line), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("main returned"), std::string::npos) << r.out;  // what the probe prints last
        EXPECT_EQ(r.err.find("virtual machine created"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("application starts"), std::string::npos) << r.err;
    }
}

TEST(Explain, ExternalFileOverridesEmbeddedValue) {
    PackedApp app({"stderr ${APPLICATION_HOME}embedded.log", "option -Xmx64m", "mainclass other.Main"}, kProbe);
    tvxtest::WriteFile(app.exe + ".cfg", "stderr %APPLICATION_HOME%external.log\r\noption -Xss2m\r\nmainclass x.Y\r\n");
    RunResult r = app.Run({}, Explaining());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ExpectLines(r.err, {
        "external file " + app.exe + ".cfg: read first, its lines override the embedded block",
        "setting stderr = %APPLICATION_HOME%external.log (app.cfg line 1)",
        "setting option = -Xss2m (app.cfg line 2)",
        "setting mainclass = x.Y (app.cfg line 3, ignored: read from the embedded block only)",
        "setting mainclass = launchtest.Probe (embedded block line 1)",
        "setting stderr = ${APPLICATION_HOME}embedded.log (embedded block line 2, overridden by app.cfg line 1)",
        "setting mainclass = other.Main (embedded block line 4, unused: embedded block line 1 sets it first)",
        "stderr -> " + app.dir.path() + "/external.log",
        "vm option -Xss2m",
    });
    EXPECT_LT(r.err.find("vm option -Xss2m"), r.err.find("vm option -Xmx64m"));
}

}  // namespace
