// Our JNI declarations against the JDK's own jni.h: every slot the launcher
// calls must sit where the VM puts it. The JDK header is kept in a namespace
// of its own so that both can be seen at once.
#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace jdk {
#include <jni.h>
}

#include "vmhost/jni.h"

#include <gtest/gtest.h>

namespace {

#define SAME_SLOT(table, slot) \
    static_assert(offsetof(table, slot) == offsetof(jdk::table, slot), #table "::" #slot)

SAME_SLOT(JNINativeMethod, name);
SAME_SLOT(JNINativeMethod, signature);
SAME_SLOT(JNINativeMethod, fnPtr);
SAME_SLOT(JavaVMOption, optionString);
SAME_SLOT(JavaVMOption, extraInfo);
SAME_SLOT(JavaVMInitArgs, version);
SAME_SLOT(JavaVMInitArgs, nOptions);
SAME_SLOT(JavaVMInitArgs, options);
SAME_SLOT(JavaVMInitArgs, ignoreUnrecognized);
SAME_SLOT(JavaVMAttachArgs, version);
SAME_SLOT(JavaVMAttachArgs, name);
SAME_SLOT(JavaVMAttachArgs, group);

SAME_SLOT(JNIInvokeInterface_, DestroyJavaVM);
SAME_SLOT(JNIInvokeInterface_, AttachCurrentThread);
SAME_SLOT(JNIInvokeInterface_, DetachCurrentThread);
SAME_SLOT(JNIInvokeInterface_, GetEnv);
SAME_SLOT(JNIInvokeInterface_, AttachCurrentThreadAsDaemon);

SAME_SLOT(JNINativeInterface_, GetVersion);
SAME_SLOT(JNINativeInterface_, FindClass);
SAME_SLOT(JNINativeInterface_, FromReflectedMethod);
SAME_SLOT(JNINativeInterface_, ExceptionOccurred);
SAME_SLOT(JNINativeInterface_, ExceptionDescribe);
SAME_SLOT(JNINativeInterface_, ExceptionClear);
SAME_SLOT(JNINativeInterface_, NewGlobalRef);
SAME_SLOT(JNINativeInterface_, DeleteLocalRef);
SAME_SLOT(JNINativeInterface_, GetStaticMethodID);
SAME_SLOT(JNINativeInterface_, CallStaticObjectMethod);
SAME_SLOT(JNINativeInterface_, CallStaticVoidMethod);
SAME_SLOT(JNINativeInterface_, NewString);
SAME_SLOT(JNINativeInterface_, NewStringUTF);
SAME_SLOT(JNINativeInterface_, GetStringUTFChars);
SAME_SLOT(JNINativeInterface_, ReleaseStringUTFChars);
SAME_SLOT(JNINativeInterface_, NewObjectArray);
SAME_SLOT(JNINativeInterface_, SetObjectArrayElement);
SAME_SLOT(JNINativeInterface_, RegisterNatives);

TEST(JniLayout, TablesEndWhereTheJdksDo)
{
    // Our function table ends with GetModule (JNI 9); later JDKs append after it.
    EXPECT_EQ(sizeof(JNINativeInterface_), offsetof(jdk::JNINativeInterface_, GetModule) + sizeof(void*));
    EXPECT_EQ(sizeof(JNIInvokeInterface_), sizeof(jdk::JNIInvokeInterface_));
    EXPECT_EQ(sizeof(JavaVMInitArgs), sizeof(jdk::JavaVMInitArgs));
    EXPECT_EQ(JNI_VERSION_1_2, 0x10002);
}

}  // namespace
