// Gathering the settings lines: the launcher's key syntax, UTF-8 checks,
// settings files, manifests and the order and main-class rules.
#include "pack/settings_text.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace tvxpack {
namespace {

struct KeyRow {
    const char* line;
    bool carries;
    const char* value;
};

TEST(LineCarriesKey, FollowsTheLaunchersLineSyntax) {
    const KeyRow rows[] = {
        {"mainclass a.B", true, "a.B"},
        {"MainClass a.B", true, "a.B"},
        {"   mainclass    a.B", true, "a.B"},
        {"mainclass=a.B", true, "a.B"},
        {"mainclass = a.B  ", true, "a.B  "},
        {"mainclass", true, ""},
        {"mainclass\ta.B", true, "\ta.B"},
        {"mainclasses a.B", false, ""},
        {"mainclass_x a.B", false, ""},
        {"mainclass1 a.B", false, ""},
        {"mainclas a.B", false, ""},
        {"\tmainclass a.B", false, ""},
        {"# mainclass a.B", false, ""},
        {"", false, ""},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(std::string("line '") + row.line + "'");
        std::string value = "unchanged";
        EXPECT_EQ(LineCarriesKey(row.line, "mainclass", &value), row.carries);
        if (row.carries) {
            EXPECT_EQ(value, row.value);
        }
    }
}

TEST(IsValidUtf8, AcceptsWellFormedTextOnly) {
    struct Row {
        std::string text;
        bool valid;
        size_t badOffset;
    } rows[] = {
        {"", true, 0},
        {"plain", true, 0},
        {"h\xC3\xA9llo", true, 0},
        {"\xE2\x82\xAC 5", true, 0},
        {"\xF0\x9F\x98\x80", true, 0},
        {"\xC3", false, 0},
        {"a\xC0\x80", false, 1},           // overlong NUL
        {"ab\xED\xA0\x80", false, 2},      // surrogate
        {"\xF4\x90\x80\x80", false, 0},    // above U+10FFFF
        {"x\x80", false, 1},               // stray continuation byte
        {"abc\xFF", false, 3},
        {"\xE2\x82" "x", false, 0},        // truncated sequence
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("text '" + row.text + "'");
        size_t bad = 999;
        EXPECT_EQ(IsValidUtf8(row.text, &bad), row.valid);
        if (!row.valid) {
            EXPECT_EQ(bad, row.badOffset);
        }
    }
}

TEST(SplitSettingsFile, SplitsLinesAndDropsTheByteOrderMark) {
    struct Row {
        std::string content;
        std::vector<std::string> lines;
    } rows[] = {
        {"", {}},
        {"option -Xmx1g", {"option -Xmx1g"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"\xEF\xBB\xBF" "a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"property k=v  \n", {"property k=v  "}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("content '" + row.content + "'");
        std::vector<std::string> lines = {"stale"};
        std::string error;
        ASSERT_TRUE(SplitSettingsFile(row.content, &lines, &error)) << error;
        EXPECT_EQ(lines, row.lines);
    }
}

TEST(SplitSettingsFile, RejectsTextTheLauncherWouldMisread) {
    struct Row {
        std::string content;
        const char* error;
    } rows[] = {
        {std::string("a\nb\0c\n", 6), "line 2 holds a NUL byte"},
        {"ok\nvalue \xFF\n", "line 2 is not valid UTF-8 (byte 7)"},
        {"\xFF\xFEo\0p\0", "UTF-16"},
        {"\xFE\xFF\0o\0p", "UTF-16"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        std::vector<std::string> lines;
        std::string error;
        EXPECT_FALSE(SplitSettingsFile(row.content, &lines, &error));
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
}

TEST(ManifestAttribute, ReadsTheMainSection) {
    struct Row {
        std::string manifest;
        const char* mainClass;
    } rows[] = {
        {"Manifest-Version: 1.0\r\nMain-Class: a.B\r\n\r\n", "a.B"},
        {"main-class:   a.B  \n", "a.B"},
        {"Manifest-Version: 1.0\nMain-Class: com.example.very\n Long\n", "com.example.veryLong"},
        {"Main-Class: a.\r\n B\r\n C\r\nX: y\r\n", "a.BC"},
        {"Main-Class-Path: x\nMain-Class: y\n", "y"},
        {"Manifest-Version: 1.0\n\nName: x/\nMain-Class: a.B\n", ""},
        {"Manifest-Version: 1.0\n", ""},
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("manifest '" + row.manifest + "'");
        EXPECT_EQ(ManifestAttribute(row.manifest, "Main-Class"), row.mainClass);
    }
}

struct ComposeRow {
    const char* name;
    SettingsSources sources;
    std::vector<std::string> lines;  // expected block lines
    const char* error;               // expected error text, or null
};

SettingsSources Sources(bool hasMain, const std::string& mainClass, std::vector<std::string> fileLines,
                        std::vector<std::string> setLines, const std::string& manifest) {
    SettingsSources s;
    s.hasMain = hasMain;
    s.mainClass = mainClass;
    s.fileLines = std::move(fileLines);
    s.setLines = std::move(setLines);
    s.manifestMainClass = manifest;
    return s;
}

TEST(ComposeSettings, OrdersSourcesAndPicksTheMainClass) {
    const ComposeRow rows[] = {
        {"--main alone", Sources(true, "a.Main", {}, {}, ""), {"mainclass a.Main"}, nullptr},
        {"manifest alone", Sources(false, "", {}, {}, "m.Main"), {"mainclass m.Main"}, nullptr},
        {"order: main line, file, --set",
         Sources(false, "", {"option -Xss1m", "property a=b"}, {"option -Xmx64m", "property=app.mode=fast"}, "m.Main"),
         {"mainclass m.Main", "option -Xss1m", "property a=b", "option -Xmx64m", "property=app.mode=fast"},
         nullptr},
        {"--main wins over the manifest", Sources(true, "a.Main", {"option x"}, {}, "m.Main"),
         {"mainclass a.Main", "option x"}, nullptr},
        {"--main is trimmed", Sources(true, "  a.Main \t", {}, {}, ""), {"mainclass a.Main"}, nullptr},
        {"a --set mainclass line replaces the manifest", Sources(false, "", {}, {"mainclass=s.Main"}, "m.Main"),
         {"mainclass=s.Main"}, nullptr},
        {"a file mainclass line replaces the manifest", Sources(false, "", {"  MainClass f.Main", "option y"}, {}, "m.Main"),
         {"  MainClass f.Main", "option y"}, nullptr},
        {"--main comes before a mainclass line", Sources(true, "a.Main", {}, {"mainclass s.Main"}, ""),
         {"mainclass a.Main", "mainclass s.Main"}, nullptr},
        {"a look-alike key is no main class", Sources(false, "", {"mainclasses x.Y"}, {}, "m.Main"),
         {"mainclass m.Main", "mainclasses x.Y"}, nullptr},
        {"no source", Sources(false, "", {"option x"}, {}, ""), {}, "no main class"},
        {"an empty mainclass line hides the manifest", Sources(false, "", {}, {"mainclass"}, "m.Main"), {},
         "no main class"},
        {"empty --main", Sources(true, " ", {}, {}, "m.Main"), {}, "--main is empty"},
        {"--set with a line break", Sources(true, "a.Main", {}, {"option a", "option b\nmainclass c"}, ""), {},
         "--set number 2 holds a line break"},
        {"--set with bad UTF-8", Sources(true, "a.Main", {}, {"property x=\xC3("}, ""), {},
         "--set number 1 is not valid UTF-8"},
    };
    for (const ComposeRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> lines;
        std::string error;
        bool ok = ComposeSettings(row.sources, &lines, &error);
        if (row.error == nullptr) {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(lines, row.lines);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
        }
    }
}

// tvx-pack's default "startupcache true" follows the main class line, and
// only where no line of the file or of --set names the key.
TEST(ComposeSettings, StartupCacheLineUnlessALineNamesTheKey) {
    struct Row {
        std::vector<std::string> fileLines, setLines;
        std::vector<std::string> expected;
    } rows[] = {
        {{}, {}, {"mainclass a.Main", "startupcache true"}},
        {{"option -Xss1m"}, {"option x"}, {"mainclass a.Main", "startupcache true", "option -Xss1m", "option x"}},
        {{"startupcache false"}, {}, {"mainclass a.Main", "startupcache false"}},
        {{}, {"StartupCache=/srv/cache"}, {"mainclass a.Main", "StartupCache=/srv/cache"}},
        {{}, {"startupcachemax 64M"}, {"mainclass a.Main", "startupcache true", "startupcachemax 64M"}},
    };
    for (const Row& row : rows) {
        SettingsSources sources = Sources(true, "a.Main", row.fileLines, row.setLines, "");
        sources.startupCache = true;
        std::vector<std::string> lines;
        std::string error;
        ASSERT_TRUE(ComposeSettings(sources, &lines, &error)) << error;
        EXPECT_EQ(lines, row.expected);
        sources.startupCache = false;
        ASSERT_TRUE(ComposeSettings(sources, &lines, &error)) << error;
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "startupcache true"), 0);
    }
}

TEST(ComposeSettings, WantsTheManifestOnlyWithoutAnyMainClassSource) {
    EXPECT_TRUE(WantsManifestMainClass(Sources(false, "", {"option x"}, {"property a=b"}, "")));
    EXPECT_FALSE(WantsManifestMainClass(Sources(true, "a.B", {}, {}, "")));
    EXPECT_FALSE(WantsManifestMainClass(Sources(false, "", {"mainclass a.B"}, {}, "")));
    EXPECT_FALSE(WantsManifestMainClass(Sources(false, "", {}, {"MAINCLASS=a.B"}, "")));
}

}  // namespace
}  // namespace tvxpack
