#include "pack/deb_package.h"

#include <gtest/gtest.h>

#include "pack/options.h"

namespace {

TEST(DebPackage, VersionsAreAcceptedExactlyWhenDpkgWould) {
    const struct {
        const char* version;
        bool valid;
    } cases[] = {
        {"1.0", true},     {"1:2.3-4", true}, {"2.0~rc1", true}, {"1.0-1+b2", true}, {"1.2-3-4", true},
        {"", false},       {"v1", false},     {"1.0-", false},   {":1.0", false},    {"a:1.0", false},
        {"1.0 1", false},  {"1.0_1", false},  {"-1", false},     {"1.0-a_b", false},
    };
    for (const auto& c : cases) EXPECT_EQ(tvxpack::ValidDebianVersion(c.version), c.valid) << c.version;
}

TEST(DebPackage, NamesAreLowerCaseLettersDigitsAndPlusMinusDot) {
    const struct {
        const char* name;
        bool valid;
    } cases[] = {
        {"hello", true}, {"g++-12", true}, {"0ad", true},   {"a.b", true},  {"a", false},
        {"Hello", false}, {"my_tool", false}, {"-x", false}, {".x", false}, {"a b", false},
    };
    for (const auto& c : cases) EXPECT_EQ(tvxpack::ValidDebianName(c.name), c.valid) << c.name;
}

TEST(DebPackage, TheRuntimeDependencyFollowsTheJavaRange) {
    const struct {
        std::vector<std::string> lines;
        const char* depends;
    } cases[] = {
        {{}, "default-jre-headless | java-runtime-headless"},
        {{"minjre 17"}, "openjdk-17-jre-headless | java17-runtime-headless"},
        {{"minjre=1.8.0"}, "openjdk-8-jre-headless | java8-runtime-headless"},
        {{"minjre 11", "maxjre 21"}, "openjdk-11-jre-headless | openjdk-17-jre-headless | openjdk-21-jre-headless"},
        {{"MinJre 17", "minjre 21"}, "openjdk-17-jre-headless | java17-runtime-headless"},
    };
    for (const auto& c : cases) EXPECT_EQ(tvxpack::RuntimeDepends(c.lines), c.depends);
}

TEST(DebPackage, VersionPrintsTheToolsVersionExceptBesideDebWhereItIsThePackages) {
    tvxpack::CommandLine line;
    std::string error;
    ASSERT_TRUE(tvxpack::ParseCommandLine({"--version"}, &line, &error));
    EXPECT_EQ(line.mode, tvxpack::CommandLine::Mode::kVersion);
    tvxpack::CommandLine deb;
    ASSERT_TRUE(tvxpack::ParseCommandLine({"--deb", "--version", "1.0", "-o", "x.deb", "a.jar"}, &deb, &error)) << error;
    EXPECT_TRUE(deb.deb);
    EXPECT_EQ(deb.debRequest.version, "1.0");
    tvxpack::CommandLine plain;
    EXPECT_FALSE(tvxpack::ParseCommandLine({"--name", "x", "-o", "x", "a.jar"}, &plain, &error));
    EXPECT_NE(error.find("need --deb"), std::string::npos) << error;
}

}  // namespace
