// The part of the Java Native Interface that the launcher uses: the types,
// the invocation arguments, the invocation interface and the JNI function
// table, written from the published JNI standard so that no build
// needs a JDK. Every table slot sits at its published index; slots the
// launcher never calls are reserved pointers. vmhost/tests/jni_layout_test
// checks the offsets against a JDK's own header.
#pragma once

#include <cstdint>

// The VM calls through these with the JNI calling convention: stdcall on
// 32-bit Windows, the platform's default elsewhere.
#ifndef JNICALL
#if defined(_WIN32) && !defined(_WIN64)
#define JNICALL __stdcall
#else
#define JNICALL
#endif
#endif

typedef int32_t jint;
typedef int64_t jlong;
typedef signed char jbyte;
typedef unsigned char jboolean;
typedef uint16_t jchar;
typedef jint jsize;

struct jni_object_;
typedef jni_object_* jobject;
typedef jobject jclass;
typedef jobject jstring;
typedef jobject jthrowable;
typedef jobject jarray;
typedef jarray jobjectArray;
struct jni_method_;
typedef jni_method_* jmethodID;

#ifndef JNI_FALSE
#define JNI_FALSE 0
#define JNI_TRUE 1
#endif
#ifndef JNI_VERSION_1_2
#define JNI_VERSION_1_2 0x00010002
#endif

struct JNINativeInterface_;
struct JNIInvokeInterface_;
typedef const JNINativeInterface_* JNIEnv;
typedef const JNIInvokeInterface_* JavaVM;

// A native method RegisterNatives binds: its name, its JNI signature and
// the function that implements it.
struct JNINativeMethod {
    char* name;
    char* signature;
    void* fnPtr;
};

struct JavaVMOption {
    char* optionString;
    void* extraInfo;
};

struct JavaVMInitArgs {
    jint version;
    jint nOptions;
    JavaVMOption* options;
    jboolean ignoreUnrecognized;
};

// What AttachCurrentThread takes: the JNI version, the Java thread's name
// and its group (null: the main group).
struct JavaVMAttachArgs {
    jint version;
    char* name;
    jobject group;
};

// The invocation interface (JavaVM function table).
struct JNIInvokeInterface_ {
    void* reserved0;
    void* reserved1;
    void* reserved2;
    jint(JNICALL* DestroyJavaVM)(JavaVM* vm);                                      // 3
    jint(JNICALL* AttachCurrentThread)(JavaVM* vm, void** env, void* args);        // 4
    jint(JNICALL* DetachCurrentThread)(JavaVM* vm);                                // 5
    jint(JNICALL* GetEnv)(JavaVM* vm, void** env, jint version);                  // 6
    jint(JNICALL* AttachCurrentThreadAsDaemon)(JavaVM* vm, void** env, void* args);  // 7
};

// The JNI function table up to GetModule (index 233, JNI 9).
struct JNINativeInterface_ {
    void* reserved0_3[4];
    jint(JNICALL* GetVersion)(JNIEnv* env);                           // 4
    void* reserved5;                                                  // DefineClass
    jclass(JNICALL* FindClass)(JNIEnv* env, const char* name);        // 6
    jmethodID(JNICALL* FromReflectedMethod)(JNIEnv* env, jobject method);  // 7
    void* reserved8_14[7];
    jthrowable(JNICALL* ExceptionOccurred)(JNIEnv* env);              // 15
    void(JNICALL* ExceptionDescribe)(JNIEnv* env);                    // 16
    void(JNICALL* ExceptionClear)(JNIEnv* env);                       // 17
    void* reserved18_20[3];
    jobject(JNICALL* NewGlobalRef)(JNIEnv* env, jobject ref);         // 21
    void* reserved22;                                                 // DeleteGlobalRef
    void(JNICALL* DeleteLocalRef)(JNIEnv* env, jobject ref);          // 23
    void* reserved24_112[89];
    jmethodID(JNICALL* GetStaticMethodID)(JNIEnv* env, jclass cls, const char* name,
                                          const char* signature);     // 113
    jobject(JNICALL* CallStaticObjectMethod)(JNIEnv* env, jclass cls, jmethodID method, ...);  // 114
    void* reserved115_140[26];
    void(JNICALL* CallStaticVoidMethod)(JNIEnv* env, jclass cls, jmethodID method, ...);  // 141
    void* reserved142_162[21];
    jstring(JNICALL* NewString)(JNIEnv* env, const jchar* units, jsize length);  // 163
    void* reserved164_166[3];
    jstring(JNICALL* NewStringUTF)(JNIEnv* env, const char* bytes);   // 167
    void* reserved168;                                                // GetStringUTFLength
    const char*(JNICALL* GetStringUTFChars)(JNIEnv* env, jstring text, jboolean* is_copy);  // 169
    void(JNICALL* ReleaseStringUTFChars)(JNIEnv* env, jstring text, const char* bytes);     // 170
    void* reserved171;                                                // GetArrayLength
    jobjectArray(JNICALL* NewObjectArray)(JNIEnv* env, jsize length, jclass element_class,
                                          jobject initial);           // 172
    void* reserved173;                                                // GetObjectArrayElement
    void(JNICALL* SetObjectArrayElement)(JNIEnv* env, jobjectArray array, jsize index,
                                         jobject value);              // 174
    void* reserved175_214[40];
    jint(JNICALL* RegisterNatives)(JNIEnv* env, jclass cls, const JNINativeMethod* methods,
                                   jint count);                       // 215
    void* reserved216_233[18];
};

// The VM library's entry point "JNI_CreateJavaVM".
typedef jint(JNICALL* jni_create_vm_fn)(JavaVM** vm, void** env, void* args);
// Its optional thread dump export (see os_dump_export).
typedef void(JNICALL* jvm_dump_fn)(JNIEnv* env, jclass unused);
