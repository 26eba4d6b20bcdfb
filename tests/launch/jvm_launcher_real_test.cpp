// CJvmLauncher driving the machine's real Java runtime inside this process
// (one virtual machine per process, created once for all tests here).
#include <locale.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launch/jvm_launcher.h"
#include "tests/launch/launch_test_util.h"
#include "tests/support/test_support.h"

namespace {

CJvmLauncher* g_launcher = nullptr;

class RealJvm : public ::testing::Environment {
public:
    void SetUp() override {
        setlocale(LC_ALL, "C.UTF-8");
        g_launcher = new CJvmLauncher;
        std::string classPath = "-Djava.class.path=" + launchtest::ProbeJar();
        g_launcher->AddOption(classPath.c_str());
        g_launcher->AddOption("-Xtvx-not-an-option");  // ignored, not fatal
        g_launcher->AddOption("-Dset.by.option=yes");
        std::string lib = tvxtest::JavaHome() + "/lib/server/libjvm.so";
        ASSERT_EQ(g_launcher->LaunchJVM(lib.c_str()), 0);
        ASSERT_EQ(g_launcher->OptionCount(), 0);
    }
    void TearDown() override {
        if (g_launcher) g_launcher->Close();
        delete g_launcher;
        g_launcher = nullptr;
    }
};

const ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new RealJvm);

JNIEnv* Env() { return g_launcher->GetEnv(); }

std::string JavaString(jstring s) {
    if (!s) return "<null>";
    const char* utf = Env()->GetStringUTFChars(s, nullptr);
    std::string out = utf;
    Env()->ReleaseStringUTFChars(s, utf);
    return out;
}

std::vector<jchar> Units(jstring s) {
    std::vector<jchar> units(Env()->GetStringLength(s));
    Env()->GetStringRegion(s, 0, static_cast<jsize>(units.size()), units.data());
    return units;
}

std::string Property(const char* name) {
    JNIEnv* env = Env();
    jclass system = env->FindClass("java/lang/System");
    jmethodID get = env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    jstring key = env->NewStringUTF(name);
    jstring value = static_cast<jstring>(env->CallStaticObjectMethod(system, get, key));
    std::string out = JavaString(value);
    env->DeleteLocalRef(key);
    if (value) env->DeleteLocalRef(value);
    env->DeleteLocalRef(system);
    return out;
}

TEST(JvmLauncherReal, OptionsTookEffect) { EXPECT_EQ(Property("set.by.option"), "yes"); }

TEST(JvmLauncherReal, DottedAndSlashedNamesFindTheSameClass) {
    jclass dotted = g_launcher->FindClass("launchtest.Probe");
    jclass slashed = g_launcher->FindClass("launchtest/Probe");
    ASSERT_NE(dotted, nullptr);
    ASSERT_NE(slashed, nullptr);
    EXPECT_TRUE(Env()->IsSameObject(dotted, slashed));
    Env()->DeleteLocalRef(dotted);
    Env()->DeleteLocalRef(slashed);

    testing::internal::CaptureStderr();
    EXPECT_EQ(g_launcher->FindClass("launchtest.Missing"), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(Env()->ExceptionCheck());  // described and cleared
    EXPECT_NE(err.find("launchtest/Missing"), std::string::npos) << err;
}

TEST(JvmLauncherReal, VersionMatchesTheJavaCommand) {
    MyCString version("before");
    ASSERT_TRUE(g_launcher->GetVmVersion(version));
    EXPECT_EQ(std::string(version.c_str()), launchtest::JavaVersion());
}

TEST(JvmLauncherReal, ArgumentArrayKeepsOrderAndSurrogatePairs) {
    char a[] = "a";
    char zlut[] = "\xC5\xBElu\xC5\xA5";
    char smile[] = "\xF0\x9F\x98\x80";
    char b[] = "b c";
    char* first[] = {a, nullptr};
    char* second[] = {zlut};
    char* third[] = {smile, b};
    jobjectArray array = g_launcher->ArgumentToArray(2, first, 1, second, 2, third);
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(Env()->GetArrayLength(array), 5);
    std::vector<std::vector<jchar>> expected = {
        {'a'}, {}, {0x017e, 'l', 'u', 0x0165}, {0xd83d, 0xde00}, {'b', ' ', 'c'}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        jstring s = static_cast<jstring>(Env()->GetObjectArrayElement(array, i));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(Units(s), expected[i]);
        Env()->DeleteLocalRef(s);
    }
    Env()->DeleteLocalRef(array);

    jobjectArray empty = g_launcher->ArgumentToArray(0, nullptr, 0, nullptr, 0, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(Env()->GetArrayLength(empty), 0);
    Env()->DeleteLocalRef(empty);
}

TEST(JvmLauncherReal, SystemPropertiesFromUtf8) {
    struct Row {
        const char* assignment;
        const char* name;
        const char* value;
    } rows[] = {
        {"tvx.plain=value", "tvx.plain", "value"},
        {"tvx.noequals", "tvx.noequals", ""},
        {"tvx.more=a=b=c", "tvx.more", "a=b=c"},
        {"tvx.utf=\xC5\xBElu\xC5\xA5", "tvx.utf", "\xC5\xBElu\xC5\xA5"},
        // U+1F600 read back through GetStringUTFChars: the runtime's modified
        // UTF-8 writes its surrogate pair as two three-byte forms.
        {"tvx.grin=a\xF0\x9F\x98\x80" "b", "tvx.grin", "a\xED\xA0\xBD\xED\xB8\x80" "b"},
        {"set.by.option=replaced", "set.by.option", "replaced"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.assignment);
        std::string text = row.assignment;
        SystemSetPropertyUtf8(Env(), &text[0]);
        EXPECT_EQ(Property(row.name), row.value);
    }
    // An empty name is refused by the runtime: described, cleared, nothing set.
    std::string bad = "=x";
    testing::internal::CaptureStderr();
    SystemSetPropertyUtf8(Env(), &bad[0]);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(Env()->ExceptionCheck());
    EXPECT_NE(err.find("IllegalArgumentException"), std::string::npos) << err;
}

TEST(JvmLauncherReal, CheckExceptionClearsWhatIsPending) {
    JNIEnv* env = Env();
    EXPECT_FALSE(CJvmLauncher::CheckException(env, true));
    jclass cls = env->FindClass("java/lang/IllegalStateException");
    ASSERT_NE(cls, nullptr);
    for (bool describe : {false, true}) {
        SCOPED_TRACE(describe);
        env->ThrowNew(cls, "tvx check");
        testing::internal::CaptureStderr();
        EXPECT_TRUE(CJvmLauncher::CheckException(env, describe));
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(env->ExceptionCheck());
        EXPECT_EQ(err.find("tvx check") != std::string::npos, describe) << err;
    }
    env->DeleteLocalRef(cls);
}

TEST(JvmLauncherReal, ContextClassLoader) {
    JNIEnv* env = Env();
    jclass loaderClass = env->FindClass("java/lang/ClassLoader");
    jmethodID systemLoader = env->GetStaticMethodID(loaderClass, "getSystemClassLoader", "()Ljava/lang/ClassLoader;");
    jmethodID platformLoader = env->GetStaticMethodID(loaderClass, "getPlatformClassLoader", "()Ljava/lang/ClassLoader;");
    jobject system = env->CallStaticObjectMethod(loaderClass, systemLoader);
    jobject platform = env->CallStaticObjectMethod(loaderClass, platformLoader);
    jclass threadClass = env->FindClass("java/lang/Thread");
    jmethodID current = env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
    jmethodID getLoader = env->GetMethodID(threadClass, "getContextClassLoader", "()Ljava/lang/ClassLoader;");
    auto contextLoader = [&] {
        jobject thread = env->CallStaticObjectMethod(threadClass, current);
        jobject loader = env->CallObjectMethod(thread, getLoader);
        env->DeleteLocalRef(thread);
        return loader;
    };
    g_launcher->setCurrentContextLoader(platform, nullptr);  // the launcher's own environment
    jobject now = contextLoader();
    EXPECT_TRUE(env->IsSameObject(now, platform));
    env->DeleteLocalRef(now);
    g_launcher->setCurrentContextLoader(system, env);
    now = contextLoader();
    EXPECT_TRUE(env->IsSameObject(now, system));
    env->DeleteLocalRef(now);
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteLocalRef(system);
    env->DeleteLocalRef(platform);
    env->DeleteLocalRef(threadClass);
    env->DeleteLocalRef(loaderClass);
}

TEST(JvmLauncherReal, InvokeMainClassResults) {
    ASSERT_EQ(getenv("PROBE_EXIT"), nullptr);
    ASSERT_EQ(getenv("PROBE_THROW"), nullptr);
    struct Row {
        const char* name;
        const char* mainClass;
        const char* fail;  // PROBE_THROW, or null
        int result;
        const char* out;  // expected in standard output
        const char* err;  // expected in standard error
    } rows[] = {
        {"runs", "launchtest.Probe", nullptr, 0, "argc=4\narg0=one", ""},
        {"exception from main", "launchtest.Probe", "tvx boom", kResultMainThrew, "argc=4",
         "java.lang.IllegalStateException: tvx boom"},
        {"missing class", "launchtest.Missing", nullptr, 7, "", "java.lang.NoClassDefFoundError"},
        {"no main method", "launchtest/NoMain", nullptr, 8, "", "java.lang.NoSuchMethodError"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // The environment is read once by the runtime: ask through a property.
        std::string fail = std::string("probe.throw=") + (row.fail ? row.fail : "");
        SystemSetPropertyUtf8(Env(), &fail[0]);
        MyCStringArray settings;
        settings.Add("one \"two words\"");
        settings.Add("");
        char x[] = "x";
        char y[] = "y";
        char* first[] = {x};
        char* second[] = {y};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result = g_launcher->InvokeMainClass(row.mainClass, settings, 1, first, 1, second);
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, row.result);
        EXPECT_NE(out.find(row.out), std::string::npos) << out;
        EXPECT_NE(err.find(row.err), std::string::npos) << err;
        EXPECT_FALSE(Env()->ExceptionCheck());
        // The exception's class and message are kept for the launch's message.
        if (row.result == 7 || row.result == kResultMainThrew) {
            const std::string kept = g_launcher->LastException().c_str();
            EXPECT_NE(kept.find(row.err), std::string::npos) << kept;
        }
        if (row.result == 0 || row.result == kResultMainThrew) {
            EXPECT_NE(out.find("arg1=two words units="), std::string::npos) << out;
            EXPECT_NE(out.find("arg2=x units="), std::string::npos) << out;
            EXPECT_NE(out.find("arg3=y units="), std::string::npos) << out;
        }
        // The settings values are left as they were.
        EXPECT_STREQ(settings[0], "one \"two words\"");
    }
    std::string reset = "probe.throw=";
    SystemSetPropertyUtf8(Env(), &reset[0]);
}

}  // namespace
