#include "kova/protocol/debug_mask.h"

namespace kova {

std::uint32_t debug_mask = 0;

}  // namespace kova
