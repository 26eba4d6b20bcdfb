// Owns the Java runtime inside the launcher's process: loads libjvm, creates
// the virtual machine and drives it through JNI.
#ifndef TVX_LAUNCH_JVM_LAUNCHER_H
#define TVX_LAUNCH_JVM_LAUNCHER_H

#include <jni.h>
#include <stdarg.h>
#include <stdio.h>

#include "base/my_string.h"
#include "base/platform.h"
#include "launch/messages.h"

class CJvmLauncher {
public:
    CJvmLauncher();
    ~CJvmLauncher();
    CJvmLauncher(const CJvmLauncher&) = delete;
    CJvmLauncher& operator=(const CJvmLauncher&) = delete;

    void AddOption(const char* option);
    int LoadJvmDll(const char* path);               // 0 or 2
    int LaunchJVM(const char* path);                // 0, 2 or 4
    bool GetVmVersion(MyCString& version);
    jclass FindClass(const char* name);
    // 0, 7, 8 or kResultMainThrew; after 7 and kResultMainThrew, LastException
    // holds the Java exception's class and message.
    int InvokeMainClass(const char* mainClass, MyCStringArray& argvSettings, int argc1, char** argv1,
                        int argc2, char** argv2);
    const MyCString& LastException() const { return m_exception; }
    // A null environment means the launcher's own (the creating thread's).
    jobjectArray ArgumentToArray(int argc1, char** argv1, int argc2, char** argv2, int argc3, char** argv3,
                                 JNIEnv* env = nullptr);
    void setCurrentContextLoader(jobject loader, JNIEnv* env);
    static bool CheckException(JNIEnv* env, bool describe);
    // CheckException that also keeps the exception's toString() in `text`.
    static bool CheckException(JNIEnv* env, bool describe, MyCString& text);
    void Close();
    // Called once the main class and its main method are found, just before
    // main is invoked.
    void SetBeforeMain(void (*hook)()) { m_beforeMain = hook; }
    // The runtime's own printing (its "tty") goes through `hook` instead of
    // straight to the standard streams (the JNI "vfprintf" option).
    typedef jint(JNICALL* OutputHook)(FILE* stream, const char* format, va_list args);
    void SetOutputHook(OutputHook hook) { m_outputHook = hook; }

    JavaVM* GetJavaVM() const { return m_jvm; }
    JNIEnv* GetEnv() const { return m_env; }
    int OptionCount() const { return m_optionOffsets.GetSize(); }
    const char* OptionAt(int i) const { return m_optionText.GetData() + m_optionOffsets.GetData()[i]; }

private:
    CBufferT<int> m_optionOffsets;
    CBufferT<char> m_optionText;
    HMODULE m_library;
    JavaVM* m_jvm;
    JNIEnv* m_env;
    void (*m_beforeMain)();
    OutputHook m_outputHook;
    MyCString m_exception;
};

// The result of a main method that ended with an exception, like the status
// 1 `java` gives it but apart from every launch result (1 to 13) and from
// 128 and above (a signal): 70, the conventional status of a program that
// failed inside (EX_SOFTWARE). The same number as its message, so the two
// names cannot drift apart.
constexpr int kResultMainThrew = kMsgMainThrew;

void DisplayLoadfailReason(const char* path);
void SystemSetPropertyUtf8(JNIEnv* env, char* assignment);

// The process's launcher, set by main.
extern CJvmLauncher* plchr;

#endif  // TVX_LAUNCH_JVM_LAUNCHER_H
