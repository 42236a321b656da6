#include "vantor/services/files_access.h"

#include <limits>

#include "vantor/core/host_hooks.h"

namespace vantor {

std::optional<std::int32_t> notify_file_access(std::string_view path, file_access operation)
{
    const file_access_hook_record* hook = host().file_access_hook;
    if (hook == nullptr || hook->notify == nullptr ||
        path.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return hook->notify(path.data(), static_cast<std::int32_t>(path.size()),
                        static_cast<std::int32_t>(operation));
}

}  // namespace vantor
