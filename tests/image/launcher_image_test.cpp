// The launcher file is both a program and a loadable library whose copies
// keep statics of their own, and it depends on the C library only.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include <gtest/gtest.h>

#include "instances/shm.h"
#include "pack/layout_writer.h"
#include "tests/support/test_support.h"

namespace {

using tvxtest::BinDir;

using tvxtest::RunResult;
using tvxtest::TempDir;

std::string Launcher() { return BinDir() + "/tvx-launcher"; }

// The launcher's three program-wide objects, in construction order.
const char* const kProgramObjects[] = {"shm", "shmx", "stdredir"};

// Path of the loaded object that contains `address`.
std::string ObjectOf(void* address) {
    Dl_info info;
    if (!dladdr(address, &info) || !info.dli_fname) return "";
    return info.dli_fname;
}

TEST(LauncherImage, RunsAsAProgram) {
    RunResult r = tvxtest::Run({Launcher(), "-help"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Service type application.\n\nUse /install to install service.\n\n");
}

TEST(LauncherImage, LoadsAsALibraryWithStaticsOfItsOwn) {
    // Two files with the same image: each dlopen gives a separate copy. The
    // first is loaded into the global scope, as the running program is, so
    // the second copy would bind to its statics if any were interposable.
    TempDir dir;
    std::string first = dir / "first";
    std::string second = dir / "second";
    ASSERT_EQ(tvxtest::Run({"cp", Launcher(), first}).exitCode, 0);
    ASSERT_EQ(tvxtest::Run({"cp", Launcher(), second}).exitCode, 0);

    void* a = dlopen(first.c_str(), RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(a, nullptr) << dlerror();
    void* b = dlopen(second.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(b, nullptr) << dlerror();

    for (const char* object : kProgramObjects) {
        SCOPED_TRACE(object);
        void* inA = tvxtest::ImageObject(a, first, object);
        void* inB = tvxtest::ImageObject(b, second, object);
        ASSERT_NE(inA, nullptr);
        ASSERT_NE(inB, nullptr);
        EXPECT_NE(inA, inB);
        // Each copy's code refers to its own statics, never to another copy's.
        EXPECT_EQ(ObjectOf(inA), first);
        EXPECT_EQ(ObjectOf(inB), second);
    }
    // Each copy's static constructors ran on its own objects: had the second
    // copy's code bound to the first copy's process block, its own would
    // have stayed unconstructed.
    for (auto copy : {std::make_pair(a, first), std::make_pair(b, second)}) {
        auto* block = static_cast<CShmWithinProc*>(tvxtest::ImageObject(copy.first, copy.second, "shm"));
        ASSERT_NE(block, nullptr);
        EXPECT_NE(block->Block(), nullptr) << copy.second;
    }
    dlclose(b);
    dlclose(a);
}

TEST(LauncherImage, ExportsOnlyWhatTheSecondCopyProvides) {
    RunResult r = tvxtest::Run({"nm", "-D", "--defined-only", Launcher()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int exported = 0;
    while (std::getline(lines, line)) {
        // "<address> <kind> <name>"; the address is 8 or 16 digits wide.
        std::istringstream fields(line);
        std::string address, kind, name;
        if (!(fields >> address >> kind >> name) || kind != "T") continue;  // functions only; data such as libc's stderr copy is not ours
        ++exported;
        EXPECT_TRUE(name.rfind("Java_com_brindell_tvx_", 0) == 0)
            << "unexpected export: " << name;
    }
    EXPECT_GT(exported, 0);
}

TEST(LauncherImage, NeedsOnlyTheCLibrary) {
    RunResult r = tvxtest::Run({"readelf", "-d", Launcher()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::set<std::string> allowed = {"libc.so.6", "libdl.so.2", "libpthread.so.0", "libm.so.6"};
    std::istringstream lines(r.out);
    std::string line;
    int needed = 0;
    while (std::getline(lines, line)) {
        size_t p = line.find("Shared library: [");
        if (p == std::string::npos) continue;
        std::string lib = line.substr(p + 17, line.find(']', p) - p - 17);
        ++needed;
        EXPECT_TRUE(allowed.count(lib)) << "unexpected dependency: " << lib;
    }
    EXPECT_GT(needed, 0);
    EXPECT_EQ(r.out.find("(FLAGS_1)            Flags: NOW PIE"), std::string::npos) << "PIE flag still set";
}

// Every packed executable carries the image: its debug information lives in
// tvx-launcher.debug, reached through the image's debug link.
TEST(LauncherImage, CarriesNoDebugInformation) {
    RunResult r = tvxtest::Run({"readelf", "-S", "-W", Launcher()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find(".debug_info"), std::string::npos);
    EXPECT_NE(r.out.find(".gnu_debuglink"), std::string::npos);
}

TEST(LauncherImage, HoldsExactlyOneArchiveLengthRecord) {
    std::string image = tvxtest::ReadFile(Launcher());
    ASSERT_FALSE(image.empty());
    EXPECT_GE(tvxpack::FindLengthRecord(image), 0);
}

}  // namespace
