#include "vantor/core/wmi_props.h"

#include "vantor/core/exception.h"

namespace vantor {

void wmi_props_collector::resize(std::size_t property_count)
{
    texts_.clear();
    values_.clear();
    texts_.resize(property_count);
    values_.resize(property_count);
}

void wmi_props_collector::add(std::size_t index, const std::string& value)
{
    if (index >= texts_.size()) {
        throw internal_error(__LINE__);
    }
    if (value.empty()) {
        return;
    }
    // Compared value by value: a value that only occurs inside a longer one listed before is
    // still a value of its own.
    for (const std::string& seen : values_[index]) {
        if (seen == value) {
            return;
        }
    }
    values_[index].push_back(value);
    std::string& text = texts_[index];
    if (!text.empty()) {
        text += ',';
    }
    text += value;
}

}  // namespace vantor
