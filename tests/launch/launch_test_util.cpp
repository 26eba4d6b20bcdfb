#include "tests/launch/launch_test_util.h"

#include <sys/stat.h>

#include <sstream>

#include <gtest/gtest.h>

#include "pack/layout_writer.h"

namespace launchtest {

std::string ProbeJar() { return tvxtest::TestJarsDir() + "/launch-probe.jar"; }

std::string FakeLib(const std::string& name) { return std::string(TVX_FAKE_LIB_DIR) + "/" + name; }

const std::string& JavaVersion() {
    static const std::string version = [] {
        tvxtest::RunResult r = tvxtest::Run({tvxtest::JavaHome() + "/bin/java", "-XshowSettings:properties", "-version"});
        const std::string key = "java.version = ";
        size_t at = r.err.find(key);
        if (at == std::string::npos) return std::string("?");
        size_t end = r.err.find('\n', at);
        return r.err.substr(at + key.size(), end - at - key.size());
    }();
    return version;
}

std::string Jdk24OrLater() {
    if (tvxtest::CrossBuild()) return "";
    std::string home = tvxtest::Shell("grep -lE '^JAVA_VERSION=\"(2[4-9]|[3-9][0-9])' /usr/lib/jvm/*/release 2>/dev/null | "
                                      "head -1 | sed 's,/release$,,'")
                           .out;
    while (!home.empty() && home.back() == '\n') home.pop_back();
    return home;
}

int CountOf(const std::string& text, const std::string& needle) {
    if (needle.empty()) return 0;
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
    return count;
}

std::map<std::string, std::string> ProbeValues(const std::string& out) {
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) values.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return values;
}

PackedApp::PackedApp(const std::vector<std::string>& lines, const std::string& mainClass, const std::string& jarPath)
    : exe(dir / "app"), jar(jarPath) {
    Repack(lines, mainClass);
}

void PackedApp::Repack(const std::vector<std::string>& lines, const std::string& mainClass) {
    std::vector<std::string> extra;
    if (!mainClass.empty()) extra = {"--main", mainClass};
    tvxtest::Pack(jar, exe, lines, extra);
}

tvxtest::RunResult PackedApp::Run(const std::vector<std::string>& args, tvxtest::RunOptions options) const {
    std::vector<std::string> argv = {"/usr/bin/unshare", "--ipc", exe, "-test"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!options.setEnv.count("LC_ALL")) options.setEnv["LC_ALL"] = "C.UTF-8";
    return tvxtest::Run(argv, options);
}

void PackedApp::BuildWithoutGenerator(const std::vector<std::string>& lines) {
    tvxpack::Layout layout;
    layout.image = tvxtest::ReadFile(tvxtest::BinDir() + "/tvx-launcher");
    layout.settings = tvxpack::EncodeSettingsBlock(lines);
    layout.archive = tvxtest::ReadFile(jar);
    std::string bytes, error;
    ASSERT_TRUE(tvxpack::BuildExecutable(layout, &bytes, &error)) << error;
    tvxtest::WriteFile(exe, bytes, 0755);
}

std::string PackedApp::ErrLog() const { return tvxtest::ReadFile(exe + ".stderr.log"); }

}  // namespace launchtest
