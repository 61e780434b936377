// Hosts the VM as the launcher does, with the VM class cache planned in a
// folder of the caller's, so that the cache can be tried on jars at stable
// paths without a package:
//   vmcache_host VM_LIBRARY CACHE_FOLDER CLASS_PATH TEMP_FOLDER [-D] [WORD...]
// The words go to the boot class; $JOP holds the package's VM options.
// The class cache's builder is this program again:
//   vmcache_host [-D*] -vmcache* HOME LIST ARCHIVE CLASS_PATH HEAP JOP
#include "support/log.h"
#include "support/paths.h"
#include "support/switches.h"
#include "vmhost/vmcache.h"
#include "vmhost/vmhost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

char heap[] = "256";

void exit_now(int32_t status)
{
    fflush(stdout);
    exit(status);
}

void abort_now()
{
    abort();
}

}  // namespace

int main(int argc, char** argv)
{
    int builder = argc > 1 && strcmp(argv[1], "-D*") == 0 ? 2 : 1;
    if (argc > builder && strcmp(argv[builder], "-vmcache*") == 0) {
        debug_flag = builder == 2;
        run_vm_cache_builder(argc - builder - 1, argv + builder + 1);
        return 0;
    }
    if (argc < 5) {
        fprintf(stderr, "usage: vmcache_host VM_LIBRARY CACHE_FOLDER CLASS_PATH TEMP_FOLDER [-D] [WORD...]\n");
        return 2;
    }
    log_start_stamp();
    int first_word = 5;
    if (argc > 5 && strcmp(argv[5], "-D") == 0) {
        debug_flag = true;
        first_word++;
    }
    snprintf(temp_folder, temp_folder_size, "%s", argv[4]);
    snprintf(run_id, run_id_size, "GVT%X", unsigned(getpid()));
    ssize_t self = readlink("/proc/self/exe", module_filename, module_filename_size - 1);
    module_filename[self > 0 ? self : 0] = 0;
    max_heap = heap;
    const char* jop = getenv("JOP");
    vm_cache_options cache{};
    plan_vm_cache(argv[2], argv[1], argv[3], max_heap, jop, &cache);
    char* error = run_java(argv[1], argv[3], "", argc - first_word, argv + first_word, cache.words, cache.count,
                           jop, "", "", {exit_now, abort_now});
    if (error) {
        fprintf(stderr, "%s\n", error);
        return 1;
    }
    return 0;
}
