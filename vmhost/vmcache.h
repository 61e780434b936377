// The VM's own class cache in fast start: a class-data archive kept in the
// package's cache folder. A launch never makes it itself: the first launch
// only records the classes it loads, and a detached, low-priority builder
// (a copy of the launcher started at exit, like the removal child) has the
// runtime dump the archive from that list, off the user's path. The
// launches after it map the archive.
#pragma once

#include <cstddef>

// What the runtime can use: nothing (before 13), or a static archive dumped
// from a class list (13 and later).
enum vm_cache_kind { VM_CACHE_NONE, VM_CACHE_STATIC };

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
// use the archive and, on some launches, record the classes loaded. An
// archive changed since it was made is removed first. `class_path`,
// `max_heap_mb` and `jop` are what the builder dumps the archive for. A
// package whose own VM options (`jop`, may be null) set class sharing gets
// no cache: the two would clash, and the VM would not start.
void plan_vm_cache(const char* cache_folder, const char* vm_library, const char* class_path,
                   const char* max_heap_mb, const char* jop, vm_cache_options* out);

// Runs once the VM has ended (DestroyJavaVM returned, or System.exit
// reached the exit hook): judges an archive the run used, and hands a
// class list the run recorded to the builder. Does nothing without a plan
// or the second time.
void finish_vm_cache();
// The VM is aborting: an archive it mapped is removed, so that the next
// launch runs without it.
void drop_vm_cache();

// One job of the builder: dump `archive` for the runtime in `home` from the
// classes of `class_list` (null: the runtime's own default list alone, a
// base archive) and of the runtime's default list, for `class_path` (null:
// none) and the VM options `jop` (null: none). The archive and its stamp
// are put in place whole; on failure nothing is, and `archive`.failed
// holds the launches back from recording again for a day.
struct vm_cache_job {
    const char* home;
    const char* class_list;
    const char* archive;
    const char* class_path;
    const char* max_heap_mb;
    const char* jop;
};
// Starts the builder for `job`, detached, as the removal child is started;
// false when it did not start.
bool start_vm_cache_builder(const vm_cache_job& job);
// The builder itself (the "-vmcache*" mode): `words` are the job's six
// texts in the order of vm_cache_job, "" for null. At low priority; at
// most one builder works on an archive, the others end at once. Returns
// when the job is done.
void run_vm_cache_builder(int count, char** words);
