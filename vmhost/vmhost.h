// The Java VM host: loads the chosen VM library into this process, creates
// the VM, calls the boot class and waits for the application to end.
#pragma once

#include "vmhost/jni.h"

#include <atomic>
#include <cstdint>

// Read by the control thread while the VM runs: the created VM (null before
// and after) and the VM library's thread dump export (null when missing).
extern std::atomic<JavaVM*> vm_pointer;
extern std::atomic<jvm_dump_fn> dump_entry;

// What the VM's "exit" and "abort" hooks call: the launcher's exit path.
struct vm_hooks {
    void (*exit)(int32_t status);
    void (*abort)();
};

// Loads the VM library, creates the VM with the launcher's options, those
// of fast start (fast_count of them, placed before the jop words), calls
// glimvaneboot.boot with the boot argument array and, when it returns no
// text, waits until the VM's last non-daemon thread has ended. Returns a
// launch error text (11 to 14, or the boot method's own) or null. Called at
// most once per process.
char* run_java(const char* vm_library, const char* class_path, const char* library_path, int count,
               char* const* words, char* const* fast_options, int fast_count, const char* jop,
               const char* vars, const char* z_offsets, const vm_hooks& hooks);

// A tracked copy of `path` cut at its last separator and again at the one
// before it (the runtime folder of a VM library); null when either is missing.
char* parent_of_parent(const char* path);

// Java's modified UTF-8 of a byte text, as a tracked copy: valid UTF-8
// sequences of one to three bytes (and C0 80) pass unchanged, a four-byte
// sequence becomes its surrogate pair, and every byte that starts no valid
// sequence becomes U+FFFD. The VM trusts what NewStringUTF gets.
char* modified_utf8(const char* text);

// Element `index` of a String array made of a launcher text (null: empty),
// converted as the boot array's elements are.
void set_element(JNIEnv* env, jobjectArray array, int index, const char* text);
