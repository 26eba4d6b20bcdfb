// A real application nobody here wrote: Mozilla Rhino's JavaScript shell
// (Debian package rhino), packed and used as its users use it.
#include <string>

#include <gtest/gtest.h>

#include "tests/launch/launch_test_util.h"
#include "tests/support/test_support.h"

namespace {

const char* const kRhinoJar = "/usr/share/java/js.jar";
const char* const kRhinoMain = "org.mozilla.javascript.tools.shell.Main";

class Rhino : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tvxtest::FileExists(kRhinoJar)) << "install the Debian package rhino (cmake/install-deps.sh)";
    }
};

TEST_F(Rhino, EvaluatesAnExpression) {
    launchtest::PackedApp app({}, kRhinoMain, kRhinoJar);
    tvxtest::RunResult r = app.Run({"-e", "print(6 * 7); print(['a', 'b'].join('+'))"});
    EXPECT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    EXPECT_EQ(r.out, "42\na+b\n");
}

TEST_F(Rhino, RunsAScriptWithArguments) {
    launchtest::PackedApp app({"argv -version 200"}, kRhinoMain, kRhinoJar);
    tvxtest::WriteFile(app.dir / "args.js",
                       "for (var i = 0; i < arguments.length; i++) print(i + ':' + arguments[i]);\n"
                       "print(java.lang.System.getProperty('tvx.app.path'));\n");
    tvxtest::RunResult r = app.Run({"args.js", "one", "two words", "\xC5\xBElu\xC5\xA5"});
    EXPECT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    // The script path is relative to the working directory, which is the
    // executable's directory by default.
    EXPECT_EQ(r.out, "0:one\n1:two words\n2:\xC5\xBElu\xC5\xA5\n" + app.exe + "\n");
}

TEST_F(Rhino, ReadsAProgramFromStandardInput) {
    launchtest::PackedApp app({}, kRhinoMain, kRhinoJar);
    tvxtest::RunOptions options;
    options.stdinText = "var s = 0; for (var i = 1; i <= 10; i++) s += i;\nprint('sum=' + s);\n";
    tvxtest::RunResult r = app.Run({"-f", "-"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
    EXPECT_NE(r.out.find("sum=55\n"), std::string::npos) << r.out;
}

TEST_F(Rhino, ScriptErrorGivesItsExitStatus) {
    launchtest::PackedApp app({}, kRhinoMain, kRhinoJar);
    tvxtest::RunResult r = app.Run({"-e", "throw new Error('tvx rhino failure')"});
    // The shell reports the error and exits with its own status.
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE((r.out + app.ErrLog()).find("tvx rhino failure"), std::string::npos) << r.out << app.ErrLog();
}

}  // namespace
