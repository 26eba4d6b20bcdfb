// Option parser: the service command line and the grammar of option lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/command_line.h"

namespace {

const char kServiceSpec[] =
    "|-install:|install:|inst:|-uninstall|uninstall|uninst|-no-daemon|no-daemon|-test|test|interactive|"
    "interact|inter|-help|help|h|?";

struct Step {
    int code;
    const char* name;   // null: expected null
    const char* value;  // null: expected null
    int index;          // index after the step
};

struct Args {
    explicit Args(const std::vector<std::string>& args) : text(args) {
        for (std::string& s : text) argv.push_back(&s[0]);
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(text.size()); }
    std::vector<std::string> text;
    std::vector<char*> argv;
};

std::string Show(const char* p) { return p ? "\"" + std::string(p) + "\"" : "null"; }

// Enumerates from index 0 to the end and compares each step.
void ExpectSteps(CGetOption& parser, int argc, const std::vector<Step>& steps) {
    int index = 0;
    for (size_t i = 0; i <= steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const char* sentinel = "unset";
        const char* name = sentinel;
        const char* value = sentinel;
        int before = index;
        int code = parser.EnumOpts(name, value, index);
        if (i == steps.size()) {
            // Past the last argument: 0, nothing touched.
            EXPECT_EQ(code, 0);
            EXPECT_EQ(index, before);
            EXPECT_EQ(index, argc);
            EXPECT_EQ(name, sentinel);
            EXPECT_EQ(value, sentinel);
            break;
        }
        const Step& step = steps[i];
        EXPECT_EQ(code, step.code);
        EXPECT_EQ(Show(name), Show(step.name));
        EXPECT_EQ(Show(value), Show(step.value));
        EXPECT_EQ(index, step.index);
    }
}

struct Row {
    std::vector<std::string> args;
    std::vector<Step> steps;
};

TEST(GetOption, ServiceSpecification) {
    const Row rows[] = {
        {{"-install:auto"}, {{1, "install", "auto", 1}}},
        {{"--install", "auto"}, {{1, "-install", "auto", 2}}},
        {{"/INSTALL", "-x"}, {{-1, "install", "", 1}, {-2, "-x", nullptr, 2}}},
        {{"-uninst"}, {{1, "uninst", "", 1}}},
        {{"-help=yes"}, {{2, "help", "yes", 1}}},
        {{"-foo"}, {{-2, "-foo", nullptr, 1}}},
        {{"readme"}, {{1, nullptr, "readme", 1}}},
        {{"-inst"}, {{-1, "inst", "", 1}}},
        {{"-installauto"}, {{1, "install", "auto", 1}}},
        {{"-"}, {{-2, "-", nullptr, 1}}},
        {{"/"}, {{-2, "/", nullptr, 1}}},
        {{"-install", "auto", "rest"}, {{1, "install", "auto", 2}, {1, nullptr, "rest", 3}}},
        {{"-INSTALL=auto"}, {{1, "install", "auto", 1}}},
        {{"-install="}, {{-1, "install", "", 1}}},
        {{"-install=", "x"}, {{1, "install", "x", 2}}},
        {{"-install", "/x"}, {{-1, "install", "", 1}, {-2, "/x", nullptr, 2}}},
        {{"-inst:auto"}, {{1, "inst", "auto", 1}}},
        {{"-uninstall"}, {{1, "uninstall", "", 1}}},
        {{"--uninstall"}, {{1, "-uninstall", "", 1}}},
        {{"-uninstall:now"}, {{2, "uninstall", "now", 1}}},
        {{"-no-daemon"}, {{1, "no-daemon", "", 1}}},
        {{"--No-Daemon"}, {{1, "-no-daemon", "", 1}}},
        {{"-test", "a", "b"}, {{1, "test", "", 1}, {1, nullptr, "a", 2}, {1, nullptr, "b", 3}}},
        {{"--test"}, {{1, "-test", "", 1}}},
        {{"-testing"}, {{2, "test", "ing", 1}}},
        {{"-interactive"}, {{1, "interactive", "", 1}}},
        {{"-interact"}, {{1, "interact", "", 1}}},
        {{"-inter"}, {{1, "inter", "", 1}}},
        {{"-interactivex"}, {{2, "interactive", "x", 1}}},
        {{"-Help"}, {{1, "help", "", 1}}},
        {{"--help"}, {{1, "-help", "", 1}}},
        {{"-h"}, {{1, "h", "", 1}}},
        {{"-h:1"}, {{2, "h", "1", 1}}},
        {{"-?"}, {{1, "?", "", 1}}},
        {{"/?"}, {{1, "?", "", 1}}},
        {{"-x=1:2"}, {{-2, "-x=1:2", nullptr, 1}}},
        {{"-:auto"}, {{-2, "-:auto", nullptr, 1}}},
        {{"-=x"}, {{-2, "-=x", nullptr, 1}}},
        {{""}, {{1, nullptr, "", 1}}},
        {{"-installer:x"}, {{-2, "-installer:x", nullptr, 1}}},
        {{"-install", "-test", "-no-daemon", "app-arg"},
         {{-1, "install", "", 1}, {1, "test", "", 2}, {1, "no-daemon", "", 3}, {1, nullptr, "app-arg", 4}}},
        {{}, {}},
    };
    for (const Row& row : rows) {
        std::string trace;
        for (const std::string& a : row.args) trace += "[" + a + "] ";
        SCOPED_TRACE(trace);
        Args args(row.args);
        CGetOption parser(args.argc(), args.argv.data(), kServiceSpec, true);
        ExpectSteps(parser, args.argc(), row.steps);
    }
}

TEST(GetOption, NamesPointIntoTheTableValuesIntoTheArguments) {
    Args args({"-install:auto", "--install", "auto"});
    CGetOption parser(args.argc(), args.argv.data(), kServiceSpec, true);
    const char* name = nullptr;
    const char* value = nullptr;
    int index = 0;
    ASSERT_EQ(parser.EnumOpts(name, value, index), 1);
    EXPECT_EQ(value, args.argv[0] + 9);
    ASSERT_EQ(parser.EnumOpts(name, value, index), 1);
    EXPECT_EQ(value, args.argv[2]);
    EXPECT_NE(name, args.argv[1] + 1);  // the listed name, not the argument's text
    EXPECT_STREQ(name, "-install");
}

TEST(GetOption, CallerControlsTheIndex) {
    Args args({"prog", "-test", "x"});
    CGetOption parser(args.argc(), args.argv.data(), kServiceSpec, true);
    const char* name = nullptr;
    const char* value = nullptr;
    int index = 1;  // skip the program name
    EXPECT_EQ(parser.EnumOpts(name, value, index), 1);
    EXPECT_STREQ(name, "test");
    EXPECT_EQ(index, 2);
    index = 0;  // restart: index 0 is parsed like any other
    EXPECT_EQ(parser.EnumOpts(name, value, index), 1);
    EXPECT_EQ(name, nullptr);
    EXPECT_STREQ(value, "prog");
    index = 7;
    EXPECT_EQ(parser.EnumOpts(name, value, index), 0);
    EXPECT_EQ(index, 7);
}

TEST(GetOption, CaseIsComparedWhenNotIgnored) {
    const Row rows[] = {
        {{"-install:auto"}, {{1, "install", "auto", 1}}},
        {{"-INSTALL:auto"}, {{-2, "-INSTALL:auto", nullptr, 1}}},
        {{"-Help"}, {{-2, "-Help", nullptr, 1}}},
        {{"-help"}, {{1, "help", "", 1}}},
        {{"-Hx"}, {{-2, "-Hx", nullptr, 1}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0]);
        Args args(row.args);
        CGetOption parser(args.argc(), args.argv.data(), kServiceSpec, false);
        ExpectSteps(parser, args.argc(), row.steps);
    }
}

TEST(GetOption, SpecificationGrammar) {
    const struct {
        const char* optionList;
        std::vector<std::string> args;
        std::vector<Step> steps;
    } rows[] = {
        // Empty pieces are ignored; ":" marks a value option and is cut off.
        {"||a:||b|", {"-a", "v", "-b", "-c"},
         {{1, "a", "v", 2}, {1, "b", "", 3}, {-2, "-c", nullptr, 4}}},
        {"a:", {"-a:"}, {{-1, "a", "", 1}}},
        {"a:", {"-a:", "-a"}, {{-1, "a", "", 1}, {-1, "a", "", 2}}},
        // The first listed match wins: a shorter name listed first shadows a longer one.
        {"in|install:", {"-install", "x"}, {{2, "in", "stall", 1}, {1, nullptr, "x", 2}}},
        {"install:|in", {"-install", "x"}, {{1, "install", "x", 2}}},
        {"", {"-a", "b"}, {{-2, "-a", nullptr, 1}, {1, nullptr, "b", 2}}},
        {"|", {"-"}, {{-2, "-", nullptr, 1}}},
        {"x", {"/x=", "/x=1"}, {{1, "x", "", 1}, {2, "x", "1", 2}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.optionList);
        Args args(row.args);
        CGetOption parser(args.argc(), args.argv.data(), row.optionList, true);
        ExpectSteps(parser, args.argc(), row.steps);
    }
}

TEST(GetOption, NullSpecificationKnowsNoOptionAndBuildOptsRebuilds) {
    Args args({"-test", "plain"});
    CGetOption parser(args.argc(), args.argv.data(), nullptr, true);
    ExpectSteps(parser, args.argc(), {{-2, "-test", nullptr, 1}, {1, nullptr, "plain", 2}});
    parser.BuildOpts(kServiceSpec, true);
    ExpectSteps(parser, args.argc(), {{1, "test", "", 1}, {1, nullptr, "plain", 2}});
    parser.BuildOpts("other", true);
    ExpectSteps(parser, args.argc(), {{-2, "-test", nullptr, 1}, {1, nullptr, "plain", 2}});
    parser.Clean();
    ExpectSteps(parser, args.argc(), {{-2, "-test", nullptr, 1}, {1, nullptr, "plain", 2}});
    parser.BuildOpts(nullptr, false);
    ExpectSteps(parser, args.argc(), {{-2, "-test", nullptr, 1}, {1, nullptr, "plain", 2}});
}

}  // namespace
