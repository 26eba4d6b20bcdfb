/* A stand-in runtime library for the launch tests: exports JNI_CreateJavaVM
   (or, built with FAKE_JVM_IMPL_NAME, JNI_CreateJavaVM_Impl) and answers the
   few JNI calls of a launch. TVX_FAKE_JVM in the environment selects:
     "fail"        creation fails
     "noclass"     java/lang/System cannot be found (no version)
     "null"        java.version is null
     "exit:N"      creation calls the "exit" hook with N, then fails
     "abort"       creation calls the "abort" hook, then fails
     anything else java.version is that text (unset: "1.6.0_45")
   It records the creation arguments and the properties set, for tests that
   load it in-process. */
#include <jni.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_EXPORT __attribute__((visibility("default")))

struct FakeString {
    char* text;
};

static struct JNINativeInterface_ g_functions;
static const struct JNINativeInterface_* g_env = &g_functions;
static struct JNIInvokeInterface_ g_invoke;
static const struct JNIInvokeInterface_* g_vm = &g_invoke;

static int g_classSystem;
static int g_classString;
static int g_methodGetProperty;
static int g_methodSetProperty;

static char g_options[64][512];
static int g_optionCount = -1;
static int g_version;
static int g_ignoreUnrecognized;
static char g_properties[4096];
static int g_destroyed;
static int g_detached;

static const char* Mode(void) {
    const char* mode = getenv("TVX_FAKE_JVM");
    return mode ? mode : "1.6.0_45";
}

static jstring NewString(const char* text) {
    struct FakeString* s = (struct FakeString*)malloc(sizeof *s);
    s->text = strdup(text);
    return (jstring)s;
}

static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    (void)env;
    if (strcmp(name, "java/lang/System") == 0 && strcmp(Mode(), "noclass") != 0) return (jclass)&g_classSystem;
    if (strcmp(name, "java/lang/String") == 0) return (jclass)&g_classString;
    return NULL;
}

static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    (void)env;
    (void)sig;
    if (cls != (jclass)&g_classSystem) return NULL;
    if (strcmp(name, "getProperty") == 0) return (jmethodID)&g_methodGetProperty;
    if (strcmp(name, "setProperty") == 0) return (jmethodID)&g_methodSetProperty;
    return NULL;
}

static jobject JNICALL CallStaticObjectMethodV(JNIEnv* env, jclass cls, jmethodID method, va_list args) {
    (void)env;
    (void)cls;
    if (method == (jmethodID)&g_methodGetProperty) {
        if (strcmp(Mode(), "null") == 0) return NULL;
        return (jobject)NewString(Mode());
    }
    if (method == (jmethodID)&g_methodSetProperty) {
        struct FakeString* name = va_arg(args, struct FakeString*);
        struct FakeString* value = va_arg(args, struct FakeString*);
        size_t used = strlen(g_properties);
        size_t room = sizeof g_properties - used;
        size_t need = strlen(name->text) + strlen(value->text) + 3;
        if (need < room) {
            strcat(g_properties, name->text);
            strcat(g_properties, "=");
            strcat(g_properties, value->text);
            strcat(g_properties, "\n");
        }
    }
    return NULL;
}

static jstring JNICALL NewStringUTF(JNIEnv* env, const char* text) {
    (void)env;
    return NewString(text);
}

/* UTF-16 units (surrogate pairs joined) kept as UTF-8 text. */
static jstring JNICALL NewStringUnits(JNIEnv* env, const jchar* units, jsize count) {
    (void)env;
    char* text = (char*)malloc(4 * (size_t)count + 1);
    size_t o = 0;
    for (jsize i = 0; i < count; ++i) {
        unsigned long c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        }
        if (c < 0x80) {
            text[o++] = (char)c;
        } else if (c < 0x800) {
            text[o++] = (char)(0xC0 | (c >> 6));
            text[o++] = (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text[o++] = (char)(0xE0 | (c >> 12));
            text[o++] = (char)(0x80 | ((c >> 6) & 0x3F));
            text[o++] = (char)(0x80 | (c & 0x3F));
        } else {
            text[o++] = (char)(0xF0 | (c >> 18));
            text[o++] = (char)(0x80 | ((c >> 12) & 0x3F));
            text[o++] = (char)(0x80 | ((c >> 6) & 0x3F));
            text[o++] = (char)(0x80 | (c & 0x3F));
        }
    }
    text[o] = '\0';
    struct FakeString* s = (struct FakeString*)malloc(sizeof *s);
    s->text = text;
    return (jstring)s;
}

static jsize JNICALL GetStringLength(JNIEnv* env, jstring s) {
    (void)env;
    return (jsize)strlen(((struct FakeString*)s)->text);
}

static const jchar* JNICALL GetStringChars(JNIEnv* env, jstring s, jboolean* isCopy) {
    (void)env;
    const char* text = ((struct FakeString*)s)->text;
    size_t n = strlen(text);
    jchar* units = (jchar*)calloc(n + 1, sizeof(jchar));
    for (size_t i = 0; i < n; ++i) units[i] = (unsigned char)text[i];
    if (isCopy) *isCopy = JNI_TRUE;
    return units;
}

static void JNICALL ReleaseStringChars(JNIEnv* env, jstring s, const jchar* chars) {
    (void)env;
    (void)s;
    free((void*)chars);
}

static void JNICALL DeleteLocalRef(JNIEnv* env, jobject obj) {
    (void)env;
    if (!obj || obj == (jobject)&g_classSystem || obj == (jobject)&g_classString) return;
    free(((struct FakeString*)obj)->text);
    free(obj);
}

static jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    (void)env;
    return NULL;
}

static void JNICALL ExceptionNothing(JNIEnv* env) { (void)env; }

static jint JNICALL DetachCurrentThread(JavaVM* vm) {
    (void)vm;
    ++g_detached;
    return 0;
}

static jint JNICALL DestroyJavaVM(JavaVM* vm) {
    (void)vm;
    ++g_destroyed;
    return 0;
}

static jint Create(JavaVM** pvm, void** penv, void* initArgs) {
    JavaVMInitArgs* args = (JavaVMInitArgs*)initArgs;
    g_version = args->version;
    g_ignoreUnrecognized = args->ignoreUnrecognized;
    g_optionCount = 0;
    for (int i = 0; i < args->nOptions && i < 64; ++i) {
        strncpy(g_options[i], args->options[i].optionString, sizeof g_options[i] - 1);
        g_options[i][sizeof g_options[i] - 1] = '\0';
        ++g_optionCount;
    }
    if (strcmp(Mode(), "fail") == 0) return JNI_ERR;
    /* A runtime giving up: its hook first, then exit(1) as the real one does. */
    if (strncmp(Mode(), "exit:", 5) == 0 || strcmp(Mode(), "abort") == 0) {
        for (int i = 0; i < args->nOptions; ++i) {
            void* hook = args->options[i].extraInfo;
            if (strcmp(args->options[i].optionString, "exit") == 0 && Mode()[0] == 'e')
                ((void(JNICALL*)(jint))hook)(atoi(Mode() + 5));
            if (strcmp(args->options[i].optionString, "abort") == 0 && Mode()[0] == 'a')
                ((void(JNICALL*)(void))hook)();
        }
        exit(1);
    }

    g_functions.FindClass = FindClass;
    g_functions.GetStaticMethodID = GetStaticMethodID;
    g_functions.CallStaticObjectMethodV = CallStaticObjectMethodV;
    g_functions.NewStringUTF = NewStringUTF;
    g_functions.NewString = NewStringUnits;
    g_functions.GetStringLength = GetStringLength;
    g_functions.GetStringChars = GetStringChars;
    g_functions.ReleaseStringChars = ReleaseStringChars;
    g_functions.DeleteLocalRef = DeleteLocalRef;
    g_functions.ExceptionOccurred = ExceptionOccurred;
    g_functions.ExceptionDescribe = ExceptionNothing;
    g_functions.ExceptionClear = ExceptionNothing;
    g_invoke.DetachCurrentThread = DetachCurrentThread;
    g_invoke.DestroyJavaVM = DestroyJavaVM;
    *pvm = (JavaVM*)&g_vm;
    *penv = (void*)&g_env;
    return JNI_OK;
}

#ifdef FAKE_JVM_IMPL_NAME
FAKE_EXPORT jint JNI_CreateJavaVM_Impl(JavaVM** pvm, void** penv, void* args) { return Create(pvm, penv, args); }
#else
FAKE_EXPORT jint JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) { return Create(pvm, penv, args); }
#endif

/* Inspection for in-process tests. */
FAKE_EXPORT int fake_jvm_option_count(void) { return g_optionCount; }
FAKE_EXPORT const char* fake_jvm_option(int i) { return g_options[i]; }
FAKE_EXPORT int fake_jvm_version(void) { return g_version; }
FAKE_EXPORT int fake_jvm_ignore_unrecognized(void) { return g_ignoreUnrecognized; }
FAKE_EXPORT const char* fake_jvm_properties(void) { return g_properties; }
FAKE_EXPORT int fake_jvm_destroyed(void) { return g_destroyed; }
FAKE_EXPORT int fake_jvm_detached(void) { return g_detached; }
