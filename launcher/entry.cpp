#include "launcher/entry.h"

#include "launcher/exit.h"
#include "launcher/removal.h"
#include "launcher/sweep.h"
#include "os/os.h"
#include "support/console.h"
#include "support/log.h"
#include "support/switches.h"
#include "support/track.h"
#include "vmhost/vmcache.h"

#include <cstdlib>
#include <cstring>

namespace {

const size_t jvm_path_size = 4096;

}  // namespace

void launcher_startup()
{
    os_exit_lock_create();
    log_start_stamp();
    track_on_out_of_memory(out_of_memory_exit);
    // Before launch preparation puts the temp folder and the executable's
    // folder first on it.
    os_keep_start_path();
    // A reader that has gone (`app | head -0`) must not end the launch
    // before it reports its own result and removes its temp folder.
    os_ignore_broken_pipe();
}

int launcher_entry(void*, void*, char* command_text, int)
{
    console_binary_mode();
    char* text = track_strdup(command_text ? command_text : "");
    // Lives until the process ends: the application's words point into it.
    auto** words = static_cast<char**>(track_alloc(max_words * sizeof(char*)));
    int count = split_args(text, words);
    launcher_start(count, words);
    return 0;
}

int launcher_entry_words(int count, char** argv)
{
    console_binary_mode();
    auto** words = static_cast<char**>(track_alloc(int32_t((count + 1) * sizeof(char*))));
    for (int i = 0; i < count; i++) words[i] = track_strdup(argv[i]);
    launcher_start(count, words);
    return 0;
}

int parse_switch(int remaining, char** words)
{
    const char* word = words[0];
    if (strcmp(word, "-deltree*") == 0) {
        if (remaining == 3) {
            delete_tree(words[1], words[2]);
            sweep_after_removal(words[1], words[2]);
        }
        exit(0);
    }
    if (strcmp(word, "-vmcache*") == 0) {
        run_vm_cache_builder(remaining - 1, words + 1);
        exit(0);
    }
    if (strncmp(word, "-jvm:", 5) == 0) {
        jvm_override = track_strdup(word + 5);
        return 1;
    }
    if (word[0] != '-' || word[1] == 0 || word[2] != '*') return 0;
    char letter = word[1];
    switch (letter) {
    case 'D': debug_flag = true; break;
    case 'E': merge_stderr_flag = true; break;
    case 'H': max_heap = track_strdup("1024"); break;
    case 'Q': quiet_flag = true; break;
    case 'W': no_relay_flag = true; break;
    default:
        if (letter >= '1' && letter <= '9') max_heap = format_new("%d", (letter - '0') * 128);
        break;
    }
    return 1;
}

int consume_switches(int count, char** words)
{
    int consumed = 0;
    while (consumed < count && parse_switch(count - consumed, words + consumed) == 1) consumed++;
    return consumed;
}

void launcher_start(int count, char** words)
{
    int consumed = consume_switches(count, words);
    count -= consumed;
    words += consumed;
    // A relative -jvm: names a file below the directory the user started
    // in: resolved before the launch changes directory.
    if (jvm_override && *jvm_override) {
        char full[jvm_path_size];
        if (os_full_path(jvm_override, full, sizeof full) > 0) jvm_override = track_strdup(full);
    }
    launcher_main(count, words);
}
