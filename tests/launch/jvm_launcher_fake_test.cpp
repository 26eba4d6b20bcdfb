// CJvmLauncher against stand-in runtime libraries loaded in this process:
// library checks, creation arguments, the option list, version and
// property calls, and closing.
#include <dlfcn.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launch/jvm_launcher.h"
#include "tests/support/test_support.h"

namespace {

std::string FakeLib(const char* name) { return std::string(TVX_FAKE_LIB_DIR) + "/" + name; }

// Inspection entry of a stand-in library (loaded once more by name, which
// gives the same loaded copy the launcher uses).
template <class Fn>
Fn FakeEntry(const char* lib, const char* name) {
    void* handle = dlopen(FakeLib(lib).c_str(), RTLD_NOW);
    EXPECT_NE(handle, nullptr) << dlerror();
    return reinterpret_cast<Fn>(handle ? dlsym(handle, name) : nullptr);
}

class FakeMode {
public:
    explicit FakeMode(const char* mode) {
        if (mode)
            setenv("TVX_FAKE_JVM", mode, 1);
        else
            unsetenv("TVX_FAKE_JVM");
    }
    ~FakeMode() { unsetenv("TVX_FAKE_JVM"); }
};

TEST(JvmLauncherFake, LaunchResults) {
    tvxtest::TempDir dir;
    tvxtest::WriteFile(dir / "text.so", "not a library\n");
    struct Row {
        const char* name;
        std::string path;
        const char* mode;
        int result;
        bool loadErrorPrinted;
    } rows[] = {
        {"text file", dir / "text.so", nullptr, 2, true},
        {"missing file", dir / "missing.so", nullptr, 2, true},
        {"no create entry", FakeLib("fake_jvm_nocreate.so"), nullptr, 2, false},
        {"creation fails", FakeLib("fake_jvm.so"), "fail", 4, false},
        {"creation fails through the _Impl entry", FakeLib("fake_jvm_impl.so"), "fail", 4, false},
        {"created", FakeLib("fake_jvm.so"), nullptr, 0, false},
        {"created through the _Impl entry", FakeLib("fake_jvm_impl.so"), nullptr, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeMode mode(row.mode);
        CJvmLauncher launcher;
        launcher.AddOption("-Dfirst=1");
        testing::internal::CaptureStderr();
        int result = launcher.LaunchJVM(row.path.c_str());
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, row.result);
        if (row.loadErrorPrinted) {
            // The loader's own text (it names the file), then a newline.
            EXPECT_NE(err.find(row.path), std::string::npos) << err;
            EXPECT_EQ(err.back(), '\n');
        } else {
            EXPECT_EQ(err, "");
        }
        EXPECT_EQ(launcher.GetJavaVM() != nullptr, row.result == 0);
        // The option list is emptied once the create entry was called.
        if (row.result == 0 || row.result == 4) {
            EXPECT_EQ(launcher.OptionCount(), 0);
        } else {
            EXPECT_EQ(launcher.OptionCount(), 1);
        }
        launcher.Close();
    }
}

TEST(JvmLauncherFake, CreationReceivesOptionsInOrder) {
    FakeMode mode(nullptr);
    CJvmLauncher launcher;
    const std::vector<std::string> options = {"-Djava.class.path=/a:/b:", "-Xtvx-unknown", "", "-Dz=\xC5\xBE"};
    for (const std::string& o : options) launcher.AddOption(o.c_str());
    EXPECT_EQ(launcher.OptionCount(), 4);
    ASSERT_EQ(launcher.LaunchJVM(FakeLib("fake_jvm.so").c_str()), 0);
    EXPECT_EQ(launcher.OptionCount(), 0);

    auto count = FakeEntry<int (*)()>("fake_jvm.so", "fake_jvm_option_count");
    auto option = FakeEntry<const char* (*)(int)>("fake_jvm.so", "fake_jvm_option");
    auto version = FakeEntry<int (*)()>("fake_jvm.so", "fake_jvm_version");
    auto ignore = FakeEntry<int (*)()>("fake_jvm.so", "fake_jvm_ignore_unrecognized");
    ASSERT_TRUE(count && option && version && ignore);
    // The given options in order, then the runtime's exit and abort hooks.
    ASSERT_EQ(count(), 6);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(option(i), options[i]);
    EXPECT_STREQ(option(4), "exit");
    EXPECT_STREQ(option(5), "abort");
    EXPECT_EQ(version(), 0x00010002);
    EXPECT_EQ(ignore(), 1);
    launcher.Close();
}

// A runtime that ends the process while it is being created: through its
// hooks the start is reported as failed (4), whatever status the runtime
// would have exited with; an exit with 0 is the runtime's own business.
TEST(JvmLauncherFakeDeathTest, RuntimeGivingUpInCreationIsAFailedStart) {
    const struct {
        const char* mode;
        int status;
        const char* shown;
    } rows[] = {
        {"exit:1", 4, "Java Virtual Machine starts failed."},
        {"exit:77", 4, "Java Virtual Machine starts failed."},
        {"abort", 4, "Java Virtual Machine starts failed."},
        {"exit:0", 1, "^$"},  // the hook returns; the runtime exits as it would
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        EXPECT_EXIT(
            {
                FakeMode mode(row.mode);
                CJvmLauncher launcher;
                launcher.LaunchJVM(FakeLib("fake_jvm.so").c_str());
                exit(99);
            },
            ::testing::ExitedWithCode(row.status), row.shown);
    }
}

TEST(JvmLauncherFake, VersionText) {
    struct Row {
        const char* mode;
        bool ok;
        const char* before;
        const char* after;
    } rows[] = {
        {"1.6.0_45", true, "", "1.6.0_45"},
        {"17.0.9", true, "old", "17.0.9"},
        {"null", true, "", ""},        // a null value gives an empty text
        {"null", true, "kept", "kept"},  // and leaves the string unchanged
        {"noclass", false, "kept", "kept"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        FakeMode mode(nullptr);
        CJvmLauncher launcher;
        ASSERT_EQ(launcher.LaunchJVM(FakeLib("fake_jvm.so").c_str()), 0);
        setenv("TVX_FAKE_JVM", row.mode, 1);
        MyCString version(row.before);
        EXPECT_EQ(launcher.GetVmVersion(version), row.ok);
        EXPECT_STREQ(version.c_str(), row.after);
        launcher.Close();
    }
}

TEST(JvmLauncherFake, PropertyAssignments) {
    FakeMode mode(nullptr);
    CJvmLauncher launcher;
    ASSERT_EQ(launcher.LaunchJVM(FakeLib("fake_jvm.so").c_str()), 0);
    auto properties = FakeEntry<const char* (*)()>("fake_jvm.so", "fake_jvm_properties");
    ASSERT_NE(properties, nullptr);
    std::string before = properties();
    struct Row {
        const char* assignment;
        const char* recorded;
    } rows[] = {
        {"a=b", "a=b\n"},
        {"noequals", "noequals=\n"},
        {"eq=x=y=z", "eq=x=y=z\n"},
        {"empty=", "empty=\n"},
        {"utf=\xC5\xBElu\xC5\xA5", "utf=\xC5\xBElu\xC5\xA5\n"},
        {"grin\xF0\x9F\x98\x80=\xF0\x9F\x98\x80", "grin\xF0\x9F\x98\x80=\xF0\x9F\x98\x80\n"},
    };
    std::string expected = before;
    for (const auto& row : rows) {
        std::string text = row.assignment;
        SystemSetPropertyUtf8(launcher.GetEnv(), &text[0]);
        expected += row.recorded;
    }
    EXPECT_EQ(std::string(properties()), expected);
    launcher.Close();
}

TEST(JvmLauncherFake, CloseDestroysOnceAndIsRepeatable) {
    FakeMode mode(nullptr);
    auto destroyed = FakeEntry<int (*)()>("fake_jvm.so", "fake_jvm_destroyed");
    auto detached = FakeEntry<int (*)()>("fake_jvm.so", "fake_jvm_detached");
    ASSERT_TRUE(destroyed && detached);
    CJvmLauncher launcher;
    ASSERT_EQ(launcher.LaunchJVM(FakeLib("fake_jvm.so").c_str()), 0);
    int d0 = destroyed();
    int t0 = detached();
    launcher.Close();
    EXPECT_EQ(destroyed(), d0 + 1);
    EXPECT_EQ(detached(), t0 + 1);
    EXPECT_EQ(launcher.GetJavaVM(), nullptr);
    launcher.Close();
    EXPECT_EQ(destroyed(), d0 + 1);
    EXPECT_EQ(detached(), t0 + 1);
}

TEST(JvmLauncherFake, WithoutRuntimeEveryStepFailsQuietly) {
    CJvmLauncher launcher;
    MyCString version("unchanged");
    EXPECT_FALSE(launcher.GetVmVersion(version));
    EXPECT_STREQ(version.c_str(), "unchanged");
    EXPECT_EQ(launcher.FindClass("java.lang.String"), nullptr);
    EXPECT_EQ(launcher.ArgumentToArray(0, nullptr, 0, nullptr, 0, nullptr), nullptr);
    MyCStringArray none;
    EXPECT_EQ(launcher.InvokeMainClass("Main", none, 0, nullptr, 0, nullptr), 7);
    EXPECT_FALSE(CJvmLauncher::CheckException(nullptr, true));
    launcher.Close();
}

}  // namespace
