#include "launcher/entry.h"

#include "support/log.h"
#include "support/messages.h"

#include <cstdlib>

// Temporary stand-in until the launch driver is built: it logs the words it
// was given and ends the run with exit code 0.
void launcher_main(int count, char** words)
{
    for (int i = 0; i < count; i++) log_line(log_arg, i, words[i]);
    exit(0);
}
