// With minjre or maxjre set, the search passes over runtimes whose release
// file names a version outside the range and goes on with the next source,
// then Debian's runtimes in /usr/lib/jvm (here a private tmpfs holding only
// the tests' runtime and the row's fake runtimes). Fake runtimes are a
// release file and a link to the real library, so whatever they claim the
// virtual machine created is the real one and the version check after
// creation has the last word.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/instances/private_namespaces.h"
#include "tests/support/test_support.h"

namespace {

[[maybe_unused]] const bool kIsolated = tvxtest::RegisterPrivateNamespaces({"/usr/lib/jvm"});

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? buf : path;
}

// A runtime home at `home` whose release file names `version` and whose
// library is a link to the real one; with a bin/java for the PATH search.
std::string FakeRuntime(const std::string& home, const std::string& version) {
    tvxtest::MakeDirs(home + "/lib/server");
    tvxtest::MakeDirs(home + "/bin");
    tvxtest::WriteFile(home + "/release", "IMPLEMENTOR=\"test\"\nJAVA_VERSION=\"" + version + "\"\n");
    tvxtest::WriteFile(home + "/bin/java", "#!/bin/sh\nexit 1\n");
    chmod((home + "/bin/java").c_str(), 0755);
    const std::string real = RealPath(tvxtest::JavaHome()) + "/lib/server/libjvm.so";
    EXPECT_EQ(0, symlink(real.c_str(), (home + "/lib/server/libjvm.so").c_str()));
    return home;
}

struct RangeRow {
    const char* name;
    std::vector<std::string> settings;
    const char* onPath;     // fake runtime whose bin/ is first on PATH ("" none)
    const char* javaHome;   // fake runtime as JAVA_HOME; "real" for the tests' runtime
    std::vector<std::string> debian;  // entries made in /usr/lib/jvm: "name=version" or "default-java=name"
    int status;
    std::vector<std::string> lines;   // explain lines (or log lines) expected, {R} the row's root
};

class RuntimeRange : public testing::TestWithParam<RangeRow> {};

std::string Fill(std::string text, const std::string& root) {
    for (size_t pos = text.find("{R}"); pos != std::string::npos; pos = text.find("{R}", pos + root.size()))
        text.replace(pos, 3, root);
    return text;
}

TEST_P(RuntimeRange, PassesOverRuntimesOutsideTheRange) {
    const RangeRow& row = GetParam();
    if (tvxtest::CrossBuild()) GTEST_SKIP() << "the fake runtimes link the build machine's runtime";
    tvxtest::TempDir tmp;
    const std::string root = RealPath(tmp.path());
    FakeRuntime(root + "/rt11", "11.0.2");
    FakeRuntime(root + "/rt17", "17.0.1");
    FakeRuntime(root + "/rt25", "25.0.1");
    std::vector<std::string> made;
    for (const std::string& entry : row.debian) {
        const size_t eq = entry.find('=');
        const std::string path = "/usr/lib/jvm/" + entry.substr(0, eq);
        if (entry.compare(0, eq, "default-java") == 0)
            ASSERT_EQ(0, symlink(entry.substr(eq + 1).c_str(), path.c_str()));
        else
            FakeRuntime(path, entry.substr(eq + 1));
        made.push_back(path);
    }

    const std::string exe = root + "/probe";
    std::vector<std::string> settings = {"mainclass discoveryprobe.Probe"};
    for (const std::string& line : row.settings) settings.push_back(Fill(line, root));
    tvxtest::Pack(tvxtest::TestJarsDir() + "/discovery-probe.jar", exe, settings);
    tvxtest::RunOptions options;
    options.unsetEnv = {"JAVA_HOME", "JRE_HOME", "JAVA_TOOL_OPTIONS"};
    options.setEnv["TVX_EXPLAIN"] = "1";
    const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    options.setEnv["PATH"] = *row.onPath ? root + "/" + row.onPath + "/bin:" + path : path;
    if (std::string(row.javaHome) == "real")
        options.setEnv["JAVA_HOME"] = RealPath(tvxtest::JavaHome());
    else if (*row.javaHome)
        options.setEnv["JAVA_HOME"] = root + "/" + row.javaHome;

    tvxtest::RunResult r = tvxtest::Run({exe, "-test"}, options);
    const std::string log = tvxtest::ReadFile(exe + ".stderr.log");
    for (const std::string& p : made) std::filesystem::remove_all(p);
    EXPECT_EQ(row.status, r.exitCode) << r.err << log;
    for (const std::string& line : row.lines) {
        const std::string want = Fill(line, root);
        EXPECT_NE((r.err + log).find(want), std::string::npos) << "missing: " << want << "\n" << r.err << log;
    }
}

const RangeRow kRangeRows[] = {
    {"PathAboveMaximumGoesOnToJavaHome", {"maxjre 17"}, "rt25", "real", {}, 0,
     {"runtime source s (java on PATH): {R}/rt25/bin/../lib/server/libjvm.so: skipped, its release file says 25.0.1, above "
      "minjre (none), maxjre 17",
      "runtime source e (JAVA_HOME): ", "application starts"}},
    {"ReleaseFileChoosesButTheCheckAfterCreationHasTheLastWord", {"minjre 21"}, "rt11", "rt25", {}, 6,
     {"skipped, its release file says 11.0.2, below minjre 21",
      "runtime source e (JAVA_HOME): {R}/rt25: accepted, library {R}/rt25/lib/server/libjvm.so",
      "is too low, require 21 or higher."}},
    {"DebianDefaultOutsideTheRangeThenTheNewestThatFits", {"minjre 11", "maxjre 17", "jre_order s"}, "rt25", "",
     {"jdk25=25.0.1", "jdk11=11.0.2", "jdk17=17.0.99", "default-java=jdk25"}, 0,
     {"runtime source Debian (/usr/lib/jvm): /usr/lib/jvm/default-java/lib/server/libjvm.so: skipped, its release "
      "file says 25.0.1",
      "runtime source Debian (/usr/lib/jvm): /usr/lib/jvm/jdk17/lib/server/libjvm.so: accepted, the newest that fits "
      "(release 17.0.99)",
      "application starts"}},
    {"NothingFitsTheFirstFoundIsRefusedByTheCheck", {"minjre 30", "jre_order se"}, "rt11", "rt25",
     {"jdk17=17.0.9"}, 6,
     {"no runtime fits minjre 30, maxjre (none); {R}/rt11/bin/../lib/server/libjvm.so, the first found, is used",
      "is too low, require 30 or higher."}},
    {"SettingsNamingNothingWarnOnce", {"jre_order cbe", "jvmdll {R}/none/libjvm.so", "jre {R}/nojre"}, "", "real", {},
     0,
     {"WARNING: jvmdll {R}/none/libjvm.so: no such library, the next runtime source is tried",
      "WARNING: jre {R}/nojre: no Java runtime there, the next runtime source is tried", "application starts"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, RuntimeRange, testing::ValuesIn(kRangeRows),
                         [](const testing::TestParamInfo<RangeRow>& info) { return info.param.name; });

}  // namespace
