#pragma once
// Dynamic libraries and functions looked up by name, for the system-information services whose
// Windows functions some supported versions lack.
#include <string>

#include "vantor/core/exception.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

namespace vantor {

// Holds one loaded module (none at first) and frees it when destroyed. One thread at a time.
class dynamic_library {
public:
    dynamic_library() = default;

    // Loads the library by its UTF-8 name (LoadLibraryExW) in place of the one held. On failure
    // logs "error loading %1%: %2%='%3%'" on "LoadLibrary" (name, error code, system text) and
    // raises internal error 262.
    dynamic_library& load(const std::string& name);
    // Frees the held module, if any.
    void free() noexcept { module_.reset(); }

    HMODULE get() const noexcept { return module_.get(); }
    bool loaded() const noexcept { return module_.valid(); }

private:
    win_module module_;
};

// The address of `name` in `module`, stored in `out` as its type. A missing function raises
// internal error 51 and leaves `out` unchanged.
void* bind_proc_address(HMODULE module, const char* name);

template <typename Function>
void bind_proc(HMODULE module, const char* name, Function& out)
{
    out = reinterpret_cast<Function>(bind_proc_address(module, name));
}

}  // namespace vantor
