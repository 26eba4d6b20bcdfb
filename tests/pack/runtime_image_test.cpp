// The pieces of tvx-pack --runtime that decide before jlink runs: module
// lists, release files, the processor of an image, the class path jdeps
// reads, and the refusals of JDKs that cannot give a runtime for the
// executable (made in a temporary directory; jlink itself is run by the
// packaging tests).
#include "pack/runtime_image.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include <fstream>

#include "pack/inspect.h"
#include "pack/tool_paths.h"
#include "tests/support/test_support.h"

namespace tvxpack {
namespace {

TEST(RuntimeModules, SplitsCommaListsAndRefusesWhatIsNoModuleName) {
    std::vector<std::string> modules;
    std::string error;
    ASSERT_TRUE(SplitModuleList("java.base, java.sql ,jdk.crypto.ec", &modules, &error)) << error;
    EXPECT_EQ(modules, (std::vector<std::string>{"java.base", "java.sql", "jdk.crypto.ec"}));
    struct Row {
        const char* list;
        const char* said;
    } rows[] = {{"", "an empty module name"},          {"java.base,,java.sql", "an empty module name"},
                {"1bad", "'1bad' is not a module name"}, {"java..base", "'java..base' is not a module name"},
                {"java.base.", "'java.base.' is not a module name"}, {"a b", "'a b' is not a module name"},
                {"auto/x", "'auto/x' is not a module name"}};
    for (const Row& row : rows) {
        EXPECT_FALSE(SplitModuleList(row.list, &modules, &error)) << row.list;
        EXPECT_NE(error.find(row.said), std::string::npos) << row.list << ": " << error;
    }
}

TEST(RuntimeModules, ImplicitListHoldsWhatJdepsCannotSee) {
    const std::vector<std::string>& implicit = ImplicitModules();
    for (const char* name : {"jdk.crypto.ec", "jdk.crypto.cryptoki", "java.management", "jdk.management",
                             "jdk.management.agent", "jdk.charsets", "jdk.zipfs", "jdk.naming.dns"})
        EXPECT_NE(std::find(implicit.begin(), implicit.end(), name), implicit.end()) << name;
    // Locale data beyond English is asked for (--locales, --add-modules).
    EXPECT_EQ(std::find(implicit.begin(), implicit.end(), "jdk.localedata"), implicit.end());
}

TEST(RuntimeModules, LocalePatternsAreTagsOrWildcards) {
    std::string error;
    for (const char* good : {"de", "fr-FR,de", "*-IN", "zh-Hant-TW", "en,*"})
        EXPECT_TRUE(ValidLocalePatterns(good, &error)) << good << ": " << error;
    struct Row {
        const char* patterns;
        const char* said;
    } rows[] = {{"", "an empty locale in ''"},       {"de,", "an empty locale in 'de,'"},
                {"de_DE", "'de_DE' is not a locale"}, {"de-", "'de-' is not a locale"},
                {"de fr", "'de fr' is not a locale"}, {"--add-modules", "'--add-modules' is not a locale"}};
    for (const Row& row : rows) {
        EXPECT_FALSE(ValidLocalePatterns(row.patterns, &error)) << row.patterns;
        EXPECT_NE(error.find(row.said), std::string::npos) << row.patterns << ": " << error;
    }
}

TEST(JdkRelease, ReadsVersionProcessorAndModules) {
    JdkRelease release = ParseJdkRelease(
        "IMPLEMENTOR=\"Debian\"\nJAVA_VERSION=\"17.0.15\"\r\nMODULES=\"java.base java.sql\"\nOS_ARCH=\"aarch64\"\n");
    EXPECT_EQ(release.version, "17.0.15");
    EXPECT_EQ(release.osArch, "aarch64");
    EXPECT_EQ(release.modules, "java.base java.sql");
    EXPECT_EQ(ParseJdkRelease("JAVA_VERSION_DATE=\"2025\"\n").version, "");
    EXPECT_EQ(JavaFeature("17.0.15"), 17);
    EXPECT_EQ(JavaFeature("1.8.0_292"), 8);
    EXPECT_EQ(JavaFeature("25"), 25);
    EXPECT_EQ(JavaFeature(""), 0);
    EXPECT_EQ(JavaFeature("x"), 0);
}

TEST(JdkRelease, OsArchNamesTheProcessorsAsOpenJdkDoes) {
    struct Row {
        const char* osArch;
        const char* processor;
    } rows[] = {{"x86_64", "x86_64"}, {"amd64", "x86_64"}, {"aarch64", "aarch64"}, {"arm", "armhf"}, {"x86", "i386"}};
    for (const Row& row : rows) {
        EXPECT_TRUE(OsArchMatches(row.osArch, row.processor)) << row.osArch;
        EXPECT_FALSE(OsArchMatches(row.osArch, row.processor == std::string("i386") ? "x86_64" : "i386")) << row.osArch;
    }
    EXPECT_FALSE(OsArchMatches("riscv64", "x86_64"));
}

TEST(ImageProcessor, ReadsTheElfMachineOfTheFourProcessors) {
    auto header = [](unsigned char elfClass, unsigned machine) {
        std::string head = std::string("\x7f" "ELF", 4) + static_cast<char>(elfClass) + '\1' + std::string(12, '\0');
        head += static_cast<char>(machine & 0xff);
        head += static_cast<char>(machine >> 8);
        return head;
    };
    EXPECT_EQ(ImageProcessor(header(2, 62)), "x86_64");
    EXPECT_EQ(ImageProcessor(header(2, 183)), "aarch64");
    EXPECT_EQ(ImageProcessor(header(1, 40)), "armhf");
    EXPECT_EQ(ImageProcessor(header(1, 3)), "i386");
    EXPECT_EQ(ImageProcessor(header(1, 62)), "");   // wrong class for the machine
    EXPECT_EQ(ImageProcessor(header(2, 243)), "");  // RISC-V
    EXPECT_EQ(ImageProcessor(header(2, 62).substr(0, 19)), "");
    EXPECT_EQ(ImageProcessor("#!/bin/sh\nexec java -jar app.jar\n"), "");
    std::ifstream self("/proc/self/exe", std::ios::binary);
    std::string head(20, '\0');
    self.read(&head[0], 20);
    EXPECT_EQ(ImageProcessor(head), HostProcessor());
}

class RuntimeJdks : public ::testing::Test {
protected:
    // A directory looking like a JDK: a release file, optionally jmods and
    // programs named jlink and jdeps (never run: the refusals come first).
    std::string Jdk(const std::string& name, const std::string& release, bool jmods, bool tools) {
        const std::string home = dir_ / name;
        tvxtest::MakeDirs(home + "/bin");
        tvxtest::WriteFile(home + "/release", release);
        if (jmods) tvxtest::MakeDirs(home + "/jmods");
        for (const char* tool : {"jlink", "jdeps"}) {
            if (!tools) continue;
            tvxtest::WriteFile(home + "/bin/" + tool, "#!/bin/sh\nexit 3\n");
            chmod((home + "/bin/" + tool).c_str(), 0755);
        }
        return home;
    }
    std::string Refusal(const std::string& jdk, const std::string& processor) {
        RuntimeRequest request;
        request.modules = "java.base";
        request.jdk = jdk;
        LinkedRuntime runtime;
        std::string error;
        EXPECT_FALSE(runtime.Link(request, processor, {}, dir_.path(), &error));
        EXPECT_FALSE(HasStaging()) << "a staging directory was left after: " << error;
        return error;
    }

    bool HasStaging() {
        DIR* dir = opendir(dir_.path().c_str());
        bool found = false;
        while (struct dirent* entry = dir ? readdir(dir) : nullptr)
            found = found || std::string(entry->d_name).compare(0, 14, ".jre.tvx-pack-") == 0;
        if (dir) closedir(dir);
        return found;
    }

    tvxtest::TempDir dir_;
};

TEST_F(RuntimeJdks, RefusesWhatCannotGiveARuntimeForTheExecutable) {
    const std::string host = HostProcessor();
    const std::string other = host == "aarch64" ? "x86_64" : "aarch64";
    const std::string otherArch = other == "aarch64" ? "aarch64" : "x86_64";
    const std::string hostArch = host == "armhf" ? "arm" : host == "i386" ? "x86" : host;
    struct Row {
        std::string jdk, processor, said;
    } rows[] = {
        {Jdk("jre", "JAVA_VERSION=\"17.0.1\"\nOS_ARCH=\"" + hostArch + "\"\n", false, false), host,
         "has no bin/jlink and bin/jdeps: give a JDK"},
        {Jdk("foreign", "JAVA_VERSION=\"17.0.1\"\nOS_ARCH=\"" + otherArch + "\"\n", true, true), host,
         "is a JDK for " + otherArch + "; the executable is for " + host},
        {Jdk("odd", "JAVA_VERSION=\"3.1\"\nOS_ARCH=\"" + otherArch + "\"\n", true, true), other,
         "no jlink of Java 3.1 on this machine: jlink links only the modules of its own Java version"},
        {Jdk("blank", "IMPLEMENTOR=\"x\"\n", true, true), host, "not a JDK (no release file naming JAVA_VERSION)"},
        {dir_ / "missing", host, "no such directory"},
        {"", other, "--runtime with --arch " + other + " needs --jdk JDK_HOME"},
    };
    for (const Row& row : rows) {
        std::string error = Refusal(row.jdk, row.processor);
        EXPECT_NE(error.find(row.said), std::string::npos) << row.jdk << ": " << error;
    }
}

TEST(RuntimeClassPath, ManifestAndSettingsEntriesThatExist) {
    tvxtest::TempDir dir;
    tvxtest::MakeDirs(dir / "libs/deeper");
    tvxtest::WriteFile(dir / "libs/a.jar", "x");
    tvxtest::WriteFile(dir / "libs/deeper/b.ZIP", "x");
    tvxtest::WriteFile(dir / "libs/notes.txt", "x");
    tvxtest::WriteFile(dir / "one.jar", "x");
    const std::vector<std::string> lines = {"classpath one.jar:missing.jar:$HOME/x.jar", "libs libs",
                                            "java_libs lib*", "mainclass x.Main"};
    const std::vector<std::string> jars = ClassPathJars(dir / "no-such-app.jar", lines, dir.path());
    EXPECT_EQ(jars, (std::vector<std::string>{dir / "one.jar", dir / "libs/a.jar", dir / "libs/deeper/b.ZIP"}));
}

TEST(ShippedRuntimeLine, SaysWhetherTheSearchTakesTheShippedRuntimeFirst) {
    LauncherView view;
    view.shippedHome = "/opt/app/./jre/";
    view.searchOrder = "";
    EXPECT_EQ(ShippedRuntimeLine(view), "runtime: none shipped in /opt/app/./jre/; one is searched on the machine at "
                                        "start (jre_order cbsie)\n");
    view.shippedLibrary = "/opt/app/./jre/lib/server/libjvm.so";
    struct Row {
        const char* order;
        bool jvmdll;
        const char* says;
    } rows[] = {{"", false, "used at start, it comes first in the search (jre_order cbsie)"},
                {"CBS", false, "used at start, it comes first in the search (jre_order cbs)"},
                {"cbs", true, "used only when sources c find none (jre_order cbs)"},
                {"esb", false, "used only when sources es find none (jre_order esb)"},
                {"se", false, "not used: jre_order se has no b"}};
    for (const Row& row : rows) {
        view.searchOrder = row.order;
        view.jvmdllFound = row.jvmdll;
        const std::string line = ShippedRuntimeLine(view);
        EXPECT_EQ(line.find("runtime: shipped in /opt/app/./jre/ (library /opt/app/./jre/lib/server/libjvm.so); "), 0u)
            << line;
        EXPECT_NE(line.find(row.says), std::string::npos) << row.order << ": " << line;
    }
}

}  // namespace
}  // namespace tvxpack
