#pragma once
// The form in which an element crosses the host boundary: a pair {operations table; handle},
// each table starting with a zero word, so that each side reads the other's values through the
// tables without sharing layouts. Views of another kind than the value's have a null handle.
//
// The plug-in offers its own elements through the tables of value_of (the handle is the
// element's address) and reads the host's values through whatever table a value carries. The
// table functions never throw.
#include <cstddef>
#include <cstdint>

#include "vantor/core/abi_forms.h"
#include "vantor/core/netbuf_api.h"

namespace tarvojson {
class element;
}

namespace vantor_abi {

struct value;
struct value_list;
struct value_map;

struct value_ops {
    std::uintptr_t zero;
    // The element kind (0 to 7); -1 for a null handle.
    std::int32_t(__cdecl* kind)(const void* handle);
    // The netbuf handle of a kind-6 (get_netbuf) or kind-7 (get_json_netbuf) value, else null.
    netbuf_api::handle(__cdecl* get_netbuf)(const void* handle);
    netbuf_api::handle(__cdecl* get_json_netbuf)(const void* handle);
    str_view(__cdecl* get_string)(const void* handle);     // kind 1
    str_view(__cdecl* get_json_text)(const void* handle);  // kind 5
    value_list(__cdecl* get_array)(const void* handle);    // kind 2
    value_map(__cdecl* get_object)(const void* handle);    // kind 3
    // The integer of a kind-4 value, else null.
    const std::int64_t*(__cdecl* get_int64)(const void* handle);
};

struct value {
    const value_ops* ops;
    const void* handle;
};

struct value_list_ops {
    std::uintptr_t zero;
    // An index at or past the size gives a value with a null handle.
    value(__cdecl* item)(const void* handle, std::size_t index);
    std::size_t(__cdecl* size)(const void* handle);
};

struct value_list {
    const value_list_ops* ops;
    const void* handle;
};

// A receiver of one value, used together with its target.
struct value_receiver_ops {
    std::uintptr_t zero;
    void(__cdecl* receive)(void* target, value v);
};

struct value_receiver {
    const value_receiver_ops* ops;
    void* target;
};

using value_map_visit = void(__cdecl*)(void* user_data, str_view name, value v);

struct value_map_ops {
    std::uintptr_t zero;
    bool(__cdecl* has)(const void* handle, str_view name);
    // Hands the member's value to the receiver when the member exists.
    bool(__cdecl* get)(const void* handle, str_view name, value_receiver receiver);
    std::size_t(__cdecl* size)(const void* handle);
    // Calls `visit` for every member in name order.
    void(__cdecl* for_each)(const void* handle, value_map_visit visit, void* user_data);
};

struct value_map {
    const value_map_ops* ops;
    const void* handle;
};

// Integers that the host reads or writes: the same shape as the flag forms.
struct int32_out_ops {
    std::uintptr_t zero;
    void(__cdecl* set)(void* target, std::int32_t value);
};

// Stores the integer the host passes into its target.
struct int32_out {
    const int32_out_ops* ops;
    void* target;

    static int32_out into(std::int32_t& target);
};

struct int32_view_ops {
    std::uintptr_t zero;
    std::int32_t(__cdecl* get)(const void* target);
};

// Returns the integer its target holds.
struct int32_view {
    const int32_view_ops* ops;
    const void* target;

    static int32_view of(const std::int32_t& target);
};

// A view of one of this module's elements; the element must outlive the view and stay
// unchanged while it is read.
value value_of(const tarvojson::element& e);

// A receiver that converts the value it is given into `target` (element_from_abi_value). A
// value that cannot be converted leaves the target with what was converted and is logged.
value_receiver element_receiver(tarvojson::element& target);

}  // namespace vantor_abi

namespace tarvojson {

// Replaces `target` with a copy of the value read through its table: strings and texts are
// copied, byte blocks shared. Throws internal error 113 for a kind outside 0 to 7 (a null
// handle included).
void element_from_abi_value(element& target, const vantor_abi::value& v);

// Calls the receiver with its target and a view of `e`.
void pass_element_to_abi(const vantor_abi::value_receiver& receiver, const element& e);

}  // namespace tarvojson
