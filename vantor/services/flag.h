#pragma once
// Feature flags: behaviour switches of the whole module. Source files declare them as static
// records (static_item); every record is bound to the process's one flag API the first time
// the API is asked for, and code reads a record's value with one call.
//
// The flag API and its items are interfaces of the plug-in boundary: inside the host they come
// from the host, whose compiler fixes their layout. Their slots are the operations in the order
// declared here, there is no destructor slot, and only fixed-width integers and pointers cross.
// Without a host the module builds its own implementation (flag_local_api.h), whose items take
// their defaults from the compiled-in flag table and their overrides from the registry.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace flag {

class item_api;

using item_fn = void(__cdecl*)(void* context, const char* name, item_api* item);
using state_fn = void(__cdecl*)(void* context, const char* text, const char* name, item_api* item);
using source_fn = void(__cdecl*)(void* context, const char* name, const char* path, const char* language,
                                 item_api* item);
using module_fn = void(__cdecl*)(void* context, const char* name, const char* module, item_api* item);

// One flag of one module. Items live as long as the process.
class item_api {
public:
    virtual std::int32_t version() = 0;  // 3
    // Removed: on. Otherwise the override when there is one, else the default.
    virtual bool value() = 0;
    virtual bool is_default() = 0;  // no override
    // Clears the override (clear non-zero) or forces the flag on or off, and stores the new
    // state. Ignored for built-in items. The local implementation raises vantor::exception
    // when the new state cannot be stored; the item then keeps its previous state.
    virtual void set(std::uint8_t clear, std::uint8_t on) = 0;
    virtual const char* tag() = 0;
    virtual std::int32_t declarations() = 0;
    virtual bool added() = 0;
    virtual bool default_value() = 0;
    virtual bool built_in() = 0;

protected:
    item_api() = default;
    item_api(const item_api&) = default;
    item_api& operator=(const item_api&) = default;
    ~item_api() = default;
};

// The flag API of a module. Enumerations call back on a copy of the tables, outside any lock,
// so a callback may call into the API.
class init_item_api {
public:
    // The module's item for the name, or null.
    virtual item_api* find(const char* name) = 0;
    // Declares a flag with a tag (or null); strings are copied unless static_strings is set.
    virtual item_api* declare(std::uint8_t static_strings, const char* tag, const char* name,
                              std::uint8_t default_on) = 0;
    // The item for the name, made when missing; counts the declaration.
    virtual item_api* get_or_add(const char* name, std::uint8_t default_on) = 0;
    virtual item_api* add(std::uint8_t static_strings, const char* name, std::uint8_t default_on) = 0;
    virtual void for_each_active(void* context, item_fn fn) = 0;
    // Stores the item's override state under the name's key (the local implementation raises as
    // item_api::set does).
    virtual void store(const char* name, item_api* item) = 0;
    // Declares the flag removed: it reads on for good.
    virtual item_api* remove(const char* name) = 0;
    virtual void for_each_removed(void* context, item_fn fn) = 0;
    virtual void for_each_state(void* context, state_fn fn) = 0;

protected:
    init_item_api() = default;
    init_item_api(const init_item_api&) = default;
    init_item_api& operator=(const init_item_api&) = default;
    ~init_item_api() = default;
};

class init_item_api_v1 : public init_item_api {
public:
    virtual std::int32_t version() = 0;  // 2
    // A view of this API for another module; the caller keeps it.
    virtual init_item_api* create_api_module(const char* module) = 0;

protected:
    ~init_item_api_v1() = default;
};

class init_item_api_v2 : public init_item_api_v1 {
public:
    // The next declaration is filed under this (path, language) pair.
    virtual void add_source(const char* path, const char* language) = 0;
    virtual void for_each_source(void* context, source_fn fn) = 0;
    virtual void for_each_in_modules(void* context, module_fn fn) = 0;
    // Declares a built-in flag: no stored override, no development rule, set is refused.
    virtual item_api* declare_built_in(const char* tag, const char* name, std::uint8_t default_on) = 0;

protected:
    ~init_item_api_v2() = default;
};

// A statically declared flag of one source file. Records are linked onto a process-wide
// pending list when they are constructed (for records at namespace scope, during the module's
// static initialisation) and bound to the flag API by the first get_api call.
class static_item {
public:
    // `name` must be a static text: "YYYY-MM-DD KEY-N description".
    static_item(const char* name, bool default_on) noexcept;
    static_item(const static_item&) = delete;
    static_item& operator=(const static_item&) = delete;

    // The flag's current value: one virtual call once bound. A record read before binding asks
    // the API (fixing it for the process); when the API does not know the name, the record's
    // own default answers.
    bool value() const;
    bool get() const { return value(); }

    const char* name() const noexcept { return name_; }
    bool declared_default() const noexcept { return default_on_; }
    item_api* item() const noexcept { return item_.load(std::memory_order_acquire); }

private:
    friend void bind_static_items(init_item_api* api);

    const char* name_;
    bool default_on_;
    std::atomic<item_api*> item_{nullptr};
    static_item* next_ = nullptr;
};

// The flag API chosen for the process: the start-up stores the host's API here before anything
// reads a flag; when it stays null, the first get_api builds the local API.
extern init_item_api* current_api;

// The process's flag API, made and bound by the first caller (create_api); later callers wait
// for it and get the same pointer.
init_item_api* get_api();
init_item_api* create_api();
// The local API over the registry overrides, with the flag table declared and the pending
// records bound. Never freed.
init_item_api* build_local_api();
// Binds every pending record to `api` (get_or_add of its name and default), in reverse order of
// linking.
void bind_static_items(init_item_api* api);

// The key of a flag name: ASCII letters lowered, digits kept, every run of other bytes one '_'
// between words, none at either end ("2017-03-16 Abc-12 Key upgrade" gives
// "2017_03_16_abc_12_key_upgrade").
std::string make_key(std::string_view name);

// Hands the foundation core the answers of the flags it consults but cannot declare itself
// (failed thread starts, repeating timers without an id). Called once at start-up.
void install_foundation_queries();

}  // namespace flag
