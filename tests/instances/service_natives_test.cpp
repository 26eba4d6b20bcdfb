// The ServiceStatusManager natives against a real Java runtime created in
// this process, reading this process's block: the handler slot, and the
// cached argument arrays built on the creating thread or on another one.
// One virtual machine per process; the first test makes the first call of
// getCommandLineArguments from a thread other than the creating one.
#include <jni.h>
#include <locale.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "instances/shm.h"
#include "launch/jvm_launcher.h"
#include "tests/support/test_support.h"

extern "C" {
void JNICALL Java_com_brindell_tvx_ServiceStatusManager_nativeSetServiceStatus(JNIEnv*, jclass, jint);
void JNICALL Java_com_brindell_tvx_ServiceStatusManager_nativeSetServiceStatusHandler(JNIEnv*, jclass, jobject);
jobjectArray JNICALL Java_com_brindell_tvx_ServiceStatusManager_getCommandLineArguments(JNIEnv*, jclass);
jobjectArray JNICALL Java_com_brindell_tvx_ServiceStatusManager_getStartupParameters(JNIEnv*, jclass);
}

namespace {

CJvmLauncher* g_launcher = nullptr;

// The service's arguments as main's service road stores them in slots 11
// and 12; a null entry reaches Java as "".
char kArg0[] = "alpha";
char kArg1[] = "gr\xC3\xBC\xC3\x9F" "e";  // UTF-8 in the UTF-8 locale
char kArg2[] = "";
char* kArgs[] = {kArg0, kArg1, kArg2, nullptr};
const std::vector<std::string> kExpected = {"alpha", "gr\xC3\xBC\xC3\x9F" "e", "", ""};

class RealJvm : public testing::Environment {
public:
    void SetUp() override {
        setlocale(LC_ALL, "C.UTF-8");
        g_launcher = new CJvmLauncher;
        // Fatal on any JNI misuse, such as an environment used on a thread
        // it does not belong to.
        g_launcher->AddOption("-Xcheck:jni");
        std::string lib = tvxtest::JavaHome() + "/lib/server/libjvm.so";
        ASSERT_EQ(g_launcher->LaunchJVM(lib.c_str()), 0);
        shm.SetSlot(kSlotLauncher, g_launcher);
        shm.SetSlot(kSlotServiceArgc, reinterpret_cast<void*>(static_cast<intptr_t>(4)));
        shm.SetSlot(kSlotServiceArgv, kArgs);
    }
};

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(new RealJvm);

std::vector<std::string> Strings(JNIEnv* env, jobjectArray array) {
    std::vector<std::string> out;
    if (!array) return {"<null array>"};
    for (jsize i = 0; i < env->GetArrayLength(array); ++i) {
        jstring s = static_cast<jstring>(env->GetObjectArrayElement(array, i));
        if (!s) {
            out.push_back("<null>");
            continue;
        }
        const char* utf = env->GetStringUTFChars(s, nullptr);
        out.push_back(utf);
        env->ReleaseStringUTFChars(s, utf);
        env->DeleteLocalRef(s);
    }
    return out;
}

// Runs `body` on a new thread attached to the virtual machine.
void OnOtherThread(const std::function<void(JNIEnv*)>& body) {
    std::thread t([&] {
        JNIEnv* env = nullptr;
        JavaVM* vm = g_launcher->GetJavaVM();
        if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) {
            ADD_FAILURE() << "cannot attach";
            return;
        }
        body(env);
        vm->DetachCurrentThread();
    });
    t.join();
}

TEST(ServiceNatives, ArgumentsBuiltOnAnotherThreadAreTheArrayOfEveryCall) {
    JNIEnv* main = g_launcher->GetEnv();
    jobject fromThread = nullptr;
    std::vector<std::string> seenThere;
    OnOtherThread([&](JNIEnv* env) {
        jobjectArray a = Java_com_brindell_tvx_ServiceStatusManager_getCommandLineArguments(env, nullptr);
        seenThere = Strings(env, a);
        fromThread = a;  // a global reference, valid on every thread
    });
    EXPECT_EQ(seenThere, kExpected);
    jobjectArray here = Java_com_brindell_tvx_ServiceStatusManager_getCommandLineArguments(main, nullptr);
    EXPECT_TRUE(main->IsSameObject(here, fromThread));
    EXPECT_EQ(main->GetObjectRefType(here), JNIGlobalRefType);
    EXPECT_EQ(Strings(main, here), kExpected);
}

TEST(ServiceNatives, ArgumentsOnTheCreatingThreadAreOneArray) {
    JNIEnv* env = g_launcher->GetEnv();
    jobjectArray first = Java_com_brindell_tvx_ServiceStatusManager_getCommandLineArguments(env, nullptr);
    jobjectArray second = Java_com_brindell_tvx_ServiceStatusManager_getCommandLineArguments(env, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(env->IsSameObject(first, second));
    EXPECT_EQ(Strings(env, first), kExpected);
    EXPECT_FALSE(env->ExceptionCheck());
}

TEST(ServiceNatives, StartupParametersAreOneEmptyArray) {
    JNIEnv* env = g_launcher->GetEnv();
    jobjectArray first = Java_com_brindell_tvx_ServiceStatusManager_getStartupParameters(env, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(env->GetArrayLength(first), 0);
    jobject fromThread = nullptr;
    OnOtherThread([&](JNIEnv* other) {
        fromThread = Java_com_brindell_tvx_ServiceStatusManager_getStartupParameters(other, nullptr);
    });
    EXPECT_TRUE(env->IsSameObject(first, fromThread));
    jobjectArray command = Java_com_brindell_tvx_ServiceStatusManager_getCommandLineArguments(env, nullptr);
    EXPECT_FALSE(env->IsSameObject(first, command));
}

TEST(ServiceNatives, HandlerSlotHoldsAGlobalReferenceToTheLatestHandler) {
    JNIEnv* env = g_launcher->GetEnv();
    jstring h1 = env->NewStringUTF("first handler");
    jstring h2 = env->NewStringUTF("second handler");
    struct Step {
        const char* name;
        jobject handler;
    };
    const Step steps[] = {{"set", h1}, {"replace", h2}, {"same again", h2}, {"clear", nullptr}, {"set after clear", h1}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        Java_com_brindell_tvx_ServiceStatusManager_nativeSetServiceStatusHandler(env, nullptr, step.handler);
        jobject slot = static_cast<jobject>(shm.GetSlot(kSlotServiceHandler));
        if (!step.handler) {
            EXPECT_EQ(slot, nullptr);
        } else {
            ASSERT_NE(slot, nullptr);
            EXPECT_EQ(env->GetObjectRefType(slot), JNIGlobalRefType);
            EXPECT_TRUE(env->IsSameObject(slot, step.handler));
        }
    }
    Java_com_brindell_tvx_ServiceStatusManager_nativeSetServiceStatusHandler(env, nullptr, nullptr);
    env->DeleteLocalRef(h1);
    env->DeleteLocalRef(h2);
}

TEST(ServiceNatives, SetServiceStatusChangesNothing) {
    JNIEnv* env = g_launcher->GetEnv();
    std::vector<char> before(static_cast<char*>(shm.Block()), static_cast<char*>(shm.Block()) + kProcessBlockSize);
    for (jint status : {2, 4, 7, -1}) Java_com_brindell_tvx_ServiceStatusManager_nativeSetServiceStatus(env, nullptr, status);
    EXPECT_EQ(std::vector<char>(static_cast<char*>(shm.Block()), static_cast<char*>(shm.Block()) + kProcessBlockSize),
              before);
    EXPECT_FALSE(env->ExceptionCheck());
}

}  // namespace
