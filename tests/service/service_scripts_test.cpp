// The unit, job and init script texts, their size limit, and the checks of
// names, paths and arguments that go into them.
#include <gtest/gtest.h>

#include <string>

#include "service/service.h"
#include "tests/service/expected_scripts.h"

namespace {

using servicetest::ExpectedSysVScript;
using servicetest::ExpectedSystemDUnit;
using servicetest::ExpectedUpStartJob;

TEST(ServiceScripts, SystemDUnitIsTheTemplateWithNamePathAndArguments) {
    struct Row {
        const char* args;    // as stored (ArgvToCmdline)
        const char* quoted;  // as ExecStart= must read them
    } rows[] = {
        {"", ""},
        {"-port 80 \"a b\"", "-port 80 \"a b\""},
        {"50% $HOME \"say \\\"hi\\\"\" c:\\\\d", "\"50%%\" \"$$HOME\" \"say \\\"hi\\\"\" \"c:\\\\d\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        ServiceScript script;
        int n = BuildScriptSystemD(script, "billing", "/opt/billing/billing", row.args);
        std::string expected = ExpectedSystemDUnit("billing", "/opt/billing/billing", row.quoted);
        EXPECT_EQ(std::string(script), expected);
        EXPECT_EQ(n, static_cast<int>(expected.size()));
    }
    // Without arguments the line ends in a blank.
    ServiceScript script;
    BuildScriptSystemD(script, "billing", "/opt/billing/billing", "");
    EXPECT_NE(std::string(script).find("ExecStart=/opt/billing/billing --no-daemon \n"), std::string::npos);
}

TEST(ServiceScripts, UpStartJobCarriesTheStartRunlevels) {
    for (const char* runlevels : {"2345", ""}) {
        SCOPED_TRACE(runlevels);
        ServiceScript script;
        int n = BuildScriptUpStart(script, "billing", runlevels, "/opt/billing/billing", "x y");
        std::string expected = ExpectedUpStartJob("billing", runlevels, "/opt/billing/billing", "x y");
        EXPECT_EQ(std::string(script), expected);
        EXPECT_EQ(n, static_cast<int>(expected.size()));
    }
}

TEST(ServiceScripts, SysVScriptHoldsTheArgumentsAsShellWords) {
    ServiceScript script;
    int n = BuildScriptSysV(script, "billing", "/opt/billing/billing", "35", 70,
                            "-port 80 \"a b\" \"c\\\\d\" it's \"\"");
    std::string expected =
        ExpectedSysVScript("billing", "/opt/billing/billing", "35", 70, "-port 80 'a b' 'c\\d' 'it'\\''s' ''");
    EXPECT_EQ(std::string(script), expected);
    EXPECT_EQ(n, static_cast<int>(expected.size()));
    // The template's own spacing: two blanks in start()'s test, one in stop()'s.
    EXPECT_NE(expected.find("\t[ $RETVAL = 0  ] && touch ${lockfile}\n"), std::string::npos);
    EXPECT_NE(expected.find("\t[ $RETVAL = 0 ] && rm -f ${lockfile} ${pidfile}\n"), std::string::npos);
}

TEST(ServiceScripts, SysVChkconfigLineFollowsRunlevelsAndPriority) {
    struct Row {
        const char* runlevels;
        int priority;
        const char* line;
    } rows[] = {
        {"35", 70, "# chkconfig: 35 70 30\n"},
        {"-", 70, "# chkconfig: - 70 30\n"},
        {"2345", 10, "# chkconfig: 2345 10 90\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        ServiceScript script;
        ASSERT_GT(BuildScriptSysV(script, "a", "/a", row.runlevels, row.priority, ""), 0);
        EXPECT_NE(std::string(script).find(row.line), std::string::npos);
    }
}

// The text must fit with its terminator: one byte more is refused, not cut.
TEST(ServiceScripts, TextsLongerThanTheBufferAreRefusedWhole) {
    ServiceScript probe;
    const int base = BuildScriptSystemD(probe, "n", "/p", "");
    ASSERT_GT(base, 0);
    const int room = kServiceScriptSize - 1 - base;

    struct Row {
        int argsLength;
        bool fits;
    } rows[] = {{room, true}, {room + 1, false}, {kServiceScriptSize * 2, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argsLength);
        std::string args(static_cast<size_t>(row.argsLength), 'x');
        ServiceScript script;
        int n = BuildScriptSystemD(script, "n", "/p", args.c_str());
        if (row.fits) {
            EXPECT_EQ(n, kServiceScriptSize - 1);
            EXPECT_EQ(std::string(script).size(), static_cast<size_t>(n));
        } else {
            EXPECT_EQ(n, -1);
            EXPECT_EQ(script[0], '\0');
        }
    }
    std::string longArgs(kServiceScriptSize, 'y');
    ServiceScript script;
    EXPECT_EQ(BuildScriptUpStart(script, "n", "", "/p", longArgs.c_str()), -1);
    EXPECT_EQ(BuildScriptSysV(script, "n", "/p", "-", 70, longArgs.c_str()), -1);
    // Quoting makes every single quote four characters: a text that fits
    // before quoting may not after.
    std::string quotes(static_cast<size_t>(kServiceScriptSize / 3), '\'');
    EXPECT_EQ(BuildScriptSysV(script, "n", "/p", "-", 70, quotes.c_str()), -1);
}

TEST(ServiceChecks, ServiceNames) {
    struct Row {
        const char* name;
        bool accepted;
    } rows[] = {
        {"billing", true},      {"my-app_2.1+x,y:z=w@h", true}, {"caf\xc3\xa9", true}, {"", false},
        {"-rf", false},         {"a\"b", false},                {"a`id`", false},      {"a$HOME", false},
        {"a\\b", false},        {"a b", false},                 {"a;b", false},        {"a\nb", false},
        {"a%n", false},         {"a'b", false},                 {"a|b", false},        {"a*", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const char* problem = CheckServiceName(row.name);
        EXPECT_EQ(problem == nullptr, row.accepted) << (problem ? problem : "");
    }
}

// systemd's own rule for unit names, applied when the unit is written.
TEST(ServiceChecks, SystemDUnitNames) {
    struct Row {
        const char* name;
        bool accepted;
    } rows[] = {
        {"billing", true},        {"my-app_2.1:x", true},  {"web@blue", true},       {"caf\xc3\xa9", false},
        {"caf\xe9", false},        {"a+b", false},          {"a=b", false},           {"a,b", false},
        {"@b", false},            {"a@", false},           {"a@b@c", false},         {"", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const char* problem = CheckSystemDUnitName(row.name);
        EXPECT_EQ(problem == nullptr, row.accepted) << (problem ? problem : "");
    }
    EXPECT_EQ(CheckSystemDUnitName(std::string(247, 'a').c_str()), nullptr);  // 255 with ".service"
    EXPECT_NE(CheckSystemDUnitName(std::string(248, 'a').c_str()), nullptr);
}

TEST(ServiceChecks, ExecutablePaths) {
    struct Row {
        const char* path;
        bool accepted;
    } rows[] = {
        {"/opt/billing/billing", true}, {"/opt/a-b_c.d/x+y", true}, {"relative/x", false}, {"/opt/my app/x", false},
        {"/opt/$x/y", false},           {"/opt/`x`/y", false},      {"/opt/\"/y", false},  {"/opt/a\tb", false},
        {"/opt/%i/x", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(CheckServicePath(row.path) == nullptr, row.accepted);
    }
}

// Only control characters are refused; the sentence names the argument and
// the reason.
TEST(ServiceChecks, ServiceArguments) {
    struct Row {
        const char* args;  // as stored (ArgvToCmdline)
        const char* problem;
    } rows[] = {
        {"", ""},
        {"-port 8080 -Dmode=fast", ""},
        {"\"two words\" \"say \\\"hi\\\"\" c:\\\\dir", ""},
        {"$(touch /tmp/x) `id` ${HOME} a;reboot && | > it's 100% *.jar ~/x # caf\xc3\xa9 \"\"", ""},
        {"ok \"a\nExecStartPre=/bin/false\"",
         "The service argument \"a\\nExecStartPre=/bin/false\" holds a newline, which no line of the service's file "
         "can carry."},
        {"\"tab\there\" bell\a",
         "The service argument \"tab\\there\" holds a control character, which no line of the service's file can "
         "carry."},
        {"x\x7f", "The service argument \"x\\x7F\" holds a control character, which no line of the service's file "
                  "can carry."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        EXPECT_EQ(std::string(CheckServiceArguments(row.args).c_str()), row.problem);
    }
}

}  // namespace
