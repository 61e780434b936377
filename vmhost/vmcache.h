// The VM's own class caches in fast start: a class-data archive or an AOT
// cache that the runtime writes as the first launch ends and maps on the
// launches after it, kept in the package's cache folder.
#pragma once

#include <cstddef>

// What the runtime can write: nothing (before 13), a dynamic archive at exit
// (13 to 18), an archive it makes and remakes itself (19 to 24), an AOT
// cache from a training run (25 and later).
enum vm_cache_kind { VM_CACHE_NONE, VM_CACHE_DYNAMIC, VM_CACHE_AUTO, VM_CACHE_AOT };

// The feature version of a release file's JAVA_VERSION: "1.8.0_392" is 8,
// "17.0.15" is 17, "25" is 25; 0 when the text starts with no number.
int feature_version(const char* text);
vm_cache_kind vm_cache_kind_of(int feature);

// The runtime home of a VM library: the nearest folder above it, at most
// five levels up (lib/server/libjvm.so, bin\server\jvm.dll, a Java 8
// jre/lib/amd64/server layout), whose release file names a JAVA_VERSION.
// A tracked text with the version in `version`, or null when there is none.
char* runtime_home(const char* vm_library, char* version, size_t size);

const int vm_cache_max_options = 5;
struct vm_cache_options {
    int count;
    char* words[vm_cache_max_options];
};

// Chooses the cache of the runtime whose VM library is `vm_library` in
// `cache_folder`, logs the choice and fills `out` with the VM options that
// use or make it. A cache changed since it was made is removed first.
// `class_path` and `max_heap_mb` serve the step that assembles an AOT cache.
// A package whose own VM options (`jop`, may be null) set class sharing
// gets no cache: the two would clash, and the VM would not start.
void plan_vm_cache(const char* cache_folder, const char* vm_library, const char* class_path,
                   const char* max_heap_mb, const char* jop, vm_cache_options* out);

// Runs once the VM has ended (DestroyJavaVM returned, or System.exit
// reached the exit hook): puts a cache made by this run in place, or
// removes one the runtime rejected. Does nothing without a plan or the
// second time.
void finish_vm_cache();
