// Lookups over the merged settings: the external configuration file beside
// the executable, then the settings block.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_loader.h"
#include "tests/settings/settings_fixture.h"
#include "tests/settings/settings_values.h"

namespace {

using settingstest::Bytes;

using settingstest::ScopedLocale;

using settingstest::Str;

using settingstest::All;
using settingstest::Collect;

class SettingsLookup : public testing::Test {
protected:
    // Writes the executable `name` with the settings block `lines` and the
    // files `beside` (name -> content) in the same directory.
    std::string Make(const std::string& name, const std::vector<std::string>& lines,
                     const std::map<std::string, std::string>& beside = {}) {
        const std::string path = dir_ / name;
        tvxtest::MakeDirs(path.substr(0, path.rfind('/')));
        settingstest::WriteExecutable(path, settingstest::MakeLayout(settingstest::SyntheticImage(), lines));
        for (const auto& file : beside) tvxtest::WriteFile(dir_ / file.first, file.second);
        return path;
    }
    tvxtest::TempDir dir_;
};

TEST_F(SettingsLookup, FirstValueAllValuesAndEmbeddedOnly) {
    const std::string exe = Make("app", {"mainclass embedded.Main", "option -Dblock=1", "option -Dblock=2",
                                         "stdout block.log", "appid block"},
                                 {{"app.cfg", "option -Dext=1\r\nmainclass external.Main\r\nstdout\r\noption -Dext=2\r\n"}});
    CSettingsLoader loader(true, exe.c_str());
    // Lists: the external file's lines first.
    EXPECT_EQ(All(loader, "option"), (std::vector<std::string>{"-Dext=1", "-Dext=2", "-Dblock=1", "-Dblock=2"}));
    // First values: the external file's, even when empty.
    EXPECT_EQ(Str(loader.GetCommon("stdout")), "");
    EXPECT_EQ(Str(loader.GetStdout()), "");
    EXPECT_EQ(Str(loader.GetCommon("appid")), "block");
    // Embedded-only reads ignore the external file.
    EXPECT_EQ(Str(loader.GetCommon("mainclass", true)), "embedded.Main");
    EXPECT_EQ(Str(loader.GetCommon("mainclass", false)), "external.Main");
    EXPECT_EQ(Str(loader.GetCommon("missing")), "");
    EXPECT_TRUE(All(loader, "missing").empty());
    // The external text, then CR LF, then the block without its mark.
    const std::string external = "option -Dext=1\r\nmainclass external.Main\r\nstdout\r\noption -Dext=2\r\n";
    EXPECT_EQ(loader.ExternalPrefixLength(), static_cast<int>(external.size() + 2));
    EXPECT_EQ(std::string(loader.c_str()),
              external + "\r\nmainclass embedded.Main\r\noption -Dblock=1\r\noption -Dblock=2\r\n"
                         "stdout block.log\r\nappid block\r\n");
}

// A NUL in the external file ends its line only: neither the file's later
// lines nor the settings block are lost.
TEST_F(SettingsLookup, NulInTheExternalFileHidesNothing) {
    const std::string le16 = Bytes("\xFF\xFE#\0\0\0\n\0o\0p\0t\0i\0o\0n\0 \0-\0D\0e\0x\0t\0=\0""1\0");
    const struct {
        const char* name;
        std::string external;
        std::vector<std::string> options;
    } rows[] = {
        {"UTF-8 mark, NUL line", Bytes("\xEF\xBB\xBF# x\n\0\noption -Dext=1\n"), {"-Dext=1", "-Dblock=1"}},
        {"NUL inside a key", Bytes("\xEF\xBB\xBFo\xF0tion\0-Dop1\n"), {"-Dblock=1"}},
        {"no mark, NUL at the start", Bytes("\0option -Dext=1"), {"-Dext=1", "-Dblock=1"}},
        {"UTF-16, zero unit", le16, {"-Dext=1", "-Dblock=1"}},
        {"UTF-8 mark, NUL before a line", Bytes("\xEF\xBB\xBFoption ext\r\n\0option more\r\n"),
         {"ext", "more", "-Dblock=1"}},
        {"locale text, NUL before a line", Bytes("option ext\r\n\0option more\r\n"), {"ext", "more", "-Dblock=1"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string exe = Make("app", {"mainclass embedded.Main", "option -Dblock=1", "property p=1",
                                             "stderr err.log"},
                                     {{"app.cfg", row.external}});
        CSettingsLoader loader(true, exe.c_str());
        EXPECT_EQ(All(loader, "option"), row.options);
        EXPECT_EQ(All(loader, "property", true), std::vector<std::string>{"p=1"});
        EXPECT_EQ(Str(loader.GetCommon("stderr")), "err.log");
        EXPECT_EQ(Str(loader.GetCommon("mainclass", true)), "embedded.Main");
        std::vector<std::string> embedded;
        loader.EnumLines("option", Collect, &embedded, true, true, "");
        EXPECT_EQ(embedded, std::vector<std::string>{"-Dblock=1"});
    }
}

TEST_F(SettingsLookup, PrefixFilter) {
    const std::string exe = Make("app", {"option -Dtvx.a=1", "option -Xmx1g", "option -dlower", "option -Dtvx.b=2"});
    CSettingsLoader loader(true, exe.c_str());
    struct Row {
        const char* prefix;
        std::vector<std::string> values;
    } rows[] = {
        {"", {"-Dtvx.a=1", "-Xmx1g", "-dlower", "-Dtvx.b=2"}},
        {"-D", {"-Dtvx.a=1", "-Dtvx.b=2"}},
        {"-d", {"-dlower"}},
        {"-Dtvx.b", {"-Dtvx.b=2"}},
        {"-Dtvx.a=1 and more", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.prefix);
        std::vector<std::string> values;
        EXPECT_EQ(Str(loader.EnumLines("option", Collect, &values, false, true, row.prefix)), "");
        EXPECT_EQ(values, row.values);
        const std::string first = row.values.empty() ? "" : row.values[0];
        EXPECT_EQ(Str(loader.EnumLines("option", nullptr, nullptr, false, true, row.prefix)), first);
    }
}

TEST_F(SettingsLookup, LocaleConversionOfValues) {
    const std::string latin1 = settingstest::Latin1Locale();
    ASSERT_FALSE(latin1.empty());
    ScopedLocale locale(latin1.c_str());
    ASSERT_TRUE(locale.ok());
    ASSERT_EQ(setenv("TVX_SETTINGS_TEST_LATIN", "\xE9", 1), 0);
    const std::string exe = Make("app", {"option -Dname=\xC3\xA9", "property name=\xC3\xA9$TVX_SETTINGS_TEST_LATIN",
                                         "argv caf\xC3\xA9", "mainclass \xC3\xA9.Main"});
    CSettingsLoader loader(true, exe.c_str());
    pldr = &loader;
    // Locale text: converted to ISO-8859-1.
    EXPECT_EQ(All(loader, "option"), std::vector<std::string>{"-Dname=\xE9"});
    EXPECT_EQ(All(loader, "argv"), std::vector<std::string>{"caf\xE9"});
    EXPECT_EQ(Str(loader.GetCommon("mainclass", true)), "\xE9.Main");
    // UTF-8 text: kept, and variable values converted to UTF-8.
    EXPECT_EQ(All(loader, "property", true), std::vector<std::string>{"name=\xC3\xA9\xC3\xA9"});
    pldr = nullptr;
    unsetenv("TVX_SETTINGS_TEST_LATIN");
}

TEST_F(SettingsLookup, StreamAndDirectorySettingsAreExpanded) {
    const std::string exe = Make("app", {"stdout ${APPLICATION_HOME}out.log", "stderr %TVX_APP_PATH%.err",
                                         "forcecwd $APPLICATION_HOME/work"});
    CSettingsLoader loader(true, exe.c_str());
    pldr = &loader;
    const std::string home = dir_.path() + "/";
    EXPECT_EQ(Str(loader.GetStdout()), home + "out.log");
    EXPECT_EQ(Str(loader.GetStderr()), exe + ".err");
    EXPECT_EQ(Str(loader.GetForceCwd()), home + "/work");
    pldr = nullptr;
}

TEST_F(SettingsLookup, ExternalConfigurationCandidates) {
    struct Row {
        const char* name;
        const char* exe;
        std::vector<const char*> files;  // each holds "option from-<file name>"
        const char* read;                // the file read, or "" for none
    };
    const Row rows[] = {
        {"no file", "app", {}, ""},
        {"cfg", "app", {"app.cfg"}, "app.cfg"},
        {"config when cfg is absent", "app", {"app.config"}, "app.config"},
        {"cfg before config", "app", {"app.config", "app.cfg"}, "app.cfg"},
        {"suffix appended to the extension", "app.bin", {"app.bin.cfg", "app.cfg"}, "app.bin.cfg"},
        {"appended config before replaced cfg", "app.bin", {"app.bin.config", "app.cfg"}, "app.bin.config"},
        {"extension replaced by cfg", "app.bin", {"app.cfg", "app.config"}, "app.cfg"},
        {"extension replaced by config", "app.bin", {"app.config"}, "app.config"},
        {"dot in a directory is no extension", "v1.2/app", {"v1.cfg", "v1.config"}, ""},
        {"beside an executable in a dotted directory", "v1.2/app", {"v1.2/app.config"}, "v1.2/app.config"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxtest::TempDir dir;
        std::map<std::string, std::string> files;
        for (const char* f : row.files) files[f] = std::string("option from-") + f + "\r\n";
        const std::string exe = dir / row.exe;
        tvxtest::MakeDirs(exe.substr(0, exe.rfind('/')));
        settingstest::WriteExecutable(exe, settingstest::MakeLayout(settingstest::SyntheticImage(), {"option block"}));
        for (const auto& f : files) tvxtest::WriteFile(dir / f.first, f.second);
        CSettingsLoader loader(true, exe.c_str());
        std::vector<std::string> expected;
        if (*row.read) expected.push_back(std::string("from-") + row.read);
        expected.push_back("block");
        EXPECT_EQ(All(loader, "option"), expected);
    }
}

TEST_F(SettingsLookup, ExternalFileEncodings) {
    ScopedLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.ok());
    struct Row {
        const char* name;
        std::string content;
    } rows[] = {
        {"UTF-8 with mark", "\xEF\xBB\xBFoption -D\xC3\xA9\r\n"},
        {"UTF-8 without mark in a UTF-8 locale", "option -D\xC3\xA9\n"},
        {"UTF-16 little-endian", Bytes("\xFF\xFEo\0p\0t\0i\0o\0n\0 \0-\0D\0\xE9\0\r\0\n\0")},
        {"UTF-16 big-endian", Bytes("\xFE\xFF\0o\0p\0t\0i\0o\0n\0 \0-\0D\0\xE9\0\r\0\n")},
        {"no final line end", "option -D\xC3\xA9"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxtest::TempDir dir;
        const std::string exe = dir / "app";
        settingstest::WriteExecutable(exe, settingstest::MakeLayout(settingstest::SyntheticImage(), {"option block"}));
        tvxtest::WriteFile(dir / "app.cfg", row.content);
        CSettingsLoader loader(true, exe.c_str());
        EXPECT_EQ(All(loader, "option", true), (std::vector<std::string>{"-D\xC3\xA9", "block"}));
    }
}

TEST_F(SettingsLookup, DisableExternal) {
    struct Row {
        const char* name;
        std::vector<std::string> block;
        std::string external;
        std::vector<std::string> options;
    };
    const std::vector<std::string> both = {"ext", "block"};
    const std::vector<std::string> blockOnly = {"block"};
    const Row rows[] = {
        {"in the block: external file discarded", {"disableexternal true", "option block"}, "option ext\n", blockOnly},
        {"in the block, capitals", {"DisableExternal TRUE", "option block"}, "option ext\n", blockOnly},
        {"in the block, false", {"disableexternal false", "option block"}, "option ext\n", both},
        {"in the block, other word", {"disableexternal yes", "option block"}, "option ext\n", both},
        {"in the external file: no effect", {"option block"}, "disableexternal true\noption ext\n", both},
        {"block says false, file says true", {"disableexternal false", "option block"},
         "disableexternal true\noption ext\n", both},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string exe = Make("app", row.block, {{"app.cfg", row.external}});
        CSettingsLoader loader(true, exe.c_str());
        EXPECT_EQ(All(loader, "option"), row.options);
        if (row.options == blockOnly) {
            EXPECT_EQ(loader.ExternalPrefixLength(), 0);
            EXPECT_EQ(std::string(loader.c_str()).find("option ext"), std::string::npos);
        }
    }
}

TEST_F(SettingsLookup, EmptyExternalFileAddsNothing) {
    const std::string exe = Make("app", {"option block"}, {{"app.cfg", ""}, {"app.config", "option config\n"}});
    CSettingsLoader loader(true, exe.c_str());
    EXPECT_EQ(loader.ExternalPrefixLength(), 0);
    EXPECT_EQ(All(loader, "option"), std::vector<std::string>{"block"});
}

TEST_F(SettingsLookup, PathsOfTheExecutable) {
    const std::string exe = Make("sub/app.bin", {});
    CSettingsLoader loader(true, exe.c_str());
    EXPECT_EQ(Str(loader.ExePath()), exe);
    EXPECT_EQ(Str(loader.AppHome()), dir_.path() + "/sub/");
    CSettingsLoader bare(true, "app");
    EXPECT_EQ(Str(bare.AppHome()), "");
    CSettingsLoader backslash(true, "C:\\apps\\app.exe");
    EXPECT_EQ(Str(backslash.AppHome()), "C:\\apps\\");
}

}  // namespace
