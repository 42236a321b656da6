#include "vantor/core/win_handle.h"

namespace vantor {

std::uint32_t wait_any_handle(const std::vector<HANDLE>& handles)
{
    HANDLE waited[MAXIMUM_WAIT_OBJECTS] = {};
    DWORD count = 0;
    for (HANDLE h : handles) {
        if (h == nullptr) {
            continue;
        }
        if (count == MAXIMUM_WAIT_OBJECTS) {
            break;
        }
        waited[count++] = h;
    }
    DWORD r = WaitForMultipleObjects(count, waited, FALSE, 10000);
    if (r == WAIT_TIMEOUT || r == WAIT_FAILED) {
        return r;
    }
    DWORD k;
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count) {
        k = r - WAIT_OBJECT_0;
    } else if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + count) {
        k = r - WAIT_ABANDONED_0;
    } else {
        return r;
    }
    // The caller's vector may hold nulls, so the system's index is translated back to a
    // position in that vector.
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (handles[i] == waited[k]) {
            return static_cast<std::uint32_t>(i);
        }
    }
    return 0;
}

}  // namespace vantor
