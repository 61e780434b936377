#include "support/process.h"

#include "os/os.h"
#include "support/track.h"
#include "support/words.h"

intptr_t run_command(char* command_line, bool detached)
{
    // Windows starts the text as it is; POSIX needs it as words, split the
    // way the child's own entry would split it.
    char* copy = track_strdup(command_line);
    char* words[max_words];
    split_args(copy, words);
    intptr_t process = os_start_process(command_line, words, detached);
    track_free(copy, 387);
    return process;
}
