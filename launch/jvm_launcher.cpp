// Loading libjvm, creating the virtual machine and the JNI steps of a launch.
#include "launch/jvm_launcher.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "base/command_line.h"
#include "base/diagnostic.h"
#include "base/text_convert.h"
#include "launch/messages.h"

CJvmLauncher* plchr = nullptr;

namespace {

typedef jint(JNICALL* CreateJavaVMFn)(JavaVM**, void**, void*);

// A Java string from wide text, as UTF-16 units (surrogate pairs above
// U+FFFF). NewStringUTF is not used: it expects the runtime's modified UTF-8,
// which standard UTF-8 with four-byte sequences is not.
jstring NewWideString(JNIEnv* env, const wchar_t* wide) {
    UcsString units(wide);
    return env->NewString(reinterpret_cast<const jchar*>(units.c_str()), units.GetSize());
}

// A Java string holding `text` (process-locale multibyte).
jstring NewLocaleString(JNIEnv* env, const char* text) {
    UnicodeString wide(text ? text : "");
    return NewWideString(env, wide.c_str());
}

// A Java string holding `text` (UTF-8).
jstring NewUtf8String(JNIEnv* env, const char* text) {
    UnicodeStringFromUtf8 wide(text ? text : "");
    return NewWideString(env, wide.c_str());
}

// Set while JNI_CreateJavaVM runs. A runtime that gives up during creation
// (a heap too small, a bad option) ends the process itself, through its
// exit or abort hook and then exit(1), the status of "no runtime found".
// While it is being created the hooks report the failed start instead;
// afterwards they return and the runtime ends the process its own way.
volatile int g_creatingVm = 0;

[[noreturn]] void RuntimeGaveUp() {
    g_creatingVm = 0;
    fflush(stdout);  // the runtime's own complaint comes first
    ReportMessage(RSTR(kMsgJvmStartFailed));
    exit(kMsgJvmStartFailed);
}

void JNICALL CreationExitHook(jint code) {
    // Exiting with 0 while being created is a runtime that did what it was
    // asked (such as writing a class-data archive), not a failure.
    if (g_creatingVm && code != 0) RuntimeGaveUp();
}

void JNICALL CreationAbortHook() {
    if (g_creatingVm) RuntimeGaveUp();
}

// Appends a Java string's text in the process locale.
void AppendJavaString(JNIEnv* env, jstring value, MyCString& out) {
    const jchar* chars = env->GetStringChars(value, nullptr);
    if (!chars) return;
    UnicodeString wide(reinterpret_cast<const unsigned short*>(chars), env->GetStringLength(value));
    AppendWideAsLocale(out, wide.c_str());
    env->ReleaseStringChars(value, chars);
}

// The throwable's toString() ("class: message"); no exception is pending.
MyCString ThrowableText(JNIEnv* env, jthrowable thrown) {
    MyCString text;
    jclass cls = env->GetObjectClass(thrown);
    jmethodID toString = cls ? env->GetMethodID(cls, "toString", "()Ljava/lang/String;") : nullptr;
    jstring value = toString ? static_cast<jstring>(env->CallObjectMethod(thrown, toString)) : nullptr;
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
    } else if (value) {
        AppendJavaString(env, value, text);
    }
    if (value) env->DeleteLocalRef(value);
    if (cls) env->DeleteLocalRef(cls);
    return text;
}

// Describes (when asked) and clears a pending exception; `text`, when given,
// receives its toString().
bool TakeException(JNIEnv* env, bool describe, MyCString* text) {
    if (!env) return false;
    jthrowable pending = env->ExceptionOccurred();
    if (!pending) return false;
    if (describe) env->ExceptionDescribe();
    env->ExceptionClear();
    if (text) *text = ThrowableText(env, pending);
    env->DeleteLocalRef(pending);
    return true;
}

}  // namespace

CJvmLauncher::CJvmLauncher() : m_library(nullptr), m_jvm(nullptr), m_env(nullptr), m_beforeMain(nullptr), m_outputHook(nullptr) {}

CJvmLauncher::~CJvmLauncher() {}

void CJvmLauncher::AddOption(const char* option) {
    if (!option) option = "";
    m_optionOffsets.Append(m_optionText.GetSize());
    m_optionText.Append(option, static_cast<int>(strlen(option)) + 1);
}

int CJvmLauncher::LoadJvmDll(const char* path) {
    // The loader would wait forever on a FIFO: only regular files are loaded.
    struct stat st;
    if (path && stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        SayError("%s: not a regular file", path);
        return kMsgJreNotValid;
    }
    m_library = LoadLibrary(path);
    if (!m_library) {
        DisplayLoadfailReason(path);
        return kMsgJreNotValid;
    }
    return kLaunchOk;
}

int CJvmLauncher::LaunchJVM(const char* path) {
    if (!m_library) {
        int result = LoadJvmDll(path);
        if (!m_library) return result;
    }
    CreateJavaVMFn create = reinterpret_cast<CreateJavaVMFn>(GetProcAddress(m_library, "JNI_CreateJavaVM"));
    if (!create) create = reinterpret_cast<CreateJavaVMFn>(GetProcAddress(m_library, "JNI_CreateJavaVM_Impl"));
    if (!create) return kMsgJreNotValid;

    const int given = m_optionOffsets.GetSize();
    const int count = given + (m_outputHook ? 3 : 2);
    JavaVMOption* options = static_cast<JavaVMOption*>(calloc(count, sizeof(JavaVMOption)));
    if (!options) return kMsgJvmStartFailed;
    for (int i = 0; i < given; ++i) options[i].optionString = m_optionText.Data() + m_optionOffsets[i];
    options[given].optionString = const_cast<char*>("exit");
    options[given].extraInfo = reinterpret_cast<void*>(&CreationExitHook);
    options[given + 1].optionString = const_cast<char*>("abort");
    options[given + 1].extraInfo = reinterpret_cast<void*>(&CreationAbortHook);
    if (m_outputHook) {
        options[given + 2].optionString = const_cast<char*>("vfprintf");
        options[given + 2].extraInfo = reinterpret_cast<void*>(m_outputHook);
    }

    JavaVMInitArgs args;
    memset(&args, 0, sizeof args);
    args.version = JNI_VERSION_1_2;
    args.nOptions = count;
    args.options = options;
    args.ignoreUnrecognized = JNI_TRUE;

    g_creatingVm = 1;
    jint created = create(&m_jvm, reinterpret_cast<void**>(&m_env), &args);
    g_creatingVm = 0;

    m_optionOffsets.Release();
    m_optionText.Release();
    free(options);

    if (created != 0) {
        m_jvm = nullptr;
        return kMsgJvmStartFailed;
    }
    return kLaunchOk;
}

bool CJvmLauncher::GetVmVersion(MyCString& version) {
    JNIEnv* env = m_env;
    if (!env) return false;
    jclass system = env->FindClass("java/lang/System");
    jmethodID getProperty =
        system ? env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;") : nullptr;
    if (!getProperty) {
        CheckException(env, false);
        if (system) env->DeleteLocalRef(system);
        return false;
    }
    jstring name = env->NewStringUTF("java.version");
    jstring value = static_cast<jstring>(env->CallStaticObjectMethod(system, getProperty, name));
    if (value) {
        version.Empty();
        AppendJavaString(env, value, version);
    }
    CheckException(env, false);
    if (value) env->DeleteLocalRef(value);
    if (name) env->DeleteLocalRef(name);
    env->DeleteLocalRef(system);
    return true;
}

jclass CJvmLauncher::FindClass(const char* name) {
    if (!m_env) return nullptr;
    MyCString slashed(name ? name : "");
    char* p = slashed.GetBuffer();
    for (int i = 0; i < slashed.GetSize(); ++i)
        if (p[i] == '.') p[i] = '/';
    jclass cls = m_env->FindClass(slashed);
    if (!cls) CheckException(m_env, true, m_exception);
    return cls;
}

int CJvmLauncher::InvokeMainClass(const char* mainClass, MyCStringArray& argvSettings, int argc1, char** argv1,
                                  int argc2, char** argv2) {
    m_exception.Empty();
    jclass cls = FindClass(mainClass);
    if (!cls) return kMsgMainClassNotFound;
    jmethodID mainMethod = m_env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
    if (!mainMethod) {
        CheckException(m_env, true);
        m_env->DeleteLocalRef(cls);
        return kMsgMainMethodMissing;
    }

    // The words are split in place inside one private copy of the settings
    // values, which outlives the word list.
    CBufferT<char> pool(argvSettings.Pool().GetData(), argvSettings.Pool().GetSize());
    CBufferT<char*> words;
    for (int i = 0; i < argvSettings.GetCount(); ++i) CmdlineToArgv(words, pool.Data() + argvSettings.GetData()[i]);

    int result = kLaunchOk;
    jobjectArray args = ArgumentToArray(words.GetSize(), words.Data(), argc1, argv1, argc2, argv2);
    if (args) {
        if (m_beforeMain) m_beforeMain();
        m_env->CallStaticVoidMethod(cls, mainMethod, args);
        if (CheckException(m_env, true, m_exception)) result = kResultMainThrew;
        m_env->DeleteLocalRef(args);
    }
    m_env->DeleteLocalRef(cls);
    return result;
}

jobjectArray CJvmLauncher::ArgumentToArray(int argc1, char** argv1, int argc2, char** argv2, int argc3,
                                           char** argv3, JNIEnv* env) {
    if (!env) env = m_env;
    if (!env) return nullptr;
    if (argc1 < 0 || !argv1) argc1 = 0;
    if (argc2 < 0 || !argv2) argc2 = 0;
    if (argc3 < 0 || !argv3) argc3 = 0;
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) {
        CheckException(env, true);
        return nullptr;
    }
    jobjectArray array = env->NewObjectArray(argc1 + argc2 + argc3, stringClass, nullptr);
    if (!array) {
        CheckException(env, true);
        env->DeleteLocalRef(stringClass);
        return nullptr;
    }
    const int counts[3] = {argc1, argc2, argc3};
    char** const lists[3] = {argv1, argv2, argv3};
    int index = 0;
    for (int l = 0; l < 3; ++l) {
        for (int i = 0; i < counts[l]; ++i) {
            jstring s = NewLocaleString(env, lists[l][i]);
            if (s) {
                env->SetObjectArrayElement(array, index, s);
                env->DeleteLocalRef(s);
            }
            ++index;
        }
    }
    CheckException(env, true);
    env->DeleteLocalRef(stringClass);
    return array;
}

void CJvmLauncher::setCurrentContextLoader(jobject loader, JNIEnv* env) {
    if (!env) env = m_env;
    if (!env) return;
    jclass threadClass = env->FindClass("java/lang/Thread");
    if (!threadClass) {
        CheckException(env, false);
        return;
    }
    jmethodID currentThread = env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
    jmethodID setLoader =
        currentThread ? env->GetMethodID(threadClass, "setContextClassLoader", "(Ljava/lang/ClassLoader;)V") : nullptr;
    jobject thread = setLoader ? env->CallStaticObjectMethod(threadClass, currentThread) : nullptr;
    if (!thread) {
        CheckException(env, true);
        env->DeleteLocalRef(threadClass);
        return;
    }
    env->CallVoidMethod(thread, setLoader, loader);
    CheckException(env, true);
    env->DeleteLocalRef(thread);
    env->DeleteLocalRef(threadClass);
}

bool CJvmLauncher::CheckException(JNIEnv* env, bool describe) { return TakeException(env, describe, nullptr); }

bool CJvmLauncher::CheckException(JNIEnv* env, bool describe, MyCString& text) {
    return TakeException(env, describe, &text);
}

void CJvmLauncher::Close() {
    if (m_jvm) {
        m_jvm->DetachCurrentThread();
        m_jvm->DestroyJavaVM();
        m_jvm = nullptr;
    }
    // The runtime library stays mapped: libjvm is not built to be unloaded,
    // and its threads and exit hooks may still run code inside it.
    m_library = nullptr;
}

void DisplayLoadfailReason(const char*) {
    const char* reason = dlerror();
    SayError("%s", reason ? reason : "the runtime library could not be loaded");
}

void SystemSetPropertyUtf8(JNIEnv* env, char* assignment) {
    if (!env || !assignment) return;
    const char* value = "";
    char* equals = strchr(assignment, '=');
    if (equals) {
        *equals = '\0';
        value = equals + 1;
    }
    jclass system = env->FindClass("java/lang/System");
    jmethodID setProperty =
        system ? env->GetStaticMethodID(system, "setProperty",
                                        "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;")
               : nullptr;
    if (!setProperty) {
        CJvmLauncher::CheckException(env, false);
        if (system) env->DeleteLocalRef(system);
        return;
    }
    jstring jname = NewUtf8String(env, assignment);
    jstring jvalue = NewUtf8String(env, value);
    if (jname && jvalue) {
        jobject previous = env->CallStaticObjectMethod(system, setProperty, jname, jvalue);
        if (previous) env->DeleteLocalRef(previous);
    }
    // An empty name (or a name the runtime refuses) raises an exception.
    CJvmLauncher::CheckException(env, true);
    if (jvalue) env->DeleteLocalRef(jvalue);
    if (jname) env->DeleteLocalRef(jname);
    env->DeleteLocalRef(system);
}
