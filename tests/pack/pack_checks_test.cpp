// What tvx-pack checks while packing: settings lines the launcher would
// ignore, class path entries missing on this machine, and a main class that
// is nowhere the executable looks for it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/pack/pack_e2e_util.h"
#include "tests/pack/zip_fixture.h"

namespace packtest {
namespace {

struct CheckRow {
    const char* name;
    std::vector<std::string> args;  // before -o OUTPUT JAR
    int exitCode;
    std::vector<std::string> lines;  // expected on standard error, in order, each once
};

// Beside the output: lib/dep.jar holding dep/Main.class and classes/dir/Main.class.
void PlantClassPath(const std::string& dir) {
    ASSERT_EQ(mkdir((dir + "/lib").c_str(), 0755), 0);
    WriteZip(dir + "/lib/dep.jar", {{"dep/Main.class", "\xCA\xFE\xBA\xBE"}});
    ASSERT_EQ(mkdir((dir + "/classes").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/classes/dir").c_str(), 0755), 0);
    tvxtest::WriteFile(dir + "/classes/dir/Main.class", "\xCA\xFE\xBA\xBE");
}

TEST(PackChecks, WarnAboutWhatTheLauncherWouldMissAndRefuseAMainClassFoundNowhere) {
    const std::string kNoCheckHint = "; check its name, or give --no-check to pack it anyway";
    const CheckRow rows[] = {
        {"a sound application says nothing", {"--set", "classpath lib/dep.jar:classes", "--set", "libs lib"}, 0, {}},
        {"the keys of services, logs and the startup cache are known",
         {"--set", "serviceuser=tvx", "--set", "servicerestart on-failure", "--set", "stoptimeout 20", "--set",
          "logmaxsize 10M", "--set", "logkeep 3", "--set", "startupcachemax 2G", "--set", "startupcachetraining true"},
         0,
         {}},
        {"an unknown key",
         {"--set", "Optoin -Xss1m", "--set", "# a comment", "--set", ";another"},
         0,
         {"tvx-pack: warning: the launcher ignores the line 'Optoin -Xss1m': it starts with no known key (see "
          "tvx-settings(5))"}},
        {"missing entries and directories",
         {"--set", "classpath lib/dep.jar:lib/gone.jar", "--set", "java_classpath ${APPLICATION_HOME}none",
          "--set", "libs nolib"},
         0,
         {"tvx-pack: warning: classpath entry 'lib/gone.jar' does not exist here (@/lib/gone.jar); the application "
          "runs without it unless it is there where the executable runs",
          "tvx-pack: warning: java_classpath entry '${APPLICATION_HOME}none' does not exist here (@/none); the "
          "application runs without it unless it is there where the executable runs",
          "tvx-pack: warning: libs directory 'nolib' does not exist here (@/nolib); its archives join the class "
          "path only if it is there where the executable runs"}},
        {"main class nowhere", {"--main", "packtest.Nope"}, 1,
         {"tvx-pack: main class packtest.Nope (packtest/Nope.class) is not in packtest.jar" + kNoCheckHint}},
        {"main class nowhere, with a class path", {"--main", "packtest.Nope", "--set", "classpath lib/dep.jar"}, 1,
         {"tvx-pack: main class packtest.Nope (packtest/Nope.class) is not in packtest.jar nor on the class path "
          "of the settings" + kNoCheckHint}},
        {"main class nowhere, packed anyway", {"--main", "packtest.Nope", "--no-check"}, 0, {}},
        {"main class in a jar of the class path", {"--main", "dep.Main", "--set", "classpath lib/dep.jar"}, 0, {}},
        {"main class in a directory of the class path", {"--main", "dir.Main", "--set", "classpath classes"}, 0, {}},
        {"main class in a jar of a libs directory", {"--main", "dep.Main", "--set", "java_libs lib"}, 0, {}},
        {"main class nowhere here, but the class path depends on the machine",
         {"--main", "packtest.Nope", "--set", "classpath ${APP_LIBS}/x.jar"},
         0,
         {"tvx-pack: warning: main class packtest.Nope (packtest/Nope.class) is not in packtest.jar nor in the "
          "class path entries present here"}},
    };
    for (const CheckRow& row : rows) {
        SCOPED_TRACE(row.name);
        tvxtest::TempDir dir;
        PlantClassPath(dir.path());
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"-o", dir / "app", TestJar()});
        tvxtest::RunResult r = RunPack(args);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_EQ(tvxtest::FileExists(dir / "app"), row.exitCode == 0);
        std::string expected;
        for (std::string line : row.lines) {
            for (size_t at; (at = line.find('@')) != std::string::npos;) line.replace(at, 1, dir.path());
            expected += line + "\n";
        }
        // Only the summary line of a written executable follows on standard output.
        EXPECT_EQ(r.err, expected);
    }
}

// A main class named by its class file or as a path is packed as the class
// it names, from every source, and the executable runs it.
TEST(PackChecks, AMainClassWrittenAsAFileOrPathNamesItsClass) {
    const std::vector<std::string> sources[] = {
        {"--main", "packtest/Hello.class"},
        {"--main", "packtest.Hello.class"},
        {"--set", "mainclass packtest/Hello"},
    };
    for (const std::vector<std::string>& source : sources) {
        SCOPED_TRACE(source[1]);
        tvxtest::TempDir dir;
        std::vector<std::string> args = source;
        // The run keeps no cache in the machine's own cache directories.
        args.insert(args.end(), {"--no-startup-cache", "-o", dir / "app", TestJar()});
        tvxtest::RunResult r = RunPack(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string settings = LayoutOf(dir / "app").settingsText;
        EXPECT_NE(settings.find("mainclass packtest.Hello\r\n"), std::string::npos) << settings;
        tvxtest::RunResult run = tvxtest::Run({dir / "app", "-test"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("main=packtest.Hello\n"), std::string::npos) << run.out;
    }
}

}  // namespace
}  // namespace packtest
