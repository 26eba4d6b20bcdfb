// Variable expansion, internal variables and relative-path resolution.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_loader.h"
#include "tests/settings/settings_fixture.h"

namespace {

using settingstest::ScopedEnv;
using settingstest::ScopedLocale;

using settingstest::Str;

std::string Expand(const std::string& text, bool utf8 = false) {
    return Str(CSettingsLoader::EnvProcess(MyCString(text.data(), static_cast<int>(text.size())), utf8));
}

// A loader for an executable at <dir>/home/app, published as pldr.
class SettingsExpansion : public testing::Test {
protected:
    void SetUp() override {
        home_ = dir_ / "home/";
        tvxtest::MakeDirs(home_);
        loader_ = new CSettingsLoader(true, (home_ + "app").c_str());
        pldr = loader_;
    }
    void TearDown() override {
        pldr = nullptr;
        delete loader_;
    }
    tvxtest::TempDir dir_;
    std::string home_;
    CSettingsLoader* loader_ = nullptr;
};

TEST_F(SettingsExpansion, Forms) {
    ScopedEnv foo("TVX_T_FOO", "foo");
    ScopedEnv empty("TVX_T_EMPTY", "");
    ScopedEnv percent("TVX_T_PCT", "%TVX_T_FOO%$TVX_T_FOO");
    ScopedEnv undefined("TVX_T_UNDEFINED", nullptr);
    ScopedEnv lower("tvx_t_foo", nullptr);
    ScopedEnv homeEnv("APPLICATION_HOME", nullptr);
    struct Row {
        std::string text;
        std::string expanded;
    };
    const Row rows[] = {
        {"%TVX_T_FOO%", "foo"},
        {"${TVX_T_FOO}", "foo"},
        {"$TVX_T_FOO", "foo"},
        {"%{TVX_T_FOO}%", "foo"},
        {"a/$TVX_T_FOO/b", "a/foo/b"},
        {"x%TVX_T_FOO%y", "xfooy"},
        {"%TVX_T_FOO%%TVX_T_FOO%", "foofoo"},
        {"$TVX_T_FOO$TVX_T_FOO", "foofoo"},
        {"${TVX_T_FOO}bar", "foobar"},
        {"$TVX_T_FOO.bar", "foo.bar"},
        {"%APPLICATION_HOME%lib", home_ + "lib"},
        {"${APPLICATION_HOME}lib", home_ + "lib"},
        {"$APPLICATION_HOME/lib", home_ + "/lib"},
        {"%application_home%lib", home_ + "lib"},
        {"%%", "%"},
        {"$$", "$"},
        {"100%% sure", "100% sure"},
        {"$$TVX_T_FOO", "$TVX_T_FOO"},
        {"%", "%"},
        {"$", "$"},
        {"50% off", "50% off"},
        {"a $ b", "a $ b"},
        {"%TVX_T_UNDEFINED%", "%TVX_T_UNDEFINED%"},
        {"${TVX_T_UNDEFINED}", "${TVX_T_UNDEFINED}"},
        {"$TVX_T_UNDEFINED/x", "$TVX_T_UNDEFINED/x"},
        {"%{TVX_T_UNDEFINED}%", "%{TVX_T_UNDEFINED}%"},
        {"%tvx_t_foo%", "%tvx_t_foo%"},
        {"%TVX_T_FOO", "%TVX_T_FOO"},
        {"%TVX_T_FOO $TVX_T_FOO", "%TVX_T_FOO foo"},
        {"${TVX_T_FOO", "foo"},
        {"x${TVX_T_FOO bar", "x${TVX_T_FOO bar"},
        {"$TVX_T_FOO_", "$TVX_T_FOO_"},
        {"[$TVX_T_EMPTY]", "[]"},
        {"[%TVX_T_EMPTY%]", "[]"},
        {"$TVX_T_PCT", "%TVX_T_FOO%$TVX_T_FOO"},
        {"${}", "${}"},
        {"%{}", "%{}"},
        {"", ""},
        {"no variables", "no variables"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Expand(row.text), row.expanded);
        EXPECT_EQ(Expand(row.text, true), row.expanded);
    }
}

TEST_F(SettingsExpansion, EnvironmentBeforeInternalVariables) {
    struct Row {
        const char* name;
        const char* text;
        const char* environment;  // value of the variable, or null
        std::string expanded;
    };
    const Row rows[] = {
        {"APPLICATION_HOME", "%APPLICATION_HOME%", "/from/env/", "/from/env/"},
        {"APPLICATION_HOME", "%APPLICATION_HOME%", nullptr, home_},
        {"TVX_APP_PATH", "$TVX_APP_PATH", nullptr, home_ + "app"},
        {"PWD", "${PWD}", "/shell/pwd", "/shell/pwd"},
        {"PWD", "${PWD}", nullptr, Str(loader_->CurDir())},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.environment ? " set" : " unset"));
        ScopedEnv env(row.name, row.environment);
        EXPECT_EQ(Expand(row.text), row.expanded);
    }
    // Without a loader only the environment is consulted.
    pldr = nullptr;
    ScopedEnv env("APPLICATION_HOME", nullptr);
    EXPECT_EQ(Expand("%APPLICATION_HOME%"), "%APPLICATION_HOME%");
}

TEST_F(SettingsExpansion, Utf8ConversionOfVariableValues) {
    const std::string latin1 = settingstest::Latin1Locale();
    ASSERT_FALSE(latin1.empty());
    struct Row {
        const char* name;
        std::string locale;
        std::string value;
        std::string plain;  // utf8 false: inserted as is
        std::string utf8;   // utf8 true
    };
    const Row rows[] = {
        {"ISO-8859-1 value", latin1, "caf\xE9", "caf\xE9", "caf\xC3\xA9"},
        {"UTF-8 locale value", "C.UTF-8", "caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"ASCII value", "C", "cafe", "cafe", "cafe"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedLocale locale(row.locale.c_str());
        ASSERT_TRUE(locale.ok());
        ScopedEnv env("TVX_T_TEXT", row.value.c_str());
        EXPECT_EQ(Expand("<$TVX_T_TEXT>"), "<" + row.plain + ">");
        EXPECT_EQ(Expand("<$TVX_T_TEXT>", true), "<" + row.utf8 + ">");
    }
}

TEST_F(SettingsExpansion, CallbacksExpandIntoTheArray) {
    ScopedEnv foo("TVX_T_FOO", "foo");
    MyCStringArray values;
    CSettingsLoader::EnumCommonCallback(&values, "a=$TVX_T_FOO");
    CSettingsLoader::EnumCommonCallbackUtf8(&values, "b=%TVX_T_FOO%");
    CSettingsLoader::EnumCommonCallback(&values, "");
    ASSERT_EQ(values.GetCount(), 3);
    EXPECT_STREQ(values[0], "a=foo");
    EXPECT_STREQ(values[1], "b=foo");
    EXPECT_STREQ(values[2], "");
}

TEST_F(SettingsExpansion, InternalVariables) {
    struct Row {
        const char* name;
        const char* value;  // null: unknown
    };
    const std::string exe = home_ + "app";
    const std::string cur = Str(loader_->CurDir());
    const Row rows[] = {
        {"APPLICATION_HOME", home_.c_str()}, {"application_home", home_.c_str()},
        {"PWD", cur.c_str()},                {"pwd", cur.c_str()},
        {"TVX_APP_PATH", exe.c_str()},       {"Tvx_App_Path", exe.c_str()},
        {"JAVA_HOME", nullptr},              {"APPLICATION", nullptr},
        {"", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const char* value = loader_->getinternalenv(row.name);
        if (!row.value) {
            EXPECT_EQ(value, nullptr);
        } else {
            ASSERT_NE(value, nullptr);
            EXPECT_STREQ(value, row.value);
        }
    }
    EXPECT_EQ(loader_->getinternalenv(nullptr), nullptr);
}

// The HOME text is built once, from HOMEDRIVE and HOMEPATH, and kept.
TEST_F(SettingsExpansion, HomeFromHomeDriveAndHomePath) {
    ScopedEnv home("HOME", nullptr);
    {
        ScopedEnv drive("HOMEDRIVE", "C:");
        ScopedEnv path("HOMEPATH", nullptr);
        EXPECT_STREQ(loader_->getinternalenv("HOME"), "");
        EXPECT_EQ(Expand("[%HOME%]"), "[]");
    }
    {
        ScopedEnv drive("HOMEDRIVE", "C:");
        ScopedEnv path("HOMEPATH", "\\Users\\me");
        EXPECT_STREQ(loader_->getinternalenv("home"), "C:\\Users\\me");
    }
    ScopedEnv drive("HOMEDRIVE", nullptr);
    EXPECT_STREQ(loader_->getinternalenv("HOME"), "C:\\Users\\me");
    EXPECT_EQ(Expand("$HOME\\x"), "C:\\Users\\me\\x");
}

// Runs the body in a working directory of its own and returns to the old one.
class SettingsPaths : public testing::Test {
protected:
    void SetUp() override {
        char buffer[4096];
        ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
        oldCwd_ = buffer;
        home_ = dir_ / "home/";
        work_ = dir_ / "work/";
        tvxtest::MakeDirs(home_);
        tvxtest::MakeDirs(work_);
        ASSERT_EQ(chdir(work_.c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(chdir(oldCwd_.c_str()), 0); }
    tvxtest::TempDir dir_;
    std::string oldCwd_;
    std::string home_;
    std::string work_;
};

TEST_F(SettingsPaths, ToAbsolutePath) {
    for (const char* f : {"both", "onlyhome"}) tvxtest::WriteFile(home_ + f, "x");
    for (const char* f : {"both", "onlywork"}) tvxtest::WriteFile(work_ + f, "x");
    tvxtest::MakeDirs(work_ + "workdir");
    CSettingsLoader loader(true, (home_ + "app").c_str());
    ASSERT_EQ(Str(loader.CurDir()), work_);
    struct Row {
        std::string path;
        std::string absolute;
    };
    const Row rows[] = {
        {"", ""},
        {"/abs/path", "/abs/path"},
        {"\\server\\share", "\\server\\share"},
        {"C:relative", "C:relative"},
        {"both", home_ + "both"},
        {"onlyhome", home_ + "onlyhome"},
        {"onlywork", work_ + "onlywork"},
        {"workdir", work_ + "workdir"},
        {"nowhere", home_ + "nowhere"},
        {"./jre/", home_ + "./jre/"},
        {"../home/both", home_ + "../home/both"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(Str(loader.ToAbsolutePath(MyCString(row.path.c_str()))), row.absolute);
    }
}

TEST_F(SettingsPaths, ResetCurDirFollowsTheWorkingDirectory) {
    CSettingsLoader loader(true, (home_ + "app").c_str());
    EXPECT_EQ(Str(loader.CurDir()), work_);
    ASSERT_EQ(chdir(home_.c_str()), 0);
    EXPECT_EQ(Str(loader.CurDir()), work_);  // only ResetCurDir refreshes it
    loader.ResetCurDir();
    EXPECT_EQ(Str(loader.CurDir()), home_);
    ASSERT_EQ(chdir("/"), 0);
    loader.ResetCurDir();
    EXPECT_EQ(Str(loader.CurDir()), "/");
}

TEST_F(SettingsPaths, FileExists) {
    tvxtest::WriteFile(work_ + "file", "x");
    EXPECT_TRUE(CSettingsLoader::FileExists((work_ + "file").c_str()));
    EXPECT_TRUE(CSettingsLoader::FileExists("file"));
    EXPECT_TRUE(CSettingsLoader::FileExists(home_.c_str()));
    EXPECT_FALSE(CSettingsLoader::FileExists((work_ + "missing").c_str()));
    EXPECT_FALSE(CSettingsLoader::FileExists(""));
    EXPECT_FALSE(CSettingsLoader::FileExists(nullptr));
}

}  // namespace
