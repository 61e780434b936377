// Fault injection shared by both platform files: a test names a call and
// which of its next calls fail; the call then fails as the system would.
#include "os/os.h"

#include <atomic>

namespace {

struct fault {
    int skip;   // calls that still succeed before the first failure
    int times;  // failures left; -1 for ever, 0 when unset
    int error;
};

fault faults[OS_CALL_COUNT];
// Most runs never arm a fault: one flag keeps the common path to a load.
std::atomic<bool> armed{false};

}  // namespace

void os_fault_set(os_call call, int nth, int times, int error)
{
    faults[call] = fault{nth > 1 ? nth - 1 : 0, times, error};
    armed = true;
}

void os_fault_clear()
{
    for (fault& f : faults) f = fault{0, 0, 0};
    armed = false;
}

bool os_fault_hit(os_call call)
{
    if (!armed) return false;
    fault& f = faults[call];
    if (f.times == 0) return false;
    if (f.skip > 0) {
        f.skip--;
        return false;
    }
    if (f.times > 0) f.times--;
    os_set_last_error(f.error);
    return true;
}
