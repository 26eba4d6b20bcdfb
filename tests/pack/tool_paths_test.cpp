// Where tvx-pack looks for the launcher image and the helper classes, in
// installed and build trees made in a temporary directory.
#include "pack/tool_paths.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace tvxpack {
namespace {

class ToolPaths : public ::testing::Test {
protected:
    // Creates `relative` (with its directories) below the temporary directory.
    std::string Touch(const std::string& relative) {
        const std::string path = dir_ / relative;
        tvxtest::MakeDirs(path.substr(0, path.rfind('/')));
        tvxtest::WriteFile(path, "x");
        return path;
    }
    std::string Bin() { return dir_ / "bin"; }

    tvxtest::TempDir dir_;
};

TEST(ProcessorName, KnowsTheFourProcessorsAndTheDebianNames) {
    EXPECT_EQ(ProcessorName("amd64"), "x86_64");
    EXPECT_EQ(ProcessorName("arm64"), "aarch64");
    for (const char* name : {"x86_64", "aarch64", "armhf", "i386"}) EXPECT_EQ(ProcessorName(name), name);
    for (const char* name : {"", "arm", "x86-64", "AMD64", "i686", "riscv64"}) EXPECT_EQ(ProcessorName(name), "") << name;
    EXPECT_EQ(ProcessorName(HostProcessor()), HostProcessor());
}

TEST_F(ToolPaths, InstalledImageOfTheRequestedProcessorWins) {
    tvxtest::MakeDirs(Bin());
    Touch("bin/tvx-launcher");
    const std::string host = HostProcessor();
    Touch("lib/tvx/" + host + "/tvx-launcher");
    Touch("lib/tvx/aarch64/tvx-launcher");
    std::string path, error;
    ASSERT_TRUE(FindLauncherImage(Bin(), host, &path, &error)) << error;
    EXPECT_EQ(path, Bin() + "/../lib/tvx/" + host + "/tvx-launcher");
    if (host != "aarch64") {
        ASSERT_TRUE(FindLauncherImage(Bin(), "aarch64", &path, &error)) << error;
        EXPECT_EQ(path, Bin() + "/../lib/tvx/aarch64/tvx-launcher");
    }
}

TEST_F(ToolPaths, BuildTreeServesOnlyTheHostProcessor) {
    Touch("bin/tvx-launcher");
    const std::string host = HostProcessor();
    std::string path, error;
    ASSERT_TRUE(FindLauncherImage(Bin(), host, &path, &error)) << error;
    EXPECT_EQ(path, Bin() + "/tvx-launcher");

    const std::string other = host == "armhf" ? "i386" : "armhf";
    EXPECT_FALSE(FindLauncherImage(Bin(), other, &path, &error));
    EXPECT_EQ(error, "launcher image for " + other + " not found; looked for " + Bin() + "/../lib/tvx/" + other +
                         "/tvx-launcher (install one built for it, or give --launcher IMAGE)");
}

TEST_F(ToolPaths, MissingFilesAreNamedWithEveryPlaceTried) {
    tvxtest::MakeDirs(Bin());
    const std::string host = HostProcessor();
    std::string path, error;
    EXPECT_FALSE(FindLauncherImage(Bin(), host, &path, &error));
    EXPECT_EQ(error, "launcher image for " + host + " not found; looked for " + Bin() + "/../lib/tvx/" + host +
                         "/tvx-launcher and " + Bin() + "/tvx-launcher");
    EXPECT_FALSE(FindHelpersJar(Bin(), &path, &error));
    EXPECT_EQ(error, "helper classes not found; looked for " + Bin() + "/../share/java/tvx-helpers.jar and " + Bin() +
                         "/../lib/tvx-helpers.jar");
}

TEST_F(ToolPaths, HelpersJarInstalledThenBuildTree) {
    tvxtest::MakeDirs(Bin());
    Touch("lib/tvx-helpers.jar");
    std::string path, error;
    ASSERT_TRUE(FindHelpersJar(Bin(), &path, &error)) << error;
    EXPECT_EQ(path, Bin() + "/../lib/tvx-helpers.jar");
    Touch("share/java/tvx-helpers.jar");
    ASSERT_TRUE(FindHelpersJar(Bin(), &path, &error)) << error;
    EXPECT_EQ(path, Bin() + "/../share/java/tvx-helpers.jar");
}

}  // namespace
}  // namespace tvxpack
