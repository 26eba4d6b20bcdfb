// Running tvx-pack in the end-to-end tests, and the artefacts it uses.
#ifndef TVX_TESTS_PACK_PACK_E2E_UTIL_H
#define TVX_TESTS_PACK_PACK_E2E_UTIL_H

#include <string>
#include <vector>

#include "pack/inspect.h"
#include "tests/support/test_support.h"

namespace packtest {

std::string PackProgram();     // build/bin/tvx-pack
std::string LauncherImage();   // build/bin/tvx-launcher
std::string HelpersJar();      // build/lib/tvx-helpers.jar
std::string TestJar();         // packtest.jar: Main-Class packtest.Hello

// Runs tvx-pack with the arguments.
tvxtest::RunResult RunPack(const std::vector<std::string>& args);

// Helper class names of tvx-helpers.jar (com/brindell/tvx/*.class).
std::vector<std::string> HelperClassNames();

// Layout of a written executable; fails the test when it cannot be read.
tvxpack::ExecutableLayout LayoutOf(const std::string& executable);

// Number of lines of `text` (a last line without newline counts).
int LineCount(const std::string& text);

}  // namespace packtest

#endif  // TVX_TESTS_PACK_PACK_E2E_UTIL_H
