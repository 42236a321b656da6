#include "vantor/core/sysinfo_library.h"

#include "vantor/core/log.h"
#include "vantor/core/text_convert.h"

namespace vantor {
namespace {

constexpr log_context library_log{"LoadLibrary"};

}  // namespace

dynamic_library& dynamic_library::load(const std::string& name)
{
    HMODULE module = LoadLibraryExW(to_wide(encoding_utf8, name).c_str(), nullptr, 0);
    if (module == nullptr) {
        DWORD code = GetLastError();
        library_log.log(VANTOR_FMT("error loading %1%: %2%='%3%'"), name, static_cast<unsigned long>(code),
                        last_error_message(code));
        throw internal_error(262);
    }
    module_.reset(module);
    return *this;
}

void* bind_proc_address(HMODULE module, const char* name)
{
    FARPROC address = module != nullptr ? GetProcAddress(module, name) : nullptr;
    if (address == nullptr) {
        throw internal_error(51);
    }
    return reinterpret_cast<void*>(address);
}

}  // namespace vantor
