// The Windows executable's entry: the C runtime start-up hands WinMain the
// command text after the program name.
#include "launcher/entry.h"

#include <windows.h>

namespace {

// The start-up initialisers run before the entry.
const bool initialised = (launcher_startup(), true);

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_text, int show)
{
    return launcher_entry(instance, previous, command_text, show);
}
