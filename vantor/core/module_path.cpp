#include "vantor/core/module_path.h"

#include "vantor/core/exception.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"

namespace vantor {
namespace {

// An address inside this module's own data; its allocation base is the module's handle.
const int module_anchor = 0;

}  // namespace

std::string module_path()
{
    MEMORY_BASIC_INFORMATION info{};
    HMODULE module = nullptr;
    if (VirtualQuery(&module_anchor, &info, sizeof(info)) != 0) {
        module = static_cast<HMODULE>(info.AllocationBase);
    }
    wchar_t buffer[2048];
    DWORD n = GetModuleFileNameW(module, buffer, 2048);
    if (n == 0) {
        throw internal_error(46);
    }
    return from_wide(encoding_utf8, std::wstring(buffer, n));
}

}  // namespace vantor
