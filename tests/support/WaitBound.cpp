#include "tests/support/WaitBound.h"

#include <algorithm>
#include <atomic>

namespace ks::test {

namespace {
std::atomic<bool> g_stalled{false};
}

DWORD WaitBound(DWORD full) {
    return g_stalled.load() ? std::min(full, kWaitAfterStall) : full;
}

void NoteStall() {
    g_stalled = true;
}

DWORD BoundedWait(HANDLE object, DWORD full) {
    const DWORD result = WaitForSingleObject(object, WaitBound(full));
    if (result == WAIT_TIMEOUT)
        NoteStall();
    return result;
}

}  // namespace ks::test
