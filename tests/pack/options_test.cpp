// The command line of tvx-pack.
#include "pack/options.h"

#include <cstring>
#include <regex>

#include <gtest/gtest.h>

namespace tvxpack {
namespace {

using Args = std::vector<std::string>;

TEST(ParseCommandLine, ReadsEveryPackOption) {
    struct Row {
        Args args;
        bool hasMain;
        const char* mainClass;
        const char* settings;
        Args setLines;
        const char* launcher;
        const char* output;
        const char* jar;
    } rows[] = {
        {{"--main", "a.B", "-o", "out", "app.jar"}, true, "a.B", "", {}, "", "out", "app.jar"},
        {{"app.jar", "--main=a.B", "--output=out"}, true, "a.B", "", {}, "", "out", "app.jar"},
        {{"--set", "option -Xmx64m", "--set=property=a=b", "-o", "o", "j.jar"},
         false, "", "", {"option -Xmx64m", "property=a=b"}, "", "o", "j.jar"},
        {{"--settings", "s.cfg", "--launcher", "L", "-o", "o", "j.jar"}, false, "", "s.cfg", {}, "L", "o", "j.jar"},
        {{"--set", "", "-o", "o", "j.jar"}, false, "", "", {""}, "", "o", "j.jar"},
        {{"-o", "o", "--", "-odd.jar"}, false, "", "", {}, "", "o", "-odd.jar"},
        {{"-o", "-", "-"}, false, "", "", {}, "", "-", "-"},
    };
    for (const Row& row : rows) {
        std::string joined;
        for (const auto& a : row.args) joined += "[" + a + "]";
        SCOPED_TRACE(joined);
        CommandLine line;
        std::string error;
        ASSERT_TRUE(ParseCommandLine(row.args, &line, &error)) << error;
        EXPECT_EQ(line.mode, CommandLine::Mode::kPack);
        EXPECT_EQ(line.pack.hasMain, row.hasMain);
        EXPECT_EQ(line.pack.mainClass, row.mainClass);
        EXPECT_EQ(line.pack.settingsFile, row.settings);
        EXPECT_EQ(line.pack.setLines, row.setLines);
        EXPECT_EQ(line.pack.launcher, row.launcher);
        EXPECT_EQ(line.pack.output, row.output);
        EXPECT_EQ(line.pack.jar, row.jar);
        EXPECT_TRUE(line.pack.startupCache) << "new executables keep a startup cache";
    }
}

TEST(ParseCommandLine, NoStartupCacheDropsTheDefaultLine) {
    for (const Args& args : {Args{"--no-startup-cache", "-o", "o", "j.jar"}, Args{"-o", "o", "j.jar", "--no-startup-cache"},
                             Args{"--deb", "--version", "1", "--no-startup-cache", "-o", "o.deb", "j.jar"}}) {
        CommandLine line;
        std::string error;
        ASSERT_TRUE(ParseCommandLine(args, &line, &error)) << error;
        EXPECT_FALSE(line.pack.startupCache);
    }
    CommandLine line;
    std::string error;
    EXPECT_FALSE(ParseCommandLine({"--no-startup-cache=1", "-o", "o", "j.jar"}, &line, &error));
    EXPECT_NE(error.find("takes no value"), std::string::npos) << error;
    EXPECT_FALSE(ParseCommandLine({"--inspect", "x", "--no-startup-cache"}, &line, &error));
}

TEST(ParseCommandLine, SelectsInspectAndHelp) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"--inspect", "exe"}, &line, &error)) << error;
    EXPECT_EQ(line.mode, CommandLine::Mode::kInspect);
    EXPECT_EQ(line.inspectPath, "exe");
    ASSERT_TRUE(ParseCommandLine({"--inspect=other"}, &line, &error)) << error;
    EXPECT_EQ(line.inspectPath, "other");
    for (const Args& args : {Args{"--help"}, Args{"-h"}, Args{"-o", "x", "--help", "--bogus"}}) {
        CommandLine help;
        ASSERT_TRUE(ParseCommandLine(args, &help, &error)) << error;
        EXPECT_EQ(help.mode, CommandLine::Mode::kHelp);
    }
    CommandLine version;
    ASSERT_TRUE(ParseCommandLine({"--version", "--bogus"}, &version, &error)) << error;
    EXPECT_EQ(version.mode, CommandLine::Mode::kVersion);
    EXPECT_TRUE(std::regex_match(VersionText(), std::regex("tvx-pack [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << VersionText();
}

TEST(ParseCommandLine, ArchNamesAProcessorOrItsDebianName) {
    struct Row {
        const char* arch;
        const char* processor;
    } rows[] = {{"x86_64", "x86_64"}, {"amd64", "x86_64"}, {"aarch64", "aarch64"},
                {"arm64", "aarch64"}, {"armhf", "armhf"},  {"i386", "i386"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arch);
        CommandLine line;
        std::string error;
        ASSERT_TRUE(ParseCommandLine({"--arch", row.arch, "-o", "o", "j.jar"}, &line, &error)) << error;
        EXPECT_EQ(line.processor, row.processor);
        EXPECT_EQ(line.pack.launcher, "");
    }
    CommandLine plain;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"-o", "o", "j.jar"}, &plain, &error)) << error;
    EXPECT_EQ(plain.processor, "");
}

TEST(ParseCommandLine, ReadsTheRuntimeOptions) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"--runtime", "auto", "--add-modules", "java.sql, java.naming", "--add-modules=jdk.jfr",
                                  "--jdk=/opt/jdk", "--locales", "de,fr-FR,*-IN", "-o", "o", "j.jar"},
                                 &line, &error))
        << error;
    EXPECT_EQ(line.runtime.modules, "auto");
    EXPECT_EQ(line.runtime.addModules, (std::vector<std::string>{"java.sql", "java.naming", "jdk.jfr"}));
    EXPECT_EQ(line.runtime.jdk, "/opt/jdk");
    EXPECT_EQ(line.runtime.locales, "de,fr-FR,*-IN");
    ASSERT_TRUE(ParseCommandLine({"-o", "o", "j.jar"}, &line, &error)) << error;
    EXPECT_EQ(line.runtime.modules, "");
}

TEST(ParseCommandLine, RejectsBadCommandLines) {
    struct Row {
        Args args;
        const char* error;
    } rows[] = {
        {{"--bogus", "-o", "o", "j"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--main=a", "--verbose=1"}, "unknown option '--verbose'"},
        {{"j.jar", "-o"}, "option '-o' needs a value"},
        {{"j.jar", "-o", "o", "--main"}, "option '--main' needs a value"},
        {{"--settings", "", "-o", "o", "j"}, "option '--settings' needs a non-empty value"},
        {{"-o", "", "j"}, "option '-o' needs a non-empty value"},
        {{"--launcher=", "-o", "o", "j"}, "option '--launcher' needs a non-empty value"},
        {{"-o", "o"}, "no application jar given"},
        {{"j.jar"}, "no output given"},
        {{"-o", "o", "a.jar", "b.jar"}, "more than one application jar given"},
        {{"--main", "A", "--main", "B", "-o", "o", "j"}, "option '--main' given more than once"},
        {{"-o", "a", "--output", "b", "j"}, "option '--output' given more than once"},
        {{"--settings", "a", "--settings", "b", "-o", "o", "j"}, "given more than once"},
        {{"--inspect", "x", "-o", "y"}, "--inspect takes only the executable"},
        {{"--inspect", "x", "y"}, "--inspect takes only the executable"},
        {{"--help=yes"}, "option '--help' takes no value"},
        {{"--version=1"}, "option '--version' takes no value"},
        {{"--arch", "sparc", "-o", "o", "j"}, "unknown processor 'sparc' for --arch"},
        {{"--arch", "X86_64", "-o", "o", "j"}, "unknown processor 'X86_64'"},
        {{"--arch", "arm64", "--launcher", "L", "-o", "o", "j"}, "give either --arch or --launcher"},
        {{"--arch", "i386", "--arch=i386", "-o", "o", "j"}, "option '--arch' given more than once"},
        {{"--inspect", "x", "--arch", "i386"}, "--inspect takes only the executable"},
        {{}, "no application jar given"},
        {{"--add-modules", "java.sql", "-o", "o", "j"}, "--add-modules and --jdk need --runtime auto|MODULES"},
        {{"--jdk", "/usr/lib/jvm/x", "-o", "o", "j"}, "--add-modules and --jdk need --runtime"},
        {{"--runtime", "auto", "--runtime=auto", "-o", "o", "j"}, "option '--runtime' given more than once"},
        {{"--runtime", "auto", "--add-modules", "java.sql,", "-o", "o", "j"}, "--add-modules: an empty module name"},
        {{"--runtime=", "-o", "o", "j"}, "option '--runtime' needs a non-empty value"},
        {{"--locales", "de", "-o", "o", "j"}, "--locales needs --runtime auto|MODULES"},
        {{"--runtime", "auto", "--locales", "de,,fr", "-o", "o", "j"}, "--locales: an empty locale in 'de,,fr'"},
        {{"--runtime", "auto", "--locales", "de_DE", "-o", "o", "j"}, "--locales: 'de_DE' is not a locale"},
        {{"--runtime", "auto", "--locales", "-de", "-o", "o", "j"}, "--locales: '-de' is not a locale"},
        {{"--runtime", "auto", "--locales", "de", "--locales=fr", "-o", "o", "j"}, "option '--locales' given more than once"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        CommandLine line;
        std::string error;
        EXPECT_FALSE(ParseCommandLine(row.args, &line, &error));
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
}

TEST(HelpText, FitsOneScreenAndNamesEveryOption) {
    std::string help = HelpText();
    int lines = 0;
    size_t start = 0;
    for (size_t nl; (nl = help.find('\n', start)) != std::string::npos; start = nl + 1) {
        ++lines;
        EXPECT_LE(nl - start, 80u) << help.substr(start, nl - start);
    }
    EXPECT_LE(lines, 24);
    for (const char* option :
         {"--main", "--settings", "--set", "--no-startup-cache", "--arch", "--launcher", "-o", "--inspect", "--help",
          "--version", "--runtime", "--add-modules", "--jdk", "--locales"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace tvxpack
