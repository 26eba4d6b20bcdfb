// A packed launcher, run as its own process, finds the build's JDK through
// each search source and hands the virtual machine the assembled class path.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

// Table rows print as their names (test lists, failure messages).
template <class Row, class = decltype(&Row::name)>
std::ostream& operator<<(std::ostream& os, const Row& row) {
    return os << row.name;
}

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? buf : path;
}

std::string Replace(std::string text, const std::string& key, const std::string& value) {
    for (size_t pos = text.find(key); pos != std::string::npos; pos = text.find(key, pos + value.size()))
        text.replace(pos, key.size(), value);
    return text;
}

std::map<std::string, std::string> Properties(const std::string& out) {
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

struct SourceRow {
    const char* name;
    std::vector<std::string> settings;  // {JDK}: the build's JDK home
    bool javaHome;                      // JAVA_HOME set to the JDK
    bool javaOnPath;                    // a link chain to the JDK's java first on PATH
    bool jreBesideApp;                  // app/jre links to the JDK
    bool found;
};

class DiscoveryE2e : public testing::TestWithParam<SourceRow> {};

TEST_P(DiscoveryE2e, RunsWithTheRuntimeOfTheSource) {
    const SourceRow& row = GetParam();
    tvxtest::TempDir tmp;
    const std::string root = RealPath(tmp.path());
    const std::string jdk = tvxtest::JavaHome();
    const std::string home = root + "/app/";
    tvxtest::MakeDirs(home + "lib/sub");
    tvxtest::MakeDirs(home + "conf");
    tvxtest::MakeDirs(root + "/work");
    tvxtest::WriteFile(home + "lib/sub/a.jar", "");

    std::vector<std::string> settings = {"mainclass discoveryprobe.Probe", "java_libs lib", "classpath conf"};
    for (const std::string& line : row.settings) settings.push_back(Replace(line, "{JDK}", jdk));
    const std::string exe = home + "probe";
    tvxtest::Pack(tvxtest::TestJarsDir() + "/discovery-probe.jar", exe, settings);

    tvxtest::RunOptions options;
    options.cwd = root + "/work";
    options.unsetEnv = {"JAVA_HOME", "JRE_HOME", "CLASSPATH", "CLASS_PATH", "JAVA_TOOL_OPTIONS"};
    if (row.javaHome) options.setEnv["JAVA_HOME"] = jdk;
    if (row.javaOnPath) {
        tvxtest::MakeDirs(root + "/path");
        tvxtest::MakeDirs(root + "/alternatives");
        ASSERT_EQ(0, symlink((jdk + "/bin/java").c_str(), (root + "/alternatives/java").c_str()));
        ASSERT_EQ(0, symlink("../alternatives/java", (root + "/path/java").c_str()));
        options.setEnv["PATH"] = root + "/path:" + getenv("PATH");
    }
    if (row.jreBesideApp) {
        ASSERT_EQ(0, symlink(jdk.c_str(), (home + "jre").c_str()));
    }

    tvxtest::RunResult r = tvxtest::Run({exe, "-test"}, options);
    const std::string log = tvxtest::ReadFile(exe + ".stderr.log");
    if (!row.found) {
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ("Java Runtime Environment not found.\n", r.out);
        EXPECT_EQ("Java Runtime Environment not found.\n", log);
        return;
    }
    ASSERT_EQ(0, r.exitCode) << r.out << log;
    std::map<std::string, std::string> props = Properties(r.out);
    EXPECT_EQ(RealPath(jdk), RealPath(props["java.home"]));
    const std::string classPath = exe + ":" + home + "lib/sub/a.jar:" + home + "conf";
    EXPECT_EQ(classPath, props["java.class.path"]);
    EXPECT_EQ(classPath, props["tvx.class.path"]);
}

const SourceRow kSourceRows[] = {
    {"JvmdllSetting", {"jre_order c", "jvmdll {JDK}/lib/server/libjvm.so"}, false, false, false, true},
    {"RuntimeBesideTheApplication", {"jre_order b"}, false, false, true, true},
    {"JavaCommandOnPath", {"jre_order s"}, false, true, false, true},
    {"JavaHome", {"jre_order e"}, true, false, false, true},
    {"SourceWithoutRuntime", {"jre_order e"}, false, true, true, false},
    {"OnlyOtherSources", {"jre_order bi"}, true, true, false, false},
};

INSTANTIATE_TEST_SUITE_P(Sources, DiscoveryE2e, testing::ValuesIn(kSourceRows),
                         [](const testing::TestParamInfo<SourceRow>& info) { return info.param.name; });

}  // namespace
