#pragma once
// The owner of one open registry key, in the same family as the handle owners of win_handle.h.
// The predefined root keys (HKEY_LOCAL_MACHINE and the others) are never held by it.
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

namespace vantor {

struct registry_key_policy {
    using value_type = HKEY;
    static value_type empty() noexcept { return nullptr; }
    static bool is_empty(value_type v) noexcept { return v == nullptr; }
    // RegCloseKey answers an error code; the owner family expects a BOOL.
    static BOOL close(value_type v) noexcept { return RegCloseKey(v) == ERROR_SUCCESS ? TRUE : FALSE; }
};

// A registry key (null when none); closing it is RegCloseKey.
using win_hkey = unique_win_object<registry_key_policy>;

}  // namespace vantor
