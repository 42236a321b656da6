#pragma once
// The host's side of the plug-in boundary as the foundation and the plug-ins call it: the host
// object handed to load_plugin_v4, the runtime function table it gives, and the
// named-interface registry. The host is built by another compiler: slots are fixed by their
// position, there are no virtual destructors (the slot a destructor takes in the host's
// compiler is a placeholder here), and only fixed-width or pointer arguments cross.
#include <cstdint>

#include "vantor/core/abi_forms.h"

namespace vantor_abi {

// The host's runtime function table: a block of 32-bit words in the 32-bit build (one word per
// pointer, so the 64-bit test build uses 64-bit words). Word 0 is the signed version.
struct rpt_api {
    static constexpr std::size_t word_count = 39;  // up to byte offset 152
    std::uintptr_t words[word_count];

    std::int32_t version() const { return static_cast<std::int32_t>(words[0]); }
    // The entry at a byte offset of the 32-bit layout.
    std::uintptr_t at(std::size_t byte_offset) const { return words[byte_offset / 4]; }
};

}  // namespace vantor_abi

namespace vantor {

// The named-interface registry (the host's, or the module's own). Registered pointers are not
// owned.
class api_registry {
public:
    // Null when nothing is registered under the name.
    virtual void* lookup(const char* name) = 0;
    // False when the name is taken.
    virtual bool register_interface(const char* name, void* object) = 0;
    // The host's destructor slot; never called.
    virtual void* destroy_slot(unsigned flags) = 0;

protected:
    ~api_registry() = default;
};

}  // namespace vantor

namespace plugin_abi {

// The host object. Never released by the plug-in. Slots not used by the plug-in are
// placeholders that keep the positions.
class host_ifc {
public:
    virtual std::int32_t version() = 0;                       // 0
    virtual vantor_abi::rpt_api* runtime_api() = 0;           // 1
    virtual void slot2() = 0;                                 // 2
    virtual void translate(const char* domain, const char* text, std::int32_t zero, void* sink_function,
                           void* sink_context) = 0;           // 3
    virtual void slot4() = 0;                                 // 4
    virtual void* state_root() = 0;                           // 5
    virtual void slot6() = 0;                                 // 6
    virtual void slot7() = 0;                                 // 7
    virtual void register_session_plugin(const char* type_name, void* factory, void* manifest) = 0;  // 8
    virtual void attach_callback(vantor_abi::str_view name, void* callback, std::int32_t attach) = 0;  // 9
    virtual void post(vantor_abi::str_view name, void* netbuf) = 0;                                  // 10
    virtual void register_counter(const char* name, std::int32_t* counter) = 0;                      // 11
    virtual void slot12() = 0;                                // 12
    virtual void* flag_api() = 0;                             // 13
    virtual void slot14() = 0;                                // 14
    virtual void* find_interface(const char* name) = 0;       // 15

protected:
    ~host_ifc() = default;
};

// The host's "vantor_flag_api" provider: slot 1 gives a module's flag API, or null.
// (Boundary interfaces never live in an anonymous namespace: the compiler would assume it
// knows every implementation and may drop calls to objects made by the host.)
class flag_api_provider {
public:
    virtual void slot0() = 0;
    virtual void* module_api(const char* module) = 0;

protected:
    ~flag_api_provider() = default;
};

}  // namespace plugin_abi
