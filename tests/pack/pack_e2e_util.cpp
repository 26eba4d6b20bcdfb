#include "tests/pack/pack_e2e_util.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "pack/archive_writer.h"

namespace packtest {

std::string PackProgram() { return tvxtest::BinDir() + "/tvx-pack"; }
std::string LauncherImage() { return tvxtest::BinDir() + "/tvx-launcher"; }
std::string HelpersJar() { return tvxtest::LibDir() + "/tvx-helpers.jar"; }
std::string TestJar() { return tvxtest::TestJarsDir() + "/packtest.jar"; }

tvxtest::RunResult RunPack(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {PackProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    return tvxtest::Run(argv);
}

std::vector<std::string> HelperClassNames() {
    std::vector<std::string> names;
    std::string error;
    EXPECT_TRUE(tvxpack::ListHelperClasses(HelpersJar(), &names, &error)) << error;
    EXPECT_FALSE(names.empty());
    std::sort(names.begin(), names.end());
    return names;
}

tvxpack::ExecutableLayout LayoutOf(const std::string& executable) {
    tvxpack::ExecutableLayout layout;
    std::string error;
    EXPECT_TRUE(tvxpack::ReadExecutableLayout(executable, &layout, &error)) << error;
    return layout;
}

int LineCount(const std::string& text) {
    int n = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    return (!text.empty() && text.back() != '\n') ? n + 1 : n;
}

}  // namespace packtest
