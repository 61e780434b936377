// The POSIX executable's entry: argv[1..] are already the words.
#include "launcher/entry.h"

namespace {

// The start-up initialisers run before the entry.
const bool initialised = (launcher_startup(), true);

}  // namespace

int main(int argc, char** argv)
{
    return launcher_entry_words(argc - 1, argv + 1);
}
