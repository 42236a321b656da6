#include "vantor/core/stack_string_buffer.h"

namespace vantor {

void stack_string_buffer::push_back(char c)
{
    if (spill_ != nullptr) {
        spill_->push_back(c);
        return;
    }
    if (position_ < capacity) {
        storage_[position_++] = c;
        return;
    }
    spill_ = std::make_unique<std::string>(storage_, capacity);
    spill_->push_back(c);
}

std::string_view stack_string_buffer::view() const noexcept
{
    if (spill_ != nullptr) {
        return *spill_;
    }
    return std::string_view(storage_, position_);
}

}  // namespace vantor
