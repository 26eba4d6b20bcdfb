// Packed executables run with "-test" as separate processes against the
// machine's JDK: what reaches the Java application, and every launch result
// with its message and exit status.
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/launch/launch_test_util.h"
#include "tests/support/test_support.h"

namespace {

using launchtest::CountOf;
using launchtest::FakeLib;
using launchtest::JavaVersion;
using launchtest::PackedApp;
using launchtest::ProbeValues;
using tvxtest::RunOptions;
using tvxtest::RunResult;

using launchtest::kProbe;

// Main classes that need launchtest's dependency, and the dependency alone.
std::string NeedsDepJar() { return tvxtest::TestJarsDir() + "/launch-needs-dep.jar"; }
std::string DepJar() { return tvxtest::TestJarsDir() + "/launch-dep.jar"; }

TEST(LaunchArguments, SettingsWordsThenCommandLineReachMain) {
    PackedApp app({"argv one \"two words\"", "argv three\\ four", "argv \"\""}, kProbe);
    RunResult r = app.Run({"cmd1", "cmd 2", "\xC5\xBElu\xC5\xA5", "\xF0\x9F\x98\x80"});
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    std::map<std::string, std::string> v = ProbeValues(r.out);
    struct Row {
        const char* key;
        const char* expected;
    } rows[] = {
        {"argc", "8"},
        {"arg0", "one units=006f,006e,0065"},
        {"arg1", "two words units=0074,0077,006f,0020,0077,006f,0072,0064,0073"},
        {"arg2", "three four units=0074,0068,0072,0065,0065,0020,0066,006f,0075,0072"},
        {"arg3", " units="},
        {"arg4", "cmd1 units=0063,006d,0064,0031"},
        {"arg5", "cmd 2 units=0063,006d,0064,0020,0032"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(v[row.key], row.expected);
    }
    // Non-ASCII arguments in a UTF-8 locale: one UTF-16 unit per character
    // of the basic plane, a surrogate pair beyond it.
    EXPECT_NE(v["arg6"].find("units=017e,006c,0075,0165"), std::string::npos) << v["arg6"];
    EXPECT_NE(v["arg7"].find("units=d83d,de00"), std::string::npos) << v["arg7"];
    EXPECT_NE(r.out.find("main returned\n"), std::string::npos);
}

TEST(LaunchProperties, ClassPathAppPathHomeAndPropertyLines) {
    PackedApp app({"option -Dover.ride=option", "option -Dopt.one=1", "property app.mode=fast",
                   "property empty.prop", "property eq.prop=a=b=c", "property over.ride=property",
                   "property utf.prop=\xC5\xBElu\xC5\xA5"},
                  kProbe);
    RunOptions options;
    options.setEnv["PROBE_PROPS"] =
        "java.class.path,tvx.class.path,tvx.app.path,application.home,app.mode,empty.prop,eq.prop,over.ride,"
        "utf.prop,opt.one";
    options.unsetEnv = {"CLASSPATH", "CLASS_PATH"};
    RunResult r = app.Run({}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    std::map<std::string, std::string> v = ProbeValues(r.out);
    EXPECT_EQ(v["prop:java.class.path"], app.exe);
    EXPECT_EQ(v["prop:tvx.class.path"], app.exe);
    EXPECT_EQ(v["prop:tvx.app.path"], app.exe);
    std::string home = v["prop:application.home"];
    EXPECT_TRUE(home == app.dir.path() || home == app.dir.path() + "/") << home;
    EXPECT_EQ(v["prop:app.mode"], "fast");
    EXPECT_EQ(v["prop:empty.prop"], "");
    EXPECT_EQ(v["prop:eq.prop"], "a=b=c");
    EXPECT_EQ(v["prop:over.ride"], "property");  // properties are set after the options took effect
    EXPECT_EQ(v["prop:utf.prop"], "\xC5\xBElu\xC5\xA5");
    EXPECT_EQ(v["prop:opt.one"], "1");
}

TEST(LaunchProperties, EnvironmentClassPathFollowsTheTwoParts) {
    PackedApp app({}, kProbe);
    RunOptions options;
    options.setEnv["PROBE_PROPS"] = "java.class.path";
    options.setEnv["CLASSPATH"] = "/nowhere/a.jar";
    options.unsetEnv = {"CLASS_PATH"};
    RunResult r = app.Run({}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    EXPECT_EQ(ProbeValues(r.out)["prop:java.class.path"], app.exe + ":/nowhere/a.jar");
}

// The runtime reads an empty class path entry as the working directory:
// none is passed, so what lies in the working directory is not loaded,
// whatever the class-path settings and variables; only an entry that names
// the working directory itself reaches it.
TEST(LaunchProperties, WorkingDirectoryIsNotOnTheClassPath) {
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        std::map<std::string, std::string> env;
        bool reached;
    } rows[] = {
        {"no class-path settings", {}, {}, false},
        {"classpath and libs", {"classpath conf", "libs lib"}, {}, false},
        {"entry from an empty variable", {"classpath $TVX_EMPTY_VAR"}, {{"TVX_EMPTY_VAR", ""}}, false},
        {"empty variables", {}, {{"CLASSPATH", ""}, {"CLASS_PATH", "::"}}, false},
        {"the working directory named", {}, {{"CLASSPATH", "."}}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedApp app(row.lines, kProbe);
        const std::string work = app.dir / "work";
        for (const char* sub : {"work/META-INF/services", "work/planted", "conf", "lib"})
            tvxtest::MakeDirs(app.dir / sub);
        tvxtest::WriteFile(work + "/marker.txt", "planted\n");
        tvxtest::WriteFile(work + "/META-INF/services/java.sql.Driver", "planted.Planted\n");
        tvxtest::WriteFile(work + "/planted/Planted.class", tvxtest::ReadFile(TVX_PLANTED_CLASS));
        tvxtest::WriteFile(app.dir / "conf/app.properties", "a=b\n");
        tvxtest::WriteFile(app.dir / "lib/a.jar", tvxtest::ReadFile(tvxtest::TestJarsDir() + "/launch-dep.jar"));
        app.Repack([&] {
            std::vector<std::string> lines = row.lines;
            lines.push_back("forcecwd " + work);
            return lines;
        }(), kProbe);
        RunOptions options;
        options.unsetEnv = {"CLASSPATH", "CLASS_PATH"};
        for (const auto& var : row.env) options.setEnv[var.first] = var.second;
        options.setEnv["PROBE_PROPS"] = "java.class.path";
        options.setEnv["PROBE_RESOURCE"] = "marker.txt,META-INF/services/java.sql.Driver";
        options.setEnv["PROBE_LOAD"] = "planted.Planted";
        RunResult r = app.Run({}, options);
        ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
        std::map<std::string, std::string> v = ProbeValues(r.out);
        EXPECT_EQ(v["cwd"], work);
        const char* expected = row.reached ? "found" : "none";
        EXPECT_EQ(v["resource:marker.txt"], expected);
        EXPECT_EQ(v["resource:META-INF/services/java.sql.Driver"], expected);
        EXPECT_EQ(v["load:planted.Planted"], row.reached ? "loaded" : "none");
        const std::string cp = v["prop:java.class.path"];
        EXPECT_EQ(cp.find("::"), std::string::npos) << cp;
        EXPECT_NE(cp.back(), ':') << cp;
        EXPECT_TRUE(cp == app.exe || cp.compare(0, app.exe.size() + 1, app.exe + ":") == 0) << cp;
    }
}

TEST(LaunchEnvironment, ExportLines) {
    PackedApp app({"export TVX_A=value", "export TVX_B= \tx y", "export TVX_C", "export TVX_D =spaced"},
                  kProbe);
    RunOptions options;
    options.setEnv["PROBE_ENV"] = "TVX_A,TVX_B,TVX_C,TVX_D,TVX_D ";
    options.setEnv["TVX_C"] = "inherited";
    RunResult r = app.Run({}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    std::map<std::string, std::string> v = ProbeValues(r.out);
    EXPECT_EQ(v["env:TVX_A"], "value");
    EXPECT_EQ(v["env:TVX_B"], "x y");
    EXPECT_EQ(v["env:TVX_C"], "inherited");  // a line without "=" changes nothing
    EXPECT_EQ(v["env:TVX_D"], "null");
    EXPECT_EQ(v["env:TVX_D "], "spaced");
}

TEST(LaunchEnvironment, JavaToolOptionsRemovedUnlessExported) {
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        const char* inherited;  // null: not set
        const char* marker;     // what the runtime saw
    } rows[] = {
        {"inherited and not exported", {}, "-Dtool.marker=inherited", "null"},
        {"exported", {"export JAVA_TOOL_OPTIONS=-Dtool.marker=exported"}, "-Dtool.marker=inherited", "exported"},
        {"exported in lower case keeps the inherited one",
         {"export java_tool_options=-Dtool.marker=lower"},
         "-Dtool.marker=inherited",
         "inherited"},
        {"exported without inheriting", {"export JAVA_TOOL_OPTIONS=-Dtool.marker=own"}, nullptr, "own"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedApp app(row.lines, kProbe);
        RunOptions options;
        options.setEnv["PROBE_PROPS"] = "tool.marker";
        if (row.inherited)
            options.setEnv["JAVA_TOOL_OPTIONS"] = row.inherited;
        else
            options.unsetEnv = {"JAVA_TOOL_OPTIONS"};
        RunResult r = app.Run({}, options);
        ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
        EXPECT_EQ(ProbeValues(r.out)["prop:tool.marker"], row.marker);
    }
}

TEST(LaunchWorkingDirectory, ForcedDirectory) {
    tvxtest::TempDir elsewhere;
    struct Row {
        const char* name;
        std::string setting;  // empty: no forcecwd line
        std::string expectedSuffix;
        bool absolute;
    } rows[] = {
        {"default is the executable's directory", "", "", false},
        {"relative to the executable's directory", "forcecwd sub/dir", "/sub/dir", false},
        {"absolute", "forcecwd " + elsewhere.path(), elsewhere.path(), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> lines;
        if (!row.setting.empty()) lines.push_back(row.setting);
        PackedApp app(lines, kProbe);
        tvxtest::MakeDirs(app.dir / "sub/dir");
        RunOptions options;
        options.cwd = "/";
        RunResult r = app.Run({}, options);
        ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
        std::string expected = row.absolute ? row.expectedSuffix : app.dir.path() + row.expectedSuffix;
        char real[4096];
        ASSERT_NE(realpath(expected.c_str(), real), nullptr);
        EXPECT_EQ(ProbeValues(r.out)["cwd"], real);
    }
}

TEST(LaunchOptions, UnknownOptionDoesNotStopTheRuntime) {
    PackedApp app({"option -Xtvx-no-such-option", "option -Dopt.after=yes"}, kProbe);
    RunOptions options;
    options.setEnv["PROBE_PROPS"] = "opt.after";
    RunResult r = app.Run({}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    EXPECT_EQ(ProbeValues(r.out)["prop:opt.after"], "yes");
}

// On a runtime of feature 24 or later the helper classes load the
// launcher's natives without the runtime's four warning lines about a
// restricted method: the class path gets native access, unless an option of
// the application already decides about it. JDK 17 gets no such option.
TEST(LaunchOptions, TheHelperClassesLoadTheirNativesWithoutWarnings) {
    const std::string jdk24 = launchtest::Jdk24OrLater();
    struct Row {
        const char* what;
        std::string home;
        std::vector<std::string> lines;
        const char* explained;  // "" when no line about native access is expected
    } rows[] = {
        {"JDK 24 or later", jdk24, {}, "tvx-explain: native access: enabled for the class path (runtime feature "},
        {"its own option", jdk24, {"option --enable-native-access=ALL-UNNAMED"},
         "tvx-explain: native access: as the options say (--enable-native-access=ALL-UNNAMED)\n"},
        {"JDK 17", tvxtest::JavaHome(), {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.home.empty()) {
            std::cout << "skipped \"" << row.what << "\": no JDK of feature 24 or later under /usr/lib/jvm\n";
            continue;
        }
        std::vector<std::string> lines = {"jre_order c", "jvmdll " + row.home + "/lib/server/libjvm.so"};
        lines.insert(lines.end(), row.lines.begin(), row.lines.end());
        PackedApp app(lines, kProbe);
        RunOptions options;
        options.setEnv["PROBE_LOAD"] = "com.brindell.tvx.Instances";
        options.setEnv["TVX_EXPLAIN"] = "1";
        RunResult r = app.Run({}, options);
        ASSERT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
        EXPECT_EQ(ProbeValues(r.out)["load:com.brindell.tvx.Instances"], "loaded") << r.out;
        EXPECT_EQ(app.ErrLog(), "");
        EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
        if (*row.explained)
            EXPECT_NE(r.err.find(row.explained), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err.find("native access"), std::string::npos) << r.err;
        EXPECT_EQ(CountOf(r.err, "vm option --enable-native-access"), *row.explained ? 1 : 0) << r.err;
    }
}

// A main method that ends with an exception is a failed run: its description
// stays in the log, one line on both streams names it, and the status is 70,
// which no launch result uses.
TEST(LaunchEnding, ExceptionFromMainIsDescribedAndEndsWith70) {
    const std::string needsDep = NeedsDepJar();
    const std::string depJar = DepJar();
    struct Row {
        const char* name;
        std::string jar;
        const char* mainClass;
        std::vector<std::string> lines;
        const char* thrown;  // PROBE_THROW, or null
        int status;
        std::string line;  // the one line on standard output, in the log too
        std::string out;   // expected elsewhere in standard output
    } rows[] = {
        {"exception", launchtest::ProbeJar(), "launchtest.Probe", {}, "probe failure", 70,
         "The application ended with an exception: java.lang.IllegalStateException: probe failure", "argc=0"},
        {"missing dependency", needsDep, "launchtest.CallsDep", {}, nullptr, 70,
         "The application ended with an exception: java.lang.NoClassDefFoundError: launchdep/Dep", "main entered"},
        {"dependency present", needsDep, "launchtest.CallsDep", {"classpath " + depJar}, nullptr, 0, "",
         "main entered\ndependency present\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedApp app(row.lines, row.mainClass, row.jar);
        RunOptions options;
        if (row.thrown) options.setEnv["PROBE_THROW"] = row.thrown;
        RunResult r = app.Run({}, options);
        EXPECT_EQ(r.exitCode, row.status) << r.out << app.ErrLog();
        EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("main returned"), std::string::npos);
        const std::string log = app.ErrLog();
        if (row.status == 0) {
            EXPECT_EQ(log, "");
            continue;
        }
        EXPECT_EQ(CountOf(r.out, row.line + "\n"), 1) << r.out;
        // The runtime's description (with the stack) first, then the line.
        const size_t described = log.find("\tat launchtest.");
        const size_t line = log.find(row.line + "\n");
        EXPECT_NE(described, std::string::npos) << log;
        EXPECT_NE(line, std::string::npos) << log;
        EXPECT_LT(described, line) << log;
    }
}

TEST(LaunchEnding, SystemExitStatusIsTheProcessStatus) {
    for (int status : {0, 3, 37}) {
        SCOPED_TRACE(status);
        PackedApp app({}, kProbe);
        RunOptions options;
        options.setEnv["PROBE_EXIT"] = std::to_string(status);
        RunResult r = app.Run({}, options);
        EXPECT_EQ(r.exitCode, status) << r.err << app.ErrLog();
        EXPECT_NE(r.out.find("argc=0"), std::string::npos);
        EXPECT_EQ(r.out.find("main returned"), std::string::npos);
    }
}

TEST(LaunchEnding, ProcessWaitsForNonDaemonThreads) {
    PackedApp app({}, kProbe);
    RunOptions options;
    options.setEnv["PROBE_THREAD"] = "1";
    RunResult r = app.Run({}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    size_t returned = r.out.find("main returned\n");
    size_t finished = r.out.find("worker finished\n");
    ASSERT_NE(returned, std::string::npos) << r.out;
    ASSERT_NE(finished, std::string::npos) << r.out;
    EXPECT_LT(returned, finished);
}

// One row per launch result: settings, environment, exit status and message.
struct ResultRow {
    const char* name;
    std::vector<std::string> lines;
    std::map<std::string, std::string> env;
    int status;
    std::string message;
    std::string alsoInErrLog;  // empty: nothing more expected
};

void PrintTo(const ResultRow& row, std::ostream* os) { *os << row.name; }

class LaunchResults : public ::testing::TestWithParam<ResultRow> {};

TEST_P(LaunchResults, ExitStatusAndMessage) {
    const ResultRow& row = GetParam();
    PackedApp app(row.lines, "");  // the main class comes from the manifest unless a row sets one
    tvxtest::WriteFile(app.dir / "not-a-library.so", "this is text, not an ELF file\n");
    RunOptions options;
    for (const auto& e : row.env) options.setEnv[e.first] = e.second;
    RunResult r = app.Run({}, options);
    std::string errLog = app.ErrLog();
    EXPECT_EQ(r.exitCode, row.status) << r.out << r.err << errLog;
    std::string line = row.message + "\n";
    // Printed once to standard error (the log beside the executable) and
    // once more to standard output.
    EXPECT_EQ(CountOf(r.out, line), 1) << r.out;
    EXPECT_EQ(CountOf(errLog, line), 1) << errLog;
    if (!row.alsoInErrLog.empty()) {
        EXPECT_NE(errLog.find(row.alsoInErrLog), std::string::npos) << errLog;
    }
    EXPECT_EQ(r.out.find("argc="), std::string::npos);
}

std::string Jvmdll(const std::string& path) { return "jvmdll " + path; }

INSTANTIATE_TEST_SUITE_P(
    AllResults, LaunchResults,
    ::testing::Values(
        ResultRow{"NotFoundWithoutJvmdll", {"jre_order c"}, {}, 1, "Java Runtime Environment not found.", ""},
        ResultRow{"NotFoundWithMissingJvmdll",
                  {"jre_order c", "jvmdll /nonexistent/libjvm.so"},
                  {},
                  1,
                  "Java Runtime Environment not found.",
                  ""},
        ResultRow{"NotValidTextFile",
                  {"jre_order c", "jvmdll not-a-library.so"},
                  {},
                  2,
                  "Java Runtime Environment not valid.",
                  "not-a-library.so"},
        ResultRow{"NotValidWithoutCreateSymbol",
                  {"jre_order c", Jvmdll(FakeLib("fake_jvm_nocreate.so"))},
                  {},
                  2,
                  "Java Runtime Environment not valid.",
                  ""},
        ResultRow{"CreationFails",
                  {"jre_order c", Jvmdll(FakeLib("fake_jvm.so"))},
                  {{"TVX_FAKE_JVM", "fail"}},
                  4,
                  "Java Virtual Machine starts failed.",
                  ""},
        ResultRow{"CreationFailsThroughImplEntry",
                  {"jre_order c", Jvmdll(FakeLib("fake_jvm_impl.so"))},
                  {{"TVX_FAKE_JVM", "fail"}},
                  4,
                  "Java Virtual Machine starts failed.",
                  ""},
        ResultRow{"NoVersion",
                  {"jre_order c", Jvmdll(FakeLib("fake_jvm.so")), "minjre 1.5"},
                  {{"TVX_FAKE_JVM", "noclass"}},
                  5,
                  "Can not get the virtual machine version.",
                  ""},
        // Without bounds the version is never asked for: the fake runtime
        // then fails at the main class.
        ResultRow{"NoBoundsNoVersionQuery",
                  {"jre_order c", Jvmdll(FakeLib("fake_jvm.so"))},
                  {{"TVX_FAKE_JVM", "noclass"}},
                  7,
                  "The main startup class could not be found.",
                  ""},
        ResultRow{"FakeTooLow",
                  {"jre_order c", Jvmdll(FakeLib("fake_jvm_impl.so")), "minjre 1.6.0.30"},
                  {{"TVX_FAKE_JVM", "1.6.0_29"}},
                  6,
                  "Java virtual machine version 1.6.0_29 is too low, require 1.6.0.30 or higher.",
                  ""},
        ResultRow{"FakeTooHigh",
                  {"jre_order c", Jvmdll(FakeLib("fake_jvm.so")), "minjre 1.5", "maxjre 1.6"},
                  {{"TVX_FAKE_JVM", "1.7.0"}},
                  12,
                  "Java virtual machine version 1.7.0 is too high, version between 1.5 and 1.6 is required.",
                  ""},
        ResultRow{"RealTooLow",
                  {"minjre 99.1"},
                  {},
                  6,
                  "Java virtual machine version " + JavaVersion() + " is too low, require 99.1 or higher.",
                  ""},
        ResultRow{"RealTooHigh",
                  {"maxjre 1.8"},
                  {},
                  12,
                  "Java virtual machine version " + JavaVersion() + " is too high, version between  and 1.8 is required.",
                  ""},
        ResultRow{"RealTooHighWithBothBounds",
                  {"minjre 1.5", "maxjre 11.0.2"},
                  {},
                  12,
                  "Java virtual machine version " + JavaVersion() +
                      " is too high, version between 1.5 and 11.0.2 is required.",
                  ""},
        ResultRow{"MissingMainClass",
                  {"mainclass launchtest.Missing"},
                  {},
                  7,
                  "The main startup class could not be found.",
                  "launchtest/Missing"},
        ResultRow{"NoMainMethod",
                  {"mainclass launchtest.NoMain"},
                  {},
                  8,
                  "The main startup class is not valid, main method missing.",
                  "java.lang.NoSuchMethodError"},
        ResultRow{"OverrideWithEscapeFirstLineWins",
                  {"jre_order c", "message 1=Kein Java\\tgefunden.", "message 1=second line is ignored"},
                  {},
                  1,
                  "Kein Java\tgefunden.",
                  ""},
        ResultRow{"OverrideForVersionMessage",
                  {"message 6=too old: %s < %s", "minjre 99"},
                  {},
                  6,
                  "too old: " + JavaVersion() + " < 99",
                  ""},
        ResultRow{"OverrideWithFivePlaceholders",
                  {"message 12=[%s|%s|%s|%s|%s]", "minjre 1.5", "maxjre 9"},
                  {},
                  12,
                  "[" + JavaVersion() + "|1.5|9||]",
                  ""},
        ResultRow{"HostileOverrideIsPlainText",
                  {"message 6=%n%s%s%s%s%s%s%x", "minjre 99"},
                  {},
                  6,
                  "%n%s%s%s%s%s%s%x",
                  ""},
        ResultRow{"TooManyPlaceholdersArePlainText",
                  {"message 12=%s %s %s %s %s %s", "maxjre 1.1"},
                  {},
                  12,
                  "%s %s %s %s %s %s",
                  ""}),
    [](const ::testing::TestParamInfo<ResultRow>& info) { return std::string(info.param.name); });

// A main class that is missing and one whose dependency is missing get the
// same message; the line after it names the class and the Java exception.
TEST(LaunchResults, MissingMainClassIsNamedWithItsCause) {
    const std::string needsDep = NeedsDepJar();
    const std::string depJar = DepJar();
    struct Row {
        const char* name;
        std::string jar;
        std::vector<std::string> lines;
        int status;
        std::string detail;  // the line after the message, "" for none
    } rows[] = {
        {"wrong name", launchtest::ProbeJar(), {"mainclass launchtest.Missing"}, 7,
         "Main class launchtest.Missing: java.lang.NoClassDefFoundError: launchtest/Missing"},
        {"missing dependency", needsDep, {"mainclass launchtest.ExtendsDep"}, 7,
         "Main class launchtest.ExtendsDep: java.lang.NoClassDefFoundError: launchdep/Dep"},
        {"dependency present", needsDep, {"mainclass launchtest.ExtendsDep", "classpath " + depJar}, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Laid out without the generator, which checks the main class itself.
        PackedApp app({}, "launchtest.CallsDep", row.jar);
        app.BuildWithoutGenerator(row.lines);
        RunResult r = app.Run({});
        EXPECT_EQ(r.exitCode, row.status) << r.out << app.ErrLog();
        if (row.status == 0) {
            EXPECT_EQ(r.out, "dependency present\n");
            continue;
        }
        const std::string lines = "The main startup class could not be found.\n" + row.detail + "\n";
        EXPECT_EQ(CountOf(r.out, lines), 1) << r.out;
        EXPECT_EQ(CountOf(app.ErrLog(), lines), 1) << app.ErrLog();
    }
}

TEST(LaunchResults, EmptyMainClass) {
    // The generator refuses an empty main class; lay the executable out directly.
    PackedApp app({}, kProbe);
    app.BuildWithoutGenerator({"mainclass"});
    RunResult r = app.Run({});
    EXPECT_EQ(r.exitCode, 7) << r.err << app.ErrLog();
    EXPECT_EQ(CountOf(r.out, "The main startup class could not be found.\n"), 1) << r.out;
    EXPECT_EQ(CountOf(app.ErrLog(), "The main startup class could not be found.\n"), 1) << app.ErrLog();
}

TEST(LaunchResults, NotFoundWithDefaultOrderAndNoJavaAnywhere) {
    // No java command on the search path, no JRE_HOME or JAVA_HOME, no
    // runtime beside the executable.
    tvxtest::TempDir bin;
    ASSERT_EQ(tvxtest::Run({"ln", "-s", "/usr/bin/which", bin / "which"}).exitCode, 0);
    PackedApp app({}, kProbe);
    RunOptions options;
    options.setEnv["PATH"] = bin.path();
    options.unsetEnv = {"JAVA_HOME", "JRE_HOME"};
    RunResult r = app.Run({}, options);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(CountOf(r.out, "Java Runtime Environment not found.\n"), 1) << r.out;
    EXPECT_EQ(CountOf(app.ErrLog(), "Java Runtime Environment not found.\n"), 1);
}

TEST(LaunchReporting, OnceWhenBothStreamsShareAPathTwiceOtherwise) {
    struct Row {
        const char* name;
        std::string out;  // "stdout" setting, relative to the app directory
        std::string err;  // "stderr" setting
        int inOutFile;
        int inErrFile;
        int onTerminal;  // in the captured standard output
    } rows[] = {
        // A failure also reaches the terminal when standard output went to a file.
        {"same file", "both.log", "both.log", 0, 1, 1},
        {"separate files", "out.log", "err.log", 1, 1, 1},
        {"only stderr configured", "", "err.log", 0, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> lines = {"jre_order c"};
        PackedApp app(lines, kProbe);
        // The settings need the app's own directory: repack with absolute names.
        std::vector<std::string> withStreams = lines;
        if (!row.out.empty()) withStreams.push_back("stdout " + (app.dir / row.out));
        withStreams.push_back("stderr " + (app.dir / row.err));
        app.Repack(withStreams, kProbe);
        RunResult r = app.Run({});
        EXPECT_EQ(r.exitCode, 1);
        const std::string line = "Java Runtime Environment not found.\n";
        std::string errFile = tvxtest::ReadFile(app.dir / row.err);
        EXPECT_EQ(CountOf(errFile, line), row.inErrFile) << errFile;
        if (!row.out.empty() && row.out != row.err) {
            EXPECT_EQ(CountOf(tvxtest::ReadFile(app.dir / row.out), line), row.inOutFile);
        }
        EXPECT_EQ(CountOf(r.out, line), row.onTerminal) << r.out;
        EXPECT_FALSE(tvxtest::FileExists(app.exe + ".stderr.log"));
    }
}

}  // namespace

namespace {

TEST(LaunchSingleInstance, SecondStartIsRefusedWhileTheCounterIsRaised) {
    struct Row {
        const char* value;
        int secondStatus;
    } rows[] = {{"true", 11}, {"TRUE", 11}, {"custom-not", 0}, {"", 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        PackedApp app({std::string("singleinstance ") + row.value}, kProbe);
        // Both starts share one private IPC namespace (and so one segment)
        // and one private /run (where the single-instance lock lives); the
        // first one stays alive until the second has finished.
        RunOptions options;
        options.setEnv["APP"] = app.exe;
        options.setEnv["DIR"] = app.dir.path();
        options.setEnv["LC_ALL"] = "C.UTF-8";
        const char* script =
            "PROBE_HOLD=\"$DIR/release\" \"$APP\" -test > \"$DIR/first.out\" & first=$!\n"
            "i=0; until grep -q argc= \"$DIR/first.out\" || [ $i -ge 600 ]; do sleep 0.1; i=$((i+1)); done\n"
            "\"$APP\" -test; echo \"second=$?\"\n"
            "touch \"$DIR/release\"; wait $first; echo \"first=$?\"; cat \"$DIR/first.out\"\n";
        tvxtest::WriteFile(app.dir / "two.sh", script);
        RunResult r = tvxtest::Run({"/usr/bin/unshare", "--ipc", "--mount", "--propagation", "private", "/bin/sh", "-c",
                                    "mount -t tmpfs tvx-run /run && exec /bin/sh \"$0\"", app.dir / "two.sh"},
                                   options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("first=0\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("second=" + std::to_string(row.secondStatus) + "\n"), std::string::npos) << r.out;
        const std::string refusal = "There is already an instance of this program running.\n";
        int refusals = row.secondStatus == 11 ? 1 : 0;
        EXPECT_EQ(CountOf(r.out, refusal), refusals) << r.out;
        EXPECT_EQ(CountOf(app.ErrLog(), refusal), refusals) << app.ErrLog();
        EXPECT_EQ(CountOf(r.out, "main returned\n"), 2 - refusals) << r.out;
    }
}

}  // namespace
