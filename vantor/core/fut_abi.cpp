#include "vantor/core/fut_abi.h"

#include "vantor/core/log.h"

namespace vantor::fut_abi_detail {
namespace {

const log_context fut_abi_log{"fut_abi"};

}  // namespace

void log_failure(const char* operation, const char* text) noexcept
{
    try {
        fut_abi_log.log(VANTOR_FMT("%1% failed: %2%"), operation, text);
    } catch (...) {
        // The log itself failed (out of memory); a boundary operation must still return.
    }
}

const char* empty_text() noexcept
{
    return "";
}

}  // namespace vantor::fut_abi_detail
