#include "vantor/core/abi_forms.h"

namespace vantor_abi {
namespace {

using pair_vector = std::vector<std::pair<std::string, std::string>>;

const char* __cdecl string_data(const void* h) { return static_cast<const std::string*>(h)->data(); }
std::size_t __cdecl string_size(const void* h) { return static_cast<const std::string*>(h)->size(); }
const str_view_ops string_view_ops{0, &string_data, &string_size};

// The receivers are called by the host, so nothing may escape them.
void __cdecl string_assign(void* h, const char* data, std::size_t length)
{
    try {
        static_cast<std::string*>(h)->assign(data, length);
    } catch (...) {
    }
}
void __cdecl string_append(void* h, const char* data, std::size_t length)
{
    try {
        static_cast<std::string*>(h)->append(data, length);
    } catch (...) {
    }
}
void __cdecl string_clear(void* h) { static_cast<std::string*>(h)->clear(); }
const str_out_ops string_out_ops{0, &string_assign, &string_append, &string_clear};

bool __cdecl flag_get(const void* h) { return *static_cast<const bool*>(h); }
const bool_view_ops flag_view_ops{0, &flag_get};

void __cdecl flag_set(void* h, std::int32_t value) { *static_cast<bool*>(h) = value != 0; }
const bool_out_ops flag_out_ops{0, &flag_set};

const std::pair<std::string, std::string>& pair_at(const void* h, std::size_t index)
{
    const auto* record = static_cast<const str_pair_list_record*>(h);
    const auto* base = static_cast<const std::uint8_t*>(record->first);
    return *reinterpret_cast<const std::pair<std::string, std::string>*>(base + index * *record->stride);
}
str_pair __cdecl list_item(const void* h, std::size_t index)
{
    const auto& p = pair_at(h, index);
    return {str_view::of(p.first), str_view::of(p.second)};
}
std::size_t __cdecl list_size(const void* h) { return static_cast<const str_pair_list_record*>(h)->count; }
const str_pair_list_ops pair_list_ops{0, &list_item, &list_size};

const std::size_t pair_stride = sizeof(std::pair<std::string, std::string>);

}  // namespace

str_view str_view::of(const std::string& s) { return {&string_view_ops, &s}; }

std::string str_view::to_string() const
{
    if (!ops) return {};
    const std::size_t n = ops->size(handle);
    if (n == 0) return {};
    return std::string(ops->data(handle), n);
}

str_out str_out::into(std::string& s) { return {&string_out_ops, &s}; }
bool_view bool_view::of(const bool& b) { return {&flag_view_ops, &b}; }
bool_out bool_out::into(bool& b) { return {&flag_out_ops, &b}; }

str_pair_list str_pair_list::of(const pair_vector& pairs, str_pair_list_record& record)
{
    record = {&pair_stride, pairs.data(), pairs.size()};
    return {&pair_list_ops, &record};
}

}  // namespace vantor_abi
