#include "vmhost/splash.h"

#include "os/os.h"
#include "support/log.h"
#include "support/messages.h"
#include "support/track.h"
#include "vmhost/vmhost.h"

#include <atomic>

namespace {

// Decoding an image and opening the display take milliseconds; a splash
// that takes longer than this is not waited for.
const int splash_wait_ms = 5000;
const int wait_step_ms = 1;

// The exports of the runtime's splash library that show an image file.
using splash_init_fn = void (*)();
using splash_load_file_fn = int (*)(const char* file);
using splash_set_names_fn = void (*)(const char* file, const char* jar);

const char* requested_image;
char* library_path;
void* library;
std::atomic<bool> busy{false};

// Loaded so that the VM's own toolkit, which looks the splash's exports up
// in the process, finds this very splash and closes it with the first
// window.
void load_library()
{
    library = os_load_library_global(library_path);
}

void show_splash()
{
    if (!os_has_dll_directory()) load_library();
    auto init = reinterpret_cast<splash_init_fn>(os_find_symbol(library, "SplashInit"));
    auto load = reinterpret_cast<splash_load_file_fn>(os_find_symbol(library, "SplashLoadFile"));
    auto set_names = reinterpret_cast<splash_set_names_fn>(os_find_symbol(library, "SplashSetFileJarName"));
    if (!init || !load || !set_names) {
        log_line(log_splash_none, library_path, library ? text_splash_no_exports : text_splash_no_library);
    } else {
        init();
        // The name SplashScreen.getImageURL reports.
        set_names(requested_image, nullptr);
        if (load(requested_image))
            log_line(log_splash_shown, requested_image);
        else
            log_line(log_splash_failed, requested_image);
    }
    busy = false;
}

}  // namespace

void splash_request(const char* image)
{
    requested_image = image;
}

void splash_start(const char* vm_library)
{
    if (!requested_image) return;
    char* folder = parent_of_parent(vm_library);
    if (!folder) {
        log_line(log_splash_none, vm_library, text_splash_no_library);
        return;
    }
    library_path = format_new("%s%c%s", folder, os_path_sep, os_splash_library);
    track_free(folder, 1191);
    // The DLL directory, which finds the library's own dependencies in the
    // runtime folder, is the whole process's and is set only now: there the
    // library loads at once, elsewhere on the splash's thread.
    if (os_has_dll_directory()) load_library();
    busy = true;
    if (!start_thread(show_splash)) busy = false;
}

void splash_wait()
{
    for (int waited = 0; busy && waited < splash_wait_ms; waited += wait_step_ms) os_sleep_ms(wait_step_ms);
}
