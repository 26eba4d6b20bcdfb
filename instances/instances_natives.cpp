// The channel's Java face: the native methods of com.brindell.tvx.Instances
// and the receiver that hands complete messages to the application. Both
// copies of the launcher's code in the process use one channel (process-block
// slot 2) and one receiver object (slot 3, set by whichever copy asked first).
//
// A message is the 4-byte kind 0 followed by one object written by
// java.io.ObjectOutputStream; it is read back with the receiver's class
// loader, so classes that exist only in the application's jar resolve.
#include <jni.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/export.h"
#include "instances/instances_natives.h"
#include "instances/shm.h"
#include "instances/shm_message.h"
#include "launch/first_copy.h"

namespace {

constexpr int32_t kKindObject = 0;
constexpr int kKindSize = 4;
constexpr int kFlushRounds = 100;
constexpr int kFlushPauseUs = 50000;
constexpr int kExitStopMs = 500;

}  // namespace

class Callback : public CShmMessageCallback {
public:
    int OnReceive(int sender, int length, const char* data) override;

    bool IsStarted() const { return __atomic_load_n(&started, __ATOMIC_ACQUIRE); }
    void MarkStarted() { __atomic_store_n(&started, true, __ATOMIC_RELEASE); }
    // Replaces the receiver, its class loader and its onReceive; the
    // previous global references are released.
    void SetReceiver(JNIEnv* env, jobject receiverObject);

    bool started = false;
    jobject classLoader = nullptr;
    jobject receiver = nullptr;
    jmethodID onReceive = nullptr;

private:
    // Guards the three values above between setReceiver on Java threads and
    // deliveries on the receive thread.
    pthread_mutex_t m_lock = PTHREAD_MUTEX_INITIALIZER;
};

namespace {

Callback maybeTheCallback;
Callback* theCallback = nullptr;

void BindShmGlobals() {
    if (!__atomic_load_n(&pshmmsg, __ATOMIC_ACQUIRE))
        __atomic_store_n(&pshmmsg, static_cast<CShmMessage*>(shm.GetSlot(kSlotMessage)), __ATOMIC_RELEASE);
    if (__atomic_load_n(&theCallback, __ATOMIC_ACQUIRE)) return;
    void** slots = shm.Slots();
    Callback* chosen = &maybeTheCallback;
    if (slots) {
        void* expected = nullptr;
        if (!__atomic_compare_exchange_n(&slots[kSlotReceiver], &expected, chosen, false, __ATOMIC_ACQ_REL,
                                         __ATOMIC_ACQUIRE))
            chosen = static_cast<Callback*>(expected);
    }
    __atomic_store_n(&theCallback, chosen, __ATOMIC_RELEASE);
}

CShmMessage* Channel() { return __atomic_load_n(&pshmmsg, __ATOMIC_ACQUIRE); }

// The channel when this process's receiving side runs, else null.
CShmMessage* StartedChannel() {
    BindShmGlobals();
    return theCallback->IsStarted() ? Channel() : nullptr;
}

// The receive thread must not touch the segment once exit() has begun to
// detach it; a thread stuck in a delivery is left where it is.
void StopChannelAtExit() {
    if (CShmMessage* channel = Channel()) channel->Stop(kExitStopMs);
}

bool Failed(JNIEnv* env) { return CJvmLauncher::CheckException(env, true); }

void DeleteLocals(JNIEnv* env, jobject a, jobject b, jobject c, jobject d) {
    jobject refs[] = {a, b, c, d};
    for (jobject ref : refs)
        if (ref) env->DeleteLocalRef(ref);
}

// Both classes, or false with nothing left to release.
bool FindClasses(JNIEnv* env, const char* first, const char* second, jclass& a, jclass& b) {
    a = env->FindClass(first);
    b = a ? env->FindClass(second) : nullptr;
    if (b) return true;
    Failed(env);
    DeleteLocals(env, a, nullptr, nullptr, nullptr);
    return false;
}

}  // namespace

jbyteArray ObjectToJByteArray(JNIEnv* env, jobject object) {
    jclass bytesClass;
    jclass objectClass;
    if (!FindClasses(env, "java/io/ByteArrayOutputStream", "java/io/ObjectOutputStream", bytesClass, objectClass)) return nullptr;
    jmethodID bytesInit = env->GetMethodID(bytesClass, "<init>", "()V");
    jmethodID toByteArray = env->GetMethodID(bytesClass, "toByteArray", "()[B");
    jmethodID objectInit = env->GetMethodID(objectClass, "<init>", "(Ljava/io/OutputStream;)V");
    jmethodID writeObject = env->GetMethodID(objectClass, "writeObject", "(Ljava/lang/Object;)V");
    jmethodID close = env->GetMethodID(objectClass, "close", "()V");
    jobject bytes = nullptr;
    jobject stream = nullptr;
    jbyteArray result = nullptr;
    if (bytesInit && toByteArray && objectInit && writeObject && close) {
        bytes = env->NewObject(bytesClass, bytesInit);
        stream = bytes ? env->NewObject(objectClass, objectInit, bytes) : nullptr;
    }
    if (stream) {
        env->CallVoidMethod(stream, writeObject, object);
        bool failed = Failed(env);
        env->CallVoidMethod(stream, close);
        failed = Failed(env) || failed;
        if (!failed) {
            result = static_cast<jbyteArray>(env->CallObjectMethod(bytes, toByteArray));
            if (Failed(env)) result = nullptr;
        }
    } else {
        Failed(env);
    }
    DeleteLocals(env, stream, bytes, objectClass, bytesClass);
    return result;
}

// The object of one message from `sender`, read within the helper class's
// limits; null when it is refused (one line on standard error) or cannot be
// read.
jobject JByteArrayToObject(JNIEnv* env, jbyteArray array, jobject loader, int sender) {
    jclass streamClass = env->FindClass("com/brindell/tvx/ClassLoaderObjectInputStream");
    jmethodID readMessage =
        streamClass ? env->GetStaticMethodID(streamClass, "readMessage", "([BLjava/lang/ClassLoader;I)Ljava/lang/Object;")
                    : nullptr;
    jobject result = nullptr;
    if (readMessage) {
        result = env->CallStaticObjectMethod(streamClass, readMessage, array, loader, static_cast<jint>(sender));
        if (Failed(env)) result = nullptr;
    } else {
        Failed(env);
    }
    if (streamClass) env->DeleteLocalRef(streamClass);
    return result;
}

jbyteArray BufferToJByteArray(JNIEnv* env, const CBufferRefT<char>& bytes) {
    jbyteArray array = env->NewByteArray(bytes.GetSize());
    if (!array) {
        Failed(env);
        return nullptr;
    }
    if (bytes.GetSize() > 0)
        env->SetByteArrayRegion(array, 0, bytes.GetSize(), reinterpret_cast<const jbyte*>(bytes.GetData()));
    return array;
}

void JByteArrayToBuffer(JNIEnv* env, jbyteArray array, CBufferT<char>& buffer, int position) {
    jsize length = env->GetArrayLength(array);
    if (position < 0 || length <= 0 || length > INT32_MAX - position) return;
    if (buffer.GetSize() < position + length) buffer.SetSize(position + length);
    env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(buffer.Data() + position));
}

int Callback::OnReceive(int sender, int length, const char* data) {
    if (length < kKindSize || !data) return 0;
    int32_t kind;
    memcpy(&kind, data, kKindSize);
    if (kind != kKindObject) return 0;
    pthread_mutex_lock(&m_lock);
    bool registered = receiver && onReceive;
    pthread_mutex_unlock(&m_lock);
    CJvmLauncher* launcher = FirstCopyLauncher();
    JavaVM* vm = launcher ? launcher->GetJavaVM() : nullptr;
    if (!registered || !vm) return 0;

    JNIEnv* env = nullptr;
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) != JNI_OK || !env) return 0;
    pthread_mutex_lock(&m_lock);
    jobject target = receiver ? env->NewLocalRef(receiver) : nullptr;
    jobject loader = classLoader ? env->NewLocalRef(classLoader) : nullptr;
    jmethodID method = onReceive;
    pthread_mutex_unlock(&m_lock);
    if (target && method) {
        launcher->setCurrentContextLoader(loader, env);
        jbyteArray array = BufferToJByteArray(env, CBufferRefT<char>(data + kKindSize, length - kKindSize));
        jobject object = array ? JByteArrayToObject(env, array, loader, sender) : nullptr;
        if (array) env->DeleteLocalRef(array);
        if (object) {
            env->CallVoidMethod(target, method, static_cast<jint>(sender), object);
            Failed(env);
            env->DeleteLocalRef(object);
        }
    }
    DeleteLocals(env, target, loader, nullptr, nullptr);
    vm->DetachCurrentThread();
    return 0;
}

void Callback::SetReceiver(JNIEnv* env, jobject receiverObject) {
    jobject newReceiver = nullptr;
    jobject newLoader = nullptr;
    jmethodID newMethod = nullptr;
    if (receiverObject) {
        jclass cls = env->GetObjectClass(receiverObject);
        newMethod = cls ? env->GetMethodID(cls, "onReceive", "(ILjava/io/Serializable;)V") : nullptr;
        Failed(env);
        jclass classClass = cls ? env->GetObjectClass(cls) : nullptr;
        jmethodID getLoader =
            classClass ? env->GetMethodID(classClass, "getClassLoader", "()Ljava/lang/ClassLoader;") : nullptr;
        jobject loader = getLoader ? env->CallObjectMethod(cls, getLoader) : nullptr;
        Failed(env);
        newReceiver = env->NewGlobalRef(receiverObject);
        newLoader = loader ? env->NewGlobalRef(loader) : nullptr;
        DeleteLocals(env, loader, classClass, cls, nullptr);
    }
    pthread_mutex_lock(&m_lock);
    jobject oldReceiver = receiver;
    jobject oldLoader = classLoader;
    receiver = newReceiver;
    classLoader = newLoader;
    onReceive = newMethod;
    pthread_mutex_unlock(&m_lock);
    if (oldReceiver) env->DeleteGlobalRef(oldReceiver);
    if (oldLoader) env->DeleteGlobalRef(oldLoader);
}

Callback* StartShmMessage() {
    BindShmGlobals();
    Callback* callback = theCallback;
    if (callback->IsStarted()) return callback;
    CShmMessage* channel = Channel();
    if (!channel || !channel->Block()) return callback;
    channel->SetMessageCallback(callback);
    if (!channel->Start()) {
        SayWarning("Instance messages unavailable: the receive thread cannot be started.");
        return callback;
    }
    static bool exitHook = atexit(StopChannelAtExit) == 0;
    (void)exitHook;
    callback->MarkStarted();
    return callback;
}

TVX_EXPORT jint JNICALL Java_com_brindell_tvx_Instances_getFirstInstance(JNIEnv*, jclass) {
    CShmMessage* channel = StartedChannel();
    return channel ? channel->Owner() : -1;
}

TVX_EXPORT jint JNICALL Java_com_brindell_tvx_Instances_getCurrentInstance(JNIEnv*, jclass) {
    CShmMessage* channel = StartedChannel();
    return channel ? channel->Pid() : -1;
}

TVX_EXPORT jintArray JNICALL Java_com_brindell_tvx_Instances_getInstances(JNIEnv* env, jclass) {
    BindShmGlobals();
    CShmMessage* channel = Channel();
    jint pids[1 + kChannelTableSize];
    int count = channel ? channel->ListInstances(reinterpret_cast<int*>(pids), 1 + kChannelTableSize) : 0;
    jintArray array = env->NewIntArray(count);
    if (array && count > 0) env->SetIntArrayRegion(array, 0, count, pids);
    return array;
}

TVX_EXPORT void JNICALL Java_com_brindell_tvx_Instances_sendObject(JNIEnv* env, jclass, jint target, jobject object) {
    CShmMessage* channel = StartedChannel();
    if (!channel) return;
    if (target == 0) target = channel->Owner();
    CBufferT<char> message;
    message.Append(reinterpret_cast<const char*>(&kKindObject), kKindSize);
    jbyteArray array = ObjectToJByteArray(env, object);
    if (object) env->DeleteLocalRef(object);
    if (!array) return;
    jsize length = env->GetArrayLength(array);
    bool fits = length <= kMaxChannelMessage - kKindSize;
    if (fits) JByteArrayToBuffer(env, array, message, kKindSize);
    env->DeleteLocalRef(array);
    if (!fits || !channel->AddToSendQueue(target, message))
        SayWarning("Instance message of %d bytes for %d not sent (no such target, or longer than %d bytes).",
                   static_cast<int>(length) + kKindSize, static_cast<int>(target), kMaxChannelMessage);
}

TVX_EXPORT void JNICALL Java_com_brindell_tvx_Instances_flush(JNIEnv*, jclass) {
    CShmMessage* channel = StartedChannel();
    for (int i = 0; channel && i < kFlushRounds; ++i) {
        if (channel->IsSendQueueEmpty()) return;
        usleep(kFlushPauseUs);
    }
}

TVX_EXPORT void JNICALL Java_com_brindell_tvx_Instances_setReceiver(JNIEnv* env, jclass, jobject receiver) {
    BindShmGlobals();
    theCallback->SetReceiver(env, receiver);
}
