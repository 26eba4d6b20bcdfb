// Class path assembly from the settings, library directories and the
// environment, over real files in temporary directories.
#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_loader.h"
#include "tests/discovery/discovery_support.h"
#include "tests/support/test_support.h"

namespace {

// Table rows print as their names (test lists, failure messages).
template <class Row, class = decltype(&Row::name)>
std::ostream& operator<<(std::ostream& os, const Row& row) {
    return os << row.name;
}

using namespace discovery;  // the fixtures of these tests

// Names of the entries of `dir` in the order the directory yields them.
std::vector<std::string> DirectoryOrder(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
    return names;
}

std::vector<std::string> Elements(const std::string& classPath) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t colon; (colon = classPath.find(':', start)) != std::string::npos; start = colon + 1)
        out.push_back(classPath.substr(start, colon - start));
    out.push_back(classPath.substr(start));
    return out;
}

std::string FindLibJars(const std::string& dir, const std::string& initial = "") {
    MyCString out(initial.c_str());
    CSettingsLoader::FindLibJars(dir.c_str(), out);
    return out.c_str();
}

// ---------------------------------------------------------------------------
// GetClassPath over a table of settings.
//
// Placeholders: {T} the temporary root, {X} the executable ({T}/app/app),
// {H} the application home ({T}/app/), {W} the working directory ({T}/work/).

struct ClassPathRow {
    const char* name;
    std::vector<std::string> settings;
    std::vector<std::string> external;  // lines of app.cfg; empty: none
    std::vector<std::string> files;     // created below {T}
    std::vector<std::pair<std::string, std::string>> env;
    std::string first;   // GetClassPath(false)
    std::string second;  // GetClassPath(true)
};

class GetClassPathRows : public discovery::RowTest<ClassPathRow> {};

TEST_P(GetClassPathRows, BuildsBothParts) {
    const ClassPathRow& row = GetParam();
    const std::string& root = this->root();
    const std::map<std::string, std::string> names = {
        {"T", root}, {"X", root + "/app/app"}, {"H", root + "/app/"}, {"W", root + "/work/"}};
    discovery::MakeDir(root + "/work");
    for (const std::string& file : row.files) Touch(Fill(root + "/" + file, names));

    ScopedEnv env;
    env.Unset("CLASSPATH");
    env.Unset("CLASS_PATH");
    env.Unset("TVX_UNDEFINED_VARIABLE");
    for (const auto& var : row.env) env.Set(var.first, Fill(var.second, names));
    std::vector<std::string> settings, external;
    for (const std::string& line : row.settings) settings.push_back(Fill(line, names));
    for (const std::string& line : row.external) external.push_back(Fill(line, names));
    const std::string exe = MakeExecutable(root + "/app", settings, external.empty() ? nullptr : &external);
    ASSERT_EQ(Fill("{X}", names), exe);

    ScopedCwd cwd(root + "/work");
    ScopedLoader loader(exe);
    const std::string first = loader->GetClassPath(false).c_str();
    const std::string second = loader->GetClassPath(true).c_str();
    EXPECT_EQ(Fill(row.first, names), first);
    EXPECT_EQ(Fill(row.second, names), second);
    // Nothing is cached: a second call gives the same text.
    EXPECT_EQ(second, loader->GetClassPath(true).c_str());
}

const ClassPathRow kClassPathRows[] = {
    {"NoSettings", {}, {}, {}, {}, "{X}", ""},
    {"DoubledColonBetweenTwoEntries", {"classpath a.jar::b.jar"}, {}, {}, {}, "{X}", ":{H}a.jar:{H}b.jar"},
    {"LeadingAndTrailingColons", {"classpath :a.jar:"}, {}, {}, {}, "{X}", ":{H}a.jar"},
    {"TwoLinesKeepTheirOrder", {"classpath one", "classpath two"}, {}, {}, {}, "{X}", ":{H}one:{H}two"},
    {"ExternalFileFirst", {"classpath embedded"}, {"classpath external"}, {}, {}, "{X}",
     ":{H}external:{H}embedded"},
    {"FoundOnlyBelowWorkingDirectory", {"classpath w.jar"}, {}, {"work/w.jar"}, {}, "{X}", ":{W}w.jar"},
    {"FoundInBothPlacesTakesHome", {"classpath both.jar"}, {}, {"work/both.jar", "app/both.jar"}, {}, "{X}",
     ":{H}both.jar"},
    {"AbsoluteEntryUnchanged", {"classpath /opt/x.jar"}, {}, {}, {}, "{X}", ":/opt/x.jar"},
    {"WildcardFromWorkingDirectory", {"classpath w/*.jar"}, {}, {"work/w/a.jar", "work/w/a.txt", "app/w/b.jar"},
     {}, "{X}", ":w/a.jar"},
    {"QuestionMarkWildcard", {"classpath q?.jar"}, {}, {"work/q1.jar", "work/q10.jar"}, {}, "{X}", ":q1.jar"},
    {"WildcardWithoutMatch", {"classpath none/*.jar:c.jar"}, {}, {}, {}, "{X}", ":{H}c.jar"},
    {"VariableHoldingColonsStaysOneElement", {"classpath $TVX_CP"}, {}, {}, {{"TVX_CP", "/p:/q"}}, "{X}",
     ":/p:/q"},
    {"VariableInsideEntry", {"classpath ${TVX_DIR}/x.jar:%TVX_DIR%/y.jar"}, {}, {}, {{"TVX_DIR", "/d"}}, "{X}",
     ":/d/x.jar:/d/y.jar"},
    {"VariableExpandingToNothing", {"classpath a.jar:$TVX_EMPTY"}, {}, {}, {{"TVX_EMPTY", ""}}, "{X}",
     ":{H}a.jar:"},
    {"UndefinedVariableKept", {"classpath $TVX_UNDEFINED_VARIABLE/y.jar"}, {}, {}, {}, "{X}",
     ":{H}$TVX_UNDEFINED_VARIABLE/y.jar"},
    {"ApplicationHomeVariable", {"classpath %APPLICATION_HOME%lib/a.jar"}, {}, {}, {}, "{X}", ":{H}lib/a.jar"},
    {"JavaClasspathFollowsTheExecutable", {"java_classpath j.jar:k.jar"}, {}, {}, {}, "{X}:{H}j.jar:{H}k.jar", ""},
    {"LibsDirectory", {"libs lib"}, {}, {"app/lib/a.jar"}, {}, "{X}", ":{H}lib/a.jar"},
    {"LibsWithTrailingSlash", {"libs lib/"}, {}, {"app/lib/a.jar"}, {}, "{X}", ":{H}lib/a.jar"},
    {"LibsBelowWorkingDirectory", {"libs wl"}, {}, {"work/wl/w.jar"}, {}, "{X}", ":{W}wl/w.jar"},
    {"LibsExpanded", {"libs $TVX_LIBDIR"}, {}, {"ext/e.jar"}, {{"TVX_LIBDIR", "{T}/ext"}}, "{X}", ":{T}/ext/e.jar"},
    {"LibsLinesInOrder", {"libs l1", "libs l2", "libs l3"}, {}, {"app/l1/A.JAR", "app/l2/b.Zip", "app/l3/c.zip"},
     {}, "{X}", ":{H}l1/A.JAR:{H}l2/b.Zip:{H}l3/c.zip"},
    {"OnlyJarAndZipCollected", {"libs lib"}, {}, {"app/lib/a.jar", "app/lib/readme.txt", "app/lib/jar", "app/lib/a.jar.bak"},
     {}, "{X}", ":{H}lib/a.jar"},
    {"DirectoryNamedJarIsSearched", {"libs lib"}, {}, {"app/lib/x.jar/inner.jar"}, {}, "{X}",
     ":{H}lib/x.jar/inner.jar"},
    {"MissingLibsDirectory", {"libs missing"}, {}, {}, {}, "{X}", ""},
    {"EmptyLibsValue", {"libs", "libs $TVX_EMPTY"}, {}, {"app/a.jar", "work/w.jar"}, {{"TVX_EMPTY", ""}}, "{X}", ""},
    {"JavaLibsAndLibsApart", {"java_libs jl", "libs l"}, {}, {"app/jl/1.jar", "app/l/2.jar"}, {},
     "{X}:{H}jl/1.jar", ":{H}l/2.jar"},
    {"TheExample", {"java_libs lib/", "classpath conf"}, {}, {"app/lib/a.jar", "app/conf/app.properties"}, {},
     "{X}:{H}lib/a.jar", ":{H}conf"},
    {"ClasspathAndClassPathUnchanged", {}, {}, {}, {{"CLASSPATH", "/e1:$HOME:*.jar"}, {"CLASS_PATH", "rel"}}, "{X}",
     ":/e1:$HOME:*.jar:rel"},
    {"EmptyClassPathVariable", {}, {}, {}, {{"CLASS_PATH", ""}}, "{X}", ":"},
    {"EntriesThenLibsThenEnvironment", {"libs lib", "classpath c.jar"}, {}, {"app/lib/l.jar"},
     {{"CLASSPATH", "/e"}}, "{X}", ":{H}c.jar:{H}lib/l.jar:/e"},
    {"EnvironmentOnlyInSecondPart", {"java_classpath j.jar"}, {}, {}, {{"CLASSPATH", "/e"}}, "{X}:{H}j.jar",
     ":/e"},
};

INSTANTIATE_TEST_SUITE_P(Settings, GetClassPathRows, testing::ValuesIn(kClassPathRows),
                         discovery::RowName<ClassPathRow>);

// The text the virtual machine receives: both parts, and never an empty
// entry, which the runtime would read as the working directory.
TEST(GetClassPath, JoinedParts) {
    struct Row {
        std::vector<std::string> settings;
        std::map<std::string, std::string> env;
        std::string joined;
    };
    const std::vector<Row> rows = {
        {{}, {}, "{X}"},
        {{"java_libs lib/", "classpath conf"}, {}, "{X}:{H}lib/a.jar:{H}conf"},
        {{"classpath $TVX_EMPTY_ENTRY"}, {{"TVX_EMPTY_ENTRY", ""}}, "{X}"},
        {{"classpath conf"}, {{"CLASSPATH", ""}, {"CLASS_PATH", ":"}}, "{X}:{H}conf"},
        {{}, {{"CLASSPATH", "/a.jar::/b.jar:"}}, "{X}:/a.jar:/b.jar"},
        {{"java_classpath lib/a.jar"}, {{"CLASS_PATH", "."}}, "{X}:{H}lib/a.jar:."},
    };
    for (const Row& row : rows) {
        tvxtest::TempDir tmp;
        const std::string root = RealPath(tmp.path());
        const std::map<std::string, std::string> names = {{"X", root + "/app/app"}, {"H", root + "/app/"}};
        SCOPED_TRACE(Fill(row.joined, names));
        Touch(root + "/app/lib/a.jar");
        Touch(root + "/app/conf/app.properties");
        ScopedEnv env;
        env.Unset("CLASSPATH");
        env.Unset("CLASS_PATH");
        for (const auto& var : row.env) env.Set(var.first, var.second);
        ScopedCwd cwd(root);
        ScopedLoader loader(MakeExecutable(root + "/app", row.settings));
        EXPECT_EQ(Fill(row.joined, names), std::string(loader->GetJoinedClassPath().c_str()));
    }
}

// Several matches of one pattern, in the order the directory yields them.
TEST(GetClassPath, WildcardMatchesInDirectoryOrder) {
    tvxtest::TempDir tmp;
    const std::string root = RealPath(tmp.path());
    for (const char* name : {"c.jar", "a.jar", "b.jar", "d.zip"}) Touch(root + "/work/w/" + name);
    std::string expected;
    for (const std::string& name : DirectoryOrder(root + "/work/w"))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jar") == 0) expected += ":w/" + name;
    ASSERT_EQ(3u, std::count(expected.begin(), expected.end(), ':'));
    ScopedCwd cwd(root + "/work");
    ScopedLoader loader(MakeExecutable(root + "/app", {"classpath w/*.jar"}));
    EXPECT_EQ(expected, loader->GetClassPath(true).c_str());
}

// ---------------------------------------------------------------------------
// FindLibJars

TEST(FindLibJars, SubdirectoryArchivesFollowThoseBeforeIt) {
    tvxtest::TempDir tmp;
    const std::string lib = RealPath(tmp.path()) + "/lib";
    for (const char* name : {"a.jar", "b.zip", "c.jar", "d.jar", "e.jar"}) Touch(lib + "/" + name);
    Touch(lib + "/sub/s1.jar");
    Touch(lib + "/sub/deeper/s2.jar");
    // Directory order decides; build the expectation from it level by level.
    std::string expected;
    for (const std::string& name : DirectoryOrder(lib)) {
        if (name != "sub") {
            expected += ":" + lib + "/" + name;
            continue;
        }
        for (const std::string& inner : DirectoryOrder(lib + "/sub"))
            expected += inner == "deeper" ? ":" + lib + "/sub/deeper/s2.jar" : ":" + lib + "/sub/" + inner;
    }
    EXPECT_EQ(expected, FindLibJars(lib));
    EXPECT_EQ(expected, FindLibJars(lib + "/"));
}

TEST(FindLibJars, AppendsToWhatIsThere) {
    tvxtest::TempDir tmp;
    Touch(tmp / "lib/a.jar");
    EXPECT_EQ("before:" + tmp.path() + "/lib/a.jar", FindLibJars(tmp / "lib", "before"));
}

TEST(FindLibJars, CapitalExtensionsAndHiddenNames) {
    struct Row {
        const char* file;
        bool collected;
    };
    const std::vector<Row> rows = {
        {"a.JAR", true}, {"b.Zip", true},    {"c.ZIP", true},  {".jar", true},   {"archive.jar.old", false},
        {"jar", false},  {"x.jarx", false},  {"x.ja", false},  {"x.tar", false}, {"x.", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        tvxtest::TempDir tmp;
        Touch(tmp / "lib" + "/" + row.file);
        EXPECT_EQ(row.collected ? ":" + tmp.path() + "/lib/" + row.file : "", FindLibJars(tmp / "lib"));
    }
}

TEST(FindLibJars, MissingOrUnreadableDirectoryAddsNothing) {
    tvxtest::TempDir tmp;
    Touch(tmp / "file.jar");
    EXPECT_EQ("", FindLibJars(tmp / "missing"));
    EXPECT_EQ("", FindLibJars(tmp / "file.jar"));
    EXPECT_EQ("", FindLibJars(""));
}

// Links back up the tree must not make the search endless, and a directory
// reached through several links is searched once.
TEST(FindLibJars, DirectoryLinkCyclesEnd) {
    tvxtest::TempDir tmp;
    const std::string lib = RealPath(tmp.path()) + "/lib";
    Touch(lib + "/a.jar");
    Symlink(".", lib + "/self");
    Symlink("..", lib + "/d1/up");
    Symlink("../d2", lib + "/d1/across");
    Symlink("../d1", lib + "/d2/back");
    Touch(lib + "/d2/z.jar");

    const std::vector<std::string> elements = Elements(FindLibJars(lib));
    ASSERT_EQ(3u, elements.size());
    EXPECT_EQ("", elements[0]);
    const std::vector<std::string> archives(elements.begin() + 1, elements.end());
    EXPECT_EQ(1, std::count(archives.begin(), archives.end(), lib + "/a.jar"));
    // z.jar under whichever of d2 and d1/across the directory yields first.
    const std::string z = archives[archives[0] == lib + "/a.jar" ? 1 : 0];
    EXPECT_TRUE(z == lib + "/d2/z.jar" || z == lib + "/d1/across/z.jar") << z;
}

// A link to a directory outside the tree is searched like a subdirectory.
TEST(FindLibJars, LinkedDirectoryIsSearched) {
    tvxtest::TempDir tmp;
    const std::string root = RealPath(tmp.path());
    Touch(root + "/shared/s.jar");
    Symlink(root + "/shared", root + "/lib/shared");
    EXPECT_EQ(":" + root + "/lib/shared/s.jar", FindLibJars(root + "/lib"));
}

// ---------------------------------------------------------------------------
// EnumClassPathCallback on its own.

TEST(EnumClassPathCallback, SplitsExpandsAndResolvesEachSegment) {
    tvxtest::TempDir tmp;
    const std::string root = RealPath(tmp.path());
    ScopedEnv env;
    env.Set("TVX_CP", "xx:yy");
    ScopedCwd cwd(root);
    ScopedLoader loader(MakeExecutable(root + "/app", {}));
    const std::string home = root + "/app/";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", ""},
        {":::", ""},
        {"a", ":" + home + "a"},
        {"a:/b", ":" + home + "a:/b"},
        {"$TVX_CP", ":" + home + "xx:yy"},
        {"a::$TVX_CP:", ":" + home + "a:" + home + "xx:yy"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        MyCString out("pre");
        CSettingsLoader::EnumClassPathCallback(&out, row.first.c_str());
        EXPECT_EQ("pre" + row.second, out.c_str());
    }
}

}  // namespace
