// Packed test applications and small helpers shared by the launch tests.
#ifndef TVX_TESTS_LAUNCH_LAUNCH_TEST_UTIL_H
#define TVX_TESTS_LAUNCH_LAUNCH_TEST_UTIL_H

#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace launchtest {

// The probe application's jar (main class launchtest.Probe in its manifest).
std::string ProbeJar();
// The probe's main class.
constexpr char kProbe[] = "launchtest.Probe";
// A stand-in runtime library built by the tests.
std::string FakeLib(const std::string& name);
// "java.version" of the machine's JDK.
const std::string& JavaVersion();
// The home of a JDK of feature 24 or later for this build's processor under
// /usr/lib/jvm, or "" when there is none.
std::string Jdk24OrLater();

// Non-overlapping occurrences of `needle` in `text`.
int CountOf(const std::string& text, const std::string& needle);
// The probe's "key=value" output lines (split at the first "=").
std::map<std::string, std::string> ProbeValues(const std::string& out);

// An executable packed from the probe jar in a fresh directory, run with
// "-test" in a private IPC namespace so its System V segment vanishes with it.
class PackedApp {
public:
    // `mainClass` empty: no --main (the settings or the manifest decide).
    PackedApp(const std::vector<std::string>& lines, const std::string& mainClass,
              const std::string& jar = ProbeJar());
    void Repack(const std::vector<std::string>& lines, const std::string& mainClass);
    // Lays out the launcher image, `lines` and the jar without tvx-pack.
    void BuildWithoutGenerator(const std::vector<std::string>& lines);
    tvxtest::RunResult Run(const std::vector<std::string>& args,
                           tvxtest::RunOptions options = tvxtest::RunOptions()) const;
    // Standard error's default log beside the executable ("" when absent).
    std::string ErrLog() const;

    tvxtest::TempDir dir;
    std::string exe;
    std::string jar;
};

}  // namespace launchtest

#endif  // TVX_TESTS_LAUNCH_LAUNCH_TEST_UTIL_H
