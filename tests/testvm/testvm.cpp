// A Java VM library of our own for the Wine suite: it exports what a
// runtime's jvm.dll exports, implements the part of the invocation interface
// and of the JNI function table that the launcher calls, records what it
// received and acts as its options tell it. Options (from the package's jop):
//   -Dtestvm.record=PATH   append the record to PATH ("key=value" lines)
//   -Dtestvm.create=N      JNI_CreateJavaVM returns N (a negative code)
//   -Dtestvm.boot=ACTION   what the boot call does: null (the default),
//                          text:TEXT (returns TEXT), throw, exit:N (calls the
//                          exit hook), abort (calls the abort hook), noclass
//                          (no boot class), nomethod (no boot method)
//   -Dtestvm.say=TEXT      the boot call writes TEXT and a newline to stdout
//   -Dtestvm.thread=MS     the boot call starts a non-daemon thread that
//                          lives MS milliseconds; DestroyJavaVM waits for it
// The boot call then calls the natives the launcher bound, as the standard
// boot class does: launcherCalls, then handMain with a main class, its
// method and the words; the launcher calls that main after the boot call.
// Any other class is found, with a static void method of a String array by
// any name, whose calls are recorded as static.called and static.word.
// Strings made with NewString (UTF-16) are recorded as UTF-8.
#include "vmhost/jni.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>

namespace {

// Every object the launcher sees is one of these; none is ever freed.
struct vm_object {
    std::string text;                // a string's bytes, a class's name
    std::vector<vm_object*> items;   // an array's elements
};

jobject as_handle(vm_object* object)
{
    return reinterpret_cast<jobject>(object);
}

vm_object* as_object(jobject handle)
{
    return reinterpret_cast<vm_object*>(handle);
}

// What DllMain saw: the library's own path, the current directory and the
// loading thread.
char load_path[MAX_PATH];
char load_cwd[MAX_PATH];
DWORD load_thread;

std::string record_path;
std::string boot_action = "null";
std::string say_text;
int thread_ms = 0;
// -Dtestvm.dumpcrt=DLL: the dump is written through that C runtime's own
// descriptor 1, as a real VM built with another runtime than ours writes it.
int(__cdecl* dump_write)(int, const void*, unsigned) = nullptr;
void(JNICALL* exit_hook)(jint) = nullptr;
void(JNICALL* abort_hook)() = nullptr;
HANDLE live_thread;
vm_object* pending_exception;
vm_object boot_class{"glimvaneboot", {}};
vm_object string_class{"java/lang/String", {}};
int boot_method;  // its address is the method id
vm_object main_class{"Main", {}};
vm_object main_method{"Main.main", {}};
int main_method_id;
// What RegisterNatives bound, by name.
jboolean(JNICALL* bound_launcher_calls)(JNIEnv*, jclass) = nullptr;
void(JNICALL* bound_hand_main)(JNIEnv*, jclass, jclass, jobject, jobjectArray) = nullptr;

void record(const char* format, ...)
{
    if (record_path.empty()) return;
    FILE* file = fopen(record_path.c_str(), "ab");
    if (!file) return;
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}

// The value of "-Dtestvm.NAME=" in `option`, or null.
const char* testvm_value(const char* option, const char* name)
{
    std::string prefix = std::string("-Dtestvm.") + name + "=";
    return strncmp(option, prefix.c_str(), prefix.size()) == 0 ? option + prefix.size() : nullptr;
}

DWORD WINAPI non_daemon_thread(void*)
{
    Sleep(DWORD(thread_ms));
    record("thread.end");
    return 0;
}

// ---- the invocation interface ---------------------------------------------

JNIEnv env_instance;

jint JNICALL destroy_vm(JavaVM*)
{
    record("destroy.thread=%lu", GetCurrentThreadId());
    if (live_thread) WaitForSingleObject(live_thread, INFINITE);
    record("destroy.end");
    return 0;
}

jint JNICALL attach_thread(JavaVM*, void** env, void* args)
{
    auto* attach = static_cast<JavaVMAttachArgs*>(args);
    record("attach.version=0x%x", unsigned(attach ? attach->version : 0));
    record("attach.name=%s", attach && attach->name ? attach->name : "(null)");
    *env = &env_instance;
    return 0;
}

jint JNICALL detach_thread(JavaVM*)
{
    record("detach");
    return 0;
}

jint JNICALL get_env(JavaVM*, void** env, jint)
{
    *env = &env_instance;
    return 0;
}

JNIInvokeInterface_ make_invoke_table()
{
    JNIInvokeInterface_ table = {};
    table.DestroyJavaVM = destroy_vm;
    table.AttachCurrentThread = attach_thread;
    table.DetachCurrentThread = detach_thread;
    table.GetEnv = get_env;
    table.AttachCurrentThreadAsDaemon = attach_thread;
    return table;
}

const JNIInvokeInterface_ invoke_table = make_invoke_table();
JavaVM vm_instance = &invoke_table;

// ---- the JNI functions ------------------------------------------------------

jint JNICALL get_version(JNIEnv*)
{
    return JNI_VERSION_1_2;
}

jclass JNICALL find_class(JNIEnv*, const char* name)
{
    record("find.class=%s", name);
    if (strcmp(name, "glimvaneboot") == 0) return boot_action == "noclass" ? nullptr : as_handle(&boot_class);
    if (strcmp(name, "java/lang/String") == 0) return as_handle(&string_class);
    // Any other class exists, with every static void method of a String
    // array: what a single instance's method is called on.
    return as_handle(new vm_object{name, {}});
}

jthrowable JNICALL exception_occurred(JNIEnv*)
{
    return as_handle(pending_exception);
}

void JNICALL exception_describe(JNIEnv*)
{
    if (pending_exception) fprintf(stderr, "Exception in thread \"main\" %s\n", pending_exception->text.c_str());
    record("exception.described");
}

void JNICALL exception_clear(JNIEnv*)
{
    pending_exception = nullptr;
}

void JNICALL delete_local_ref(JNIEnv*, jobject) {}

jmethodID JNICALL get_static_method(JNIEnv*, jclass cls, const char* name, const char* signature)
{
    record("method=%s %s %s", as_object(cls)->text.c_str(), name, signature);
    if (cls != as_handle(&boot_class) && strcmp(signature, "([Ljava/lang/String;)V") == 0)
        return reinterpret_cast<jmethodID>(new vm_object{as_object(cls)->text + "." + name, {}});
    if (boot_action == "nomethod" || cls != as_handle(&boot_class) || strcmp(name, "boot") != 0 ||
        strcmp(signature, "([Ljava/lang/String;)Ljava/lang/String;") != 0)
        return nullptr;
    return reinterpret_cast<jmethodID>(&boot_method);
}

jmethodID JNICALL from_reflected_method(JNIEnv*, jobject method)
{
    record("from.reflected=%s", as_object(method)->text.c_str());
    return method == as_handle(&main_method) ? reinterpret_cast<jmethodID>(&main_method_id) : nullptr;
}

void JNICALL call_static_void(JNIEnv*, jclass cls, jmethodID method, ...)
{
    va_list args;
    va_start(args, method);
    vm_object* words = as_object(va_arg(args, jobject));
    va_end(args);
    if (method != reinterpret_cast<jmethodID>(&main_method_id)) {
        record("static.called=%s %d", reinterpret_cast<vm_object*>(method)->text.c_str(), int(words->items.size()));
        for (vm_object* word : words->items) record("static.word=%s", word ? word->text.c_str() : "(null)");
        return;
    }
    record("main.called=%s %d %d", as_object(cls)->text.c_str(),
           int(method == reinterpret_cast<jmethodID>(&main_method_id)), int(words->items.size()));
    record("main.thread=%lu", GetCurrentThreadId());
}

jint JNICALL register_natives(JNIEnv*, jclass cls, const JNINativeMethod* methods, jint count)
{
    for (jint i = 0; i < count; i++) {
        record("native=%s %s %s", as_object(cls)->text.c_str(), methods[i].name, methods[i].signature);
        if (strcmp(methods[i].name, "launcherCalls") == 0)
            bound_launcher_calls = reinterpret_cast<decltype(bound_launcher_calls)>(methods[i].fnPtr);
        if (strcmp(methods[i].name, "handMain") == 0)
            bound_hand_main = reinterpret_cast<decltype(bound_hand_main)>(methods[i].fnPtr);
    }
    return 0;
}

jstring JNICALL new_string(JNIEnv*, const char* bytes)
{
    return as_handle(new vm_object{bytes, {}});
}

jstring JNICALL new_wide_string(JNIEnv*, const jchar* units, jsize length)
{
    std::string bytes(size_t(WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(units), length,
                                                 nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(units), length, &bytes[0], int(bytes.size()),
                        nullptr, nullptr);
    record("new.string.utf16=%s", bytes.c_str());
    return as_handle(new vm_object{bytes, {}});
}

jobject JNICALL new_global_ref(JNIEnv*, jobject object)
{
    return object;
}

jobject JNICALL call_static_object(JNIEnv*, jclass, jmethodID method, ...)
{
    va_list args;
    va_start(args, method);
    vm_object* array = as_object(va_arg(args, jobject));
    va_end(args);
    record("boot.thread=%lu", GetCurrentThreadId());
    record("boot.count=%d", int(array->items.size()));
    for (size_t i = 0; i < array->items.size(); i++)
        record("boot[%d]=%s", int(i), array->items[i] ? array->items[i]->text.c_str() : "(null)");
    if (!say_text.empty()) {
        printf("%s\n", say_text.c_str());
        fflush(stdout);
    }
    if (thread_ms > 0) live_thread = CreateThread(nullptr, 0, non_daemon_thread, nullptr, 0, nullptr);
    JNIEnv* env = &env_instance;
    if (bound_launcher_calls) record("natives.launcherCalls=%d", int(bound_launcher_calls(env, as_handle(&boot_class))));
    if (bound_hand_main) {
        bound_hand_main(env, as_handle(&boot_class), as_handle(&main_class), as_handle(&main_method), as_handle(array));
        record("natives.handMain.returned");
    }
    if (boot_action.rfind("text:", 0) == 0) return as_handle(new vm_object{boot_action.substr(5), {}});
    if (boot_action == "throw") pending_exception = new vm_object{"java.lang.IllegalStateException: testvm", {}};
    if (boot_action.rfind("exit:", 0) == 0 && exit_hook) exit_hook(atoi(boot_action.c_str() + 5));
    if (boot_action == "abort" && abort_hook) abort_hook();
    return nullptr;
}

const char* JNICALL get_string_chars(JNIEnv*, jstring text, jboolean* is_copy)
{
    if (is_copy) *is_copy = JNI_FALSE;
    return as_object(text)->text.c_str();
}

void JNICALL release_string_chars(JNIEnv*, jstring, const char* bytes)
{
    record("released=%s", bytes);
}

jobjectArray JNICALL new_object_array(JNIEnv*, jsize length, jclass element_class, jobject initial)
{
    record("array.class=%s", element_class ? as_object(element_class)->text.c_str() : "(null)");
    return as_handle(new vm_object{"", std::vector<vm_object*>(size_t(length), as_object(initial))});
}

void JNICALL set_array_element(JNIEnv*, jobjectArray array, jsize index, jobject value)
{
    vm_object* target = as_object(array);
    if (index >= 0 && size_t(index) < target->items.size()) target->items[size_t(index)] = as_object(value);
}

JNINativeInterface_ make_function_table()
{
    JNINativeInterface_ table = {};
    table.GetVersion = get_version;
    table.FindClass = find_class;
    table.FromReflectedMethod = from_reflected_method;
    table.ExceptionOccurred = exception_occurred;
    table.ExceptionDescribe = exception_describe;
    table.ExceptionClear = exception_clear;
    table.DeleteLocalRef = delete_local_ref;
    table.GetStaticMethodID = get_static_method;
    table.CallStaticObjectMethod = call_static_object;
    table.CallStaticVoidMethod = call_static_void;
    table.RegisterNatives = register_natives;
    table.NewStringUTF = new_string;
    table.NewString = new_wide_string;
    table.NewGlobalRef = new_global_ref;
    table.GetStringUTFChars = get_string_chars;
    table.ReleaseStringUTFChars = release_string_chars;
    table.NewObjectArray = new_object_array;
    table.SetObjectArrayElement = set_array_element;
    return table;
}

const JNINativeInterface_ function_table = make_function_table();

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        GetModuleFileNameA(instance, load_path, sizeof load_path);
        GetCurrentDirectoryA(sizeof load_cwd, load_cwd);
        load_thread = GetCurrentThreadId();
        env_instance = &function_table;
    }
    return TRUE;
}

extern "C" __declspec(dllexport) jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* init)
{
    auto* args = static_cast<JavaVMInitArgs*>(init);
    jint result = 0;
    for (int i = 0; i < args->nOptions; i++) {
        const char* option = args->options[i].optionString;
        if (const char* v = testvm_value(option, "record")) record_path = v;
        if (const char* v = testvm_value(option, "create")) result = atoi(v);
        if (const char* v = testvm_value(option, "boot")) boot_action = v;
        if (const char* v = testvm_value(option, "say")) say_text = v;
        if (const char* v = testvm_value(option, "thread")) thread_ms = atoi(v);
        if (const char* v = testvm_value(option, "dumpcrt")) {
            // Loaded with the VM, it takes its descriptors from the standard
            // handles of this moment.
            if (HMODULE crt = LoadLibraryA(v))
                dump_write = reinterpret_cast<int(__cdecl*)(int, const void*, unsigned)>(
                    reinterpret_cast<void*>(GetProcAddress(crt, "_write")));
        }
        if (strcmp(option, "exit") == 0) exit_hook = reinterpret_cast<void(JNICALL*)(jint)>(args->options[i].extraInfo);
        if (strcmp(option, "abort") == 0) abort_hook = reinterpret_cast<void(JNICALL*)()>(args->options[i].extraInfo);
    }
    record("library=%s", load_path);
    if (dump_write) record("dumpcrt=loaded");
    record("load.cwd=%s", load_cwd);
    record("load.thread=%lu", load_thread);
    record("create.thread=%lu", GetCurrentThreadId());
    record("version=0x%x", unsigned(args->version));
    record("nOptions=%d", int(args->nOptions));
    record("ignoreUnrecognized=%d", int(args->ignoreUnrecognized));
    for (int i = 0; i < args->nOptions; i++)
        record("option[%d]=%s%s", i, args->options[i].optionString, args->options[i].extraInfo ? " +extraInfo" : "");
    if (result < 0) return result;
    *vm = &vm_instance;
    *env = &env_instance;
    return 0;
}

extern "C" __declspec(dllexport) void JNICALL JVM_DumpAllStacks(JNIEnv*, jclass)
{
    record("dump.thread=%lu", GetCurrentThreadId());
    char text[100];
    int length = snprintf(text, sizeof text, "Full thread dump testvm\n\n\"main\" prio=5 tid=%lu\n", load_thread);
    if (dump_write) {
        dump_write(1, text, unsigned(length));
        return;
    }
    fputs(text, stdout);
    fflush(stdout);
}
