#pragma once
// The forms in which texts, flags and lists of text pairs cross the host boundary: a pair
// {operations table; handle}, every table starting with a zero word. The plug-in offers its
// std::string and bool objects through the tables below and reads the host's only through the
// tables it is given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vantor_abi {

struct str_view_ops {
    std::uintptr_t zero;
    const char*(__cdecl* data)(const void* handle);
    std::size_t(__cdecl* size)(const void* handle);
};

// A read-only text.
struct str_view {
    const str_view_ops* ops;
    const void* handle;

    // A view over a string of this module (the string must outlive the view).
    static str_view of(const std::string& s);
    // Copies the viewed text (size first, then data).
    std::string to_string() const;
};

struct str_out_ops {
    std::uintptr_t zero;
    void(__cdecl* assign)(void* handle, const char* data, std::size_t length);
    void(__cdecl* append)(void* handle, const char* data, std::size_t length);
    void(__cdecl* clear)(void* handle);
};

// A text receiver handed to the host.
struct str_out {
    const str_out_ops* ops;
    void* handle;

    // A receiver writing into a string of this module.
    static str_out into(std::string& s);
};

struct bool_view_ops {
    std::uintptr_t zero;
    bool(__cdecl* get)(const void* handle);
};

struct bool_view {
    const bool_view_ops* ops;
    const void* handle;

    static bool_view of(const bool& b);
    bool get() const { return ops->get(handle); }
};

struct bool_out_ops {
    std::uintptr_t zero;
    void(__cdecl* set)(void* handle, std::int32_t value);
};

// A flag receiver: any non-zero value means true.
struct bool_out {
    const bool_out_ops* ops;
    void* handle;

    static bool_out into(bool& b);
    void set(bool value) const { ops->set(handle, value ? 1 : 0); }
};

struct str_pair {
    str_view first;
    str_view second;
};

struct str_pair_list_ops {
    std::uintptr_t zero;
    str_pair(__cdecl* item)(const void* handle, std::size_t index);
    std::size_t(__cdecl* size)(const void* handle);
};

// The plug-in's handle of a list: {stride; first element; count} over pairs of std::string.
struct str_pair_list_record {
    const std::size_t* stride;
    const void* first;
    std::size_t count;
};

struct str_pair_list {
    const str_pair_list_ops* ops;
    const void* handle;

    // A list over a vector of string pairs; `record` must outlive the list.
    static str_pair_list of(const std::vector<std::pair<std::string, std::string>>& pairs,
                            str_pair_list_record& record);
};

}  // namespace vantor_abi
