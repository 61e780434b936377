#include "vmhost/vmhost.h"

#include "os/os.h"
#include "payload/vars.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/switches.h"
#include "support/track.h"
#include "support/words.h"
#include "vmhost/control.h"
#include "vmhost/instance.h"
#include "vmhost/splash.h"
#include "vmhost/vmcache.h"

#include <climits>
#include <cstring>

std::atomic<JavaVM*> vm_pointer{nullptr};
std::atomic<jvm_dump_fn> dump_entry{nullptr};

namespace {

// Five fixed options, the VM cache's options in fast start, and jop words
// in the room left (95 without a VM cache).
const int option_capacity = 100;
const int fixed_options = 5;
const int boot_fixed_elements = 5;
const size_t cwd_buffer = 360;
const char* const boot_class = "glimvaneboot";
const char* const boot_method = "boot";
const char* const boot_signature = "([Ljava/lang/String;)Ljava/lang/String;";
const char* const main_threw_method = "mainThrew";
const char* const main_threw_signature = "(Ljava/lang/Throwable;)Ljava/lang/String;";

// Set once before the VM exists; the VM's own threads call through it.
vm_hooks hooks_in_use;

void JNICALL vm_exit_hook(jint status)
{
    // The VM has written its class cache by now: it does so before it
    // calls this hook.
    finish_vm_cache();
    instance_vm_ended();
    hooks_in_use.exit(status);
}

void JNICALL vm_abort_hook()
{
    drop_vm_cache();
    instance_vm_ended();
    hooks_in_use.abort();
}

// Appends one byte while there is room for it and the final NUL.
struct byte_sink {
    char* out;
    size_t size;
    size_t used;
    void put(unsigned value)
    {
        if (used + 1 < size) out[used++] = char(value);
    }
    void put3(unsigned c)  // a character of the basic plane as three bytes
    {
        put(0xE0 | (c >> 12));
        put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    }
};

bool continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the valid sequence at `s` (1 to 4), 0 when it is not one.
int sequence_length(const unsigned char* s)
{
    unsigned char c = s[0];
    if (c < 0x80) return 1;
    if (c == 0xC0) return s[1] == 0x80 ? 2 : 0;  // modified UTF-8's NUL
    if (c >= 0xC2 && c <= 0xDF) return continuation(s[1]) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        // Surrogates (ED A0..BF) stay: Java's own form of a lone surrogate.
        bool second = c == 0xE0 ? s[1] >= 0xA0 && s[1] <= 0xBF : continuation(s[1]);
        return second && continuation(s[2]) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        bool second = c == 0xF0 ? s[1] >= 0x90 && s[1] <= 0xBF
                    : c == 0xF4 ? s[1] >= 0x80 && s[1] <= 0x8F
                                : continuation(s[1]);
        return second && continuation(s[2]) && continuation(s[3]) ? 4 : 0;
    }
    return 0;
}

// The natives of the standard boot class. With them the boot class hands
// main over instead of calling it: the launcher calls main through JNI
// once boot has returned, straight from the main thread as java does, so
// that main's frame is the bottom one of its thread (the X11 toolkit names
// an application's windows by that frame's class), and without reflection
// (whose first call spins method handle classes from Java 18 on). An
// exception main throws goes to the boot class's mainThrew, whose text
// (error 54) the launcher reports.
jboolean JNICALL boot_launcher_calls(JNIEnv*, jclass)
{
    return JNI_TRUE;
}

// What the boot class handed over; global references, as the arguments'
// local ones end with the native call. The method id is taken only when
// main is called: taking it initialises the main class, whose initializer
// may throw, and that belongs to main's call as under java.
jclass handed_main;
jobject handed_method;
jobject handed_words;

void JNICALL boot_hand_main(JNIEnv* env, jclass, jclass main, jobject method, jobjectArray words)
{
    handed_main = (*env)->NewGlobalRef(env, main);
    handed_method = (*env)->NewGlobalRef(env, method);
    handed_words = (*env)->NewGlobalRef(env, words);
}

// A boot class that does not declare them (a package's own) is left as it
// is: the failed binding's exception is cleared.
void bind_boot_natives(JNIEnv* env, jclass boot)
{
    JNINativeMethod natives[] = {
        {const_cast<char*>("launcherCalls"), const_cast<char*>("()Z"), reinterpret_cast<void*>(boot_launcher_calls)},
        {const_cast<char*>("handMain"),
         const_cast<char*>("(Ljava/lang/Class;Ljava/lang/reflect/Method;[Ljava/lang/String;)V"),
         reinterpret_cast<void*>(boot_hand_main)},
    };
    if ((*env)->RegisterNatives(env, boot, natives, 2) != 0) (*env)->ExceptionClear(env);
}

// A tracked copy of a launch error text that Java code returned, or null.
char* returned_text(JNIEnv* env, jobject value)
{
    if (!value) return nullptr;
    auto text = static_cast<jstring>(value);
    const char* bytes = (*env)->GetStringUTFChars(env, text, nullptr);
    if (!bytes) return nullptr;
    char* result = track_strdup(bytes);
    (*env)->ReleaseStringUTFChars(env, text, bytes);
    return result;
}

// Calls the main method the boot class handed over; null when it returned,
// else the boot class's text for the exception it threw.
char* call_handed_main(JNIEnv* env, jclass boot)
{
    log_line(log_main_invoke);
    if (jmethodID id = (*env)->FromReflectedMethod(env, handed_method))
        (*env)->CallStaticVoidMethod(env, handed_main, id, handed_words);
    log_line(log_main_returned);
    jthrowable thrown = (*env)->ExceptionOccurred(env);
    if (!thrown) return nullptr;
    (*env)->ExceptionClear(env);
    // A boot class without it leaves NoSuchMethodError pending: error 14.
    jmethodID report = (*env)->GetStaticMethodID(env, boot, main_threw_method, main_threw_signature);
    return report ? returned_text(env, (*env)->CallStaticObjectMethod(env, boot, report, thrown)) : nullptr;
}

// A Java string of a launcher text: from the ANSI code page where that is
// not UTF-8 (older Windows), else as modified UTF-8.
jstring launcher_string(JNIEnv* env, const char* text)
{
    long units = os_ansi_to_utf16(text, nullptr, 0);
    if (units >= 0) {
        size_t size = size_t(units > 0 ? units : 1) * sizeof(jchar);
        auto* wide = static_cast<jchar*>(track_alloc(int32_t(size)));
        long n = units > 0 ? os_ansi_to_utf16(text, wide, size_t(units)) : 0;
        jstring value = (*env)->NewString(env, wide, jsize(n > 0 ? n : 0));
        track_free(wide, 1104);
        return value;
    }
    char* bytes = modified_utf8(text);
    jstring value = (*env)->NewStringUTF(env, bytes);
    track_free(bytes, 1103);
    return value;
}

// "-Dsun.java.command=" with the main class (the Vars key main, else the
// boot class for a package's own) and the words, separated by spaces.
char* java_command(const char* vars, int count, char* const* words)
{
    char* main = get_var(vars, "main", nullptr);
    char* text = format_new("-Dsun.java.command=%s", main && *main ? main : boot_class);
    for (int i = 0; i < count; i++) text = append_new(text, 1105, " %s", words[i]);
    track_free(main, 1106);
    return text;
}

}  // namespace

void set_element(JNIEnv* env, jobjectArray array, int index, const char* text)
{
    jstring value = launcher_string(env, text ? text : "");
    (*env)->SetObjectArrayElement(env, array, index, value);
    (*env)->DeleteLocalRef(env, value);
}

char* modified_utf8(const char* text)
{
    size_t length = strlen(text);
    // At most three bytes out for each byte in (an invalid byte becomes
    // U+FFFD; four bytes become six). A text too long for one tracked block
    // is cut there, never written past.
    size_t size = length > (INT32_MAX - 1) / 3 ? size_t(INT32_MAX) : length * 3 + 1;
    byte_sink sink{static_cast<char*>(track_alloc(int32_t(size))), size, 0};
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        int n = sequence_length(s);
        if (n == 0) {
            sink.put3(0xFFFD);
            s++;
        } else if (n == 4) {
            unsigned c = ((s[0] & 0x07u) << 18 | (s[1] & 0x3Fu) << 12 | (s[2] & 0x3Fu) << 6 | (s[3] & 0x3Fu)) -
                         0x10000;
            sink.put3(0xD800 + (c >> 10));
            sink.put3(0xDC00 + (c & 0x3FF));
            s += 4;
        } else {
            for (int i = 0; i < n; i++) sink.put(*s++);
        }
    }
    return sink.out;
}

char* parent_of_parent(const char* path)
{
    char* copy = track_strdup(path);
    for (int cut = 0; cut < 2; cut++) {
        char* last = strrchr(copy, os_path_sep);
        if (!last) {
            track_free(copy, 1101);
            return nullptr;
        }
        *last = 0;
    }
    return copy;
}

char* run_java(const char* vm_library, const char* class_path, const char* library_path, int count,
               char* const* words, char* const* fast_options, int fast_count, const char* jop,
               const char* vars, const char* z_offsets, const vm_hooks& hooks)
{
    log_line(log_java_class_path, class_path);
    log_line(log_java_library_path, library_path);
    log_line(log_jvm, vm_library);

    hooks_in_use = hooks;
    JavaVMOption options[option_capacity] = {};
    options[0].optionString = format_new("-Djava.class.path=%s", class_path);
    options[1].optionString = format_new("-Djava.library.path=%s", library_path);
    options[2].optionString = track_strdup("exit");
    options[2].extraInfo = reinterpret_cast<void*>(vm_exit_hook);
    options[3].optionString = track_strdup("abort");
    options[3].extraInfo = reinterpret_cast<void*>(vm_abort_hook);
    options[4].optionString = format_new("-Xmx%sm", max_heap);
    int used = fixed_options;
    // Before the jop words: where a package's own option overlaps one of
    // these (a log setting, say), the later one, the package's, wins.
    for (int i = 0; i < fast_count; i++) {
        log_line(log_fast_option, fast_options[i]);
        options[used++].optionString = fast_options[i];
    }
    if (jop) {
        log_line(log_jop_text, jop);
        // The words point into this copy, which the VM may read until the
        // process ends.
        char* copy = track_strdup(jop);
        char* jop_words[max_words];
        int jop_count = split_args(copy, jop_words);
        for (int i = 0; i < jop_count; i++) {
            // split_args yields up to 99 words, the list holds 95 of them:
            // the surplus is logged and left out.
            if (used == option_capacity) {
                log_line(log_jop_dropped, jop_words[i]);
                continue;
            }
            log_line(log_jop_word, jop_words[i]);
            options[used++].optionString = jop_words[i];
        }
    }
    // As java names the program for jps and jcmd: the main class and the
    // words, in the room the jop words leave.
    if (used < option_capacity) options[used++].optionString = java_command(vars, count, words);
    JavaVMInitArgs args = {JNI_VERSION_1_2, used, options, JNI_TRUE};

    // The VM library finds its own dependencies in the runtime folder: it is
    // the current directory and DLL directory while the library loads.
    bool dll_directory = os_has_dll_directory();
    char saved[cwd_buffer];
    size_t saved_length = os_get_cwd(saved, sizeof saved);
    char* folder = parent_of_parent(vm_library);
    if (saved_length > 0 && folder) os_set_cwd(folder);
    if (folder && dll_directory) os_set_dll_directory(folder);
    void* library = os_load_library(vm_library);
    // The splash library belongs to the runtime and needs its VM library:
    // it shows the image while the VM is made.
    if (library) splash_start(vm_library);
    if (dll_directory) os_set_dll_directory(nullptr);
    if (saved_length > 0) os_set_cwd(saved);

    auto create = reinterpret_cast<jni_create_vm_fn>(os_find_symbol(library, "JNI_CreateJavaVM"));
    dump_entry = reinterpret_cast<jvm_dump_fn>(os_find_symbol(library, os_dump_export));
    if (!create) return format_new(text_error_11, vm_library);

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    jint created = create(&vm, reinterpret_cast<void**>(&env), &args);
    if (created < 0) return format_new(text_error_12, int(created), vm_library);
    vm_pointer = vm;

    jclass boot = (*env)->FindClass(env, boot_class);
    jmethodID method = boot ? (*env)->GetStaticMethodID(env, boot, boot_method, boot_signature) : nullptr;
    if (!method) return format_new(text_error_13, vm_library);

    bind_boot_natives(env, boot);
    jclass string_class = (*env)->FindClass(env, "java/lang/String");
    jobjectArray array =
        (*env)->NewObjectArray(env, boot_fixed_elements + count, string_class, (*env)->NewStringUTF(env, ""));
    char* result = nullptr;
    if (array) {
        char* flags = format_new("R%s", debug_flag ? "D" : "");
        const char* fixed[boot_fixed_elements] = {flags, module_filename, temp_folder, vars, z_offsets};
        for (int i = 0; i < boot_fixed_elements; i++) set_element(env, array, i, fixed[i]);
        for (int i = 0; i < count; i++) set_element(env, array, boot_fixed_elements + i, words[i]);

        start_thread(control_thread);
        // The program may ask for the splash as soon as it runs.
        splash_wait();
        log_line(log_vm_invoke);
        result = returned_text(env, (*env)->CallStaticObjectMethod(env, boot, method, array));
        log_line(log_vm_returned);
        // The application has started: later launches' words may reach it.
        if (!result && !(*env)->ExceptionOccurred(env)) instance_vm_ready();
        if (!result && handed_main && !(*env)->ExceptionOccurred(env)) result = call_handed_main(env, boot);
    }
    // Also reached when the array could not be made: its exception is pending.
    if ((*env)->ExceptionOccurred(env)) {
        (*env)->ExceptionDescribe(env);
        result = format_new(text_error_14, vm_library);
    }
    if (!result) {
        log_line(log_vm_wait_start);
        (*vm)->DestroyJavaVM(vm);
        instance_vm_ended();
        log_line(log_vm_wait_end);
        finish_vm_cache();
    }
    vm_pointer = nullptr;
    return result;
}
