#include "vantor/services/element_abi.h"

#include <exception>
#include <string>
#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/element.h"

namespace {

using tarvojson::element;
using tarvojson::element_kind;
using vantor_abi::str_view;
using vantor_abi::value;
using vantor_abi::value_list;
using vantor_abi::value_map;

constexpr vantor::log_context logger{"element"};

const element& as_element(const void* handle)
{
    return *static_cast<const element*>(handle);
}

const element* element_of_kind(const void* handle, element_kind k)
{
    if (handle == nullptr || as_element(handle).kind() != k) {
        return nullptr;
    }
    return &as_element(handle);
}

// The views over this module's strings have a null handle when there is no string.
str_view string_view_of(const std::string* s)
{
    static const std::string none;
    str_view view = str_view::of(s == nullptr ? none : *s);
    if (s == nullptr) {
        view.handle = nullptr;
    }
    return view;
}

extern const vantor_abi::value_ops own_value_ops;
extern const vantor_abi::value_list_ops own_list_ops;
extern const vantor_abi::value_map_ops own_map_ops;

std::int32_t __cdecl value_kind(const void* handle)
{
    return handle == nullptr ? -1 : static_cast<std::int32_t>(as_element(handle).kind());
}

netbuf_api::handle __cdecl value_netbuf(const void* handle)
{
    const element* e = element_of_kind(handle, element_kind::netbuf);
    return e == nullptr ? nullptr : e->netbuf_if()->get();
}

netbuf_api::handle __cdecl value_json_netbuf(const void* handle)
{
    const element* e = element_of_kind(handle, element_kind::json_netbuf);
    return e == nullptr ? nullptr : e->json_netbuf_if()->get();
}

str_view __cdecl value_string(const void* handle)
{
    const element* e = element_of_kind(handle, element_kind::string);
    return string_view_of(e == nullptr ? nullptr : e->string_if());
}

str_view __cdecl value_json_text(const void* handle)
{
    const element* e = element_of_kind(handle, element_kind::text);
    return string_view_of(e == nullptr ? nullptr : e->text_if());
}

value_list __cdecl value_array(const void* handle)
{
    return {&own_list_ops, element_of_kind(handle, element_kind::array)};
}

value_map __cdecl value_object(const void* handle)
{
    return {&own_map_ops, element_of_kind(handle, element_kind::object)};
}

const std::int64_t* __cdecl value_int64(const void* handle)
{
    const element* e = element_of_kind(handle, element_kind::int64);
    return e == nullptr ? nullptr : e->int64_if();
}

value __cdecl list_item(const void* handle, std::size_t index)
{
    const element::array_type* items = handle == nullptr ? nullptr : as_element(handle).array_if();
    if (items == nullptr || index >= items->size()) {
        return {&own_value_ops, nullptr};
    }
    return {&own_value_ops, &(*items)[index]};
}

std::size_t __cdecl list_size(const void* handle)
{
    const element::array_type* items = handle == nullptr ? nullptr : as_element(handle).array_if();
    return items == nullptr ? 0 : items->size();
}

// The member named by the view, or null (also when the name cannot be copied).
const element* find_member(const void* handle, const str_view& name) noexcept
{
    const element::object_type* members = handle == nullptr ? nullptr : as_element(handle).object_if();
    if (members == nullptr || name.ops == nullptr) {
        return nullptr;
    }
    try {
        auto it = members->find(name.to_string());
        return it == members->end() ? nullptr : &it->second;
    } catch (...) {
        return nullptr;
    }
}

bool __cdecl map_has(const void* handle, str_view name)
{
    return find_member(handle, name) != nullptr;
}

bool __cdecl map_get(const void* handle, str_view name, vantor_abi::value_receiver receiver)
{
    const element* member = find_member(handle, name);
    if (member == nullptr) {
        return false;
    }
    receiver.ops->receive(receiver.target, {&own_value_ops, member});
    return true;
}

std::size_t __cdecl map_size(const void* handle)
{
    const element::object_type* members = handle == nullptr ? nullptr : as_element(handle).object_if();
    return members == nullptr ? 0 : members->size();
}

void __cdecl map_for_each(const void* handle, vantor_abi::value_map_visit visit, void* user_data)
{
    const element::object_type* members = handle == nullptr ? nullptr : as_element(handle).object_if();
    if (members == nullptr) {
        return;
    }
    for (const auto& [name, member] : *members) {
        visit(user_data, str_view::of(name), {&own_value_ops, &member});
    }
}

const vantor_abi::value_ops own_value_ops{0,
                                          &value_kind,
                                          &value_netbuf,
                                          &value_json_netbuf,
                                          &value_string,
                                          &value_json_text,
                                          &value_array,
                                          &value_object,
                                          &value_int64};
const vantor_abi::value_list_ops own_list_ops{0, &list_item, &list_size};
const vantor_abi::value_map_ops own_map_ops{0, &map_has, &map_get, &map_size, &map_for_each};

void __cdecl receive_element(void* target, value v)
{
    try {
        tarvojson::element_from_abi_value(*static_cast<element*>(target), v);
    } catch (const vantor::exception& e) {
        logger.log(VANTOR_FMT("cannot take value: %1%"), std::string(e.what()));
    } catch (const std::exception& e) {
        logger.log(VANTOR_FMT("cannot take value: %1%"), std::string(e.what()));
    } catch (...) {
        logger.write("cannot take value");
    }
}

const vantor_abi::value_receiver_ops element_receiver_ops{0, &receive_element};

void __cdecl int32_set(void* target, std::int32_t v)
{
    *static_cast<std::int32_t*>(target) = v;
}

std::int32_t __cdecl int32_get(const void* target)
{
    return *static_cast<const std::int32_t*>(target);
}

const vantor_abi::int32_out_ops int32_out_table{0, &int32_set};
const vantor_abi::int32_view_ops int32_view_table{0, &int32_get};

// Gathers the members of a host object. The visitor runs inside the host's for_each, so no
// exception may leave it: the first one is kept and raised after the walk.
struct member_sink {
    element::object_type* members;
    std::exception_ptr failure;
};

void __cdecl take_member(void* user_data, str_view name, value v)
{
    auto& sink = *static_cast<member_sink*>(user_data);
    if (sink.failure) {
        return;
    }
    try {
        tarvojson::element_from_abi_value((*sink.members)[name.to_string()], v);
    } catch (...) {
        sink.failure = std::current_exception();
    }
}

void convert(element& target, const value& v)
{
    std::int32_t k = v.ops->kind(v.handle);
    switch (k) {
        case static_cast<std::int32_t>(element_kind::null):
            target = element();
            return;
        case static_cast<std::int32_t>(element_kind::string):
            target.as_string() = v.ops->get_string(v.handle).to_string();
            return;
        case static_cast<std::int32_t>(element_kind::text):
            target.as_text() = v.ops->get_json_text(v.handle).to_string();
            return;
        case static_cast<std::int32_t>(element_kind::array): {
            value_list list = v.ops->get_array(v.handle);
            std::size_t count = list.ops->size(list.handle);
            element::array_type& items = target.as_array();
            items.clear();
            items.resize(count);
            for (std::size_t i = 0; i < count; ++i) {
                convert(items[i], list.ops->item(list.handle, i));
            }
            return;
        }
        case static_cast<std::int32_t>(element_kind::object): {
            value_map map = v.ops->get_object(v.handle);
            member_sink sink{&target.as_object(), nullptr};
            sink.members->clear();
            map.ops->for_each(map.handle, &take_member, &sink);
            if (sink.failure) {
                std::rethrow_exception(sink.failure);
            }
            return;
        }
        case static_cast<std::int32_t>(element_kind::int64):
            target.as_int64() = *v.ops->get_int64(v.handle);
            return;
        case static_cast<std::int32_t>(element_kind::netbuf):
            target.as_netbuf().assign_handle(v.ops->get_netbuf(v.handle));
            return;
        case static_cast<std::int32_t>(element_kind::json_netbuf):
            target.as_json_netbuf().assign_handle(v.ops->get_json_netbuf(v.handle));
            return;
        default:
            throw vantor::internal_error(113);
    }
}

}  // namespace

namespace vantor_abi {

int32_out int32_out::into(std::int32_t& target)
{
    return {&int32_out_table, &target};
}

int32_view int32_view::of(const std::int32_t& target)
{
    return {&int32_view_table, &target};
}

value value_of(const tarvojson::element& e)
{
    return {&own_value_ops, &e};
}

value_receiver element_receiver(tarvojson::element& target)
{
    return {&element_receiver_ops, &target};
}

}  // namespace vantor_abi

namespace tarvojson {

void element_from_abi_value(element& target, const vantor_abi::value& v)
{
    // Built apart and moved in: the value may be a view of the target itself.
    element built;
    try {
        convert(built, v);
    } catch (...) {
        target.move_from(built);
        throw;
    }
    target.move_from(built);
}

void pass_element_to_abi(const vantor_abi::value_receiver& receiver, const element& e)
{
    receiver.ops->receive(receiver.target, vantor_abi::value_of(e));
}

}  // namespace tarvojson
