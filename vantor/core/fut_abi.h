#pragma once
// The form in which a future crosses the plug-in boundary, xapi_fut {operations table; handle},
// the plug-in's own operations table over its futures, and pxtask1, which hands a future's
// outcome to a host-side future. Every operation of the table is a __cdecl function that lets
// no exception out.
#include <cstdint>

#include "vantor/core/abi_forms.h"
#include "vantor/core/fut.h"
#include "vantor/core/ptask.h"

namespace vantor {

// How values of T cross the boundary. No specialisation lives in the core; the one for the
// element type lives with the element. A specialisation provides:
//   using value = ...;     the two-word form {table; handle} in which a value crosses;
//   using receiver = ...;  the two-word form {record; target} that get and wait hand a value to;
//   static T from_value(const value& v);             converts a value (may throw);
//   static value to_value(const T& v);               a view over v, valid while v lives;
//   static void pass(const receiver& r, const T& v); hands v to a receiver.
template <typename T>
struct fut_abi_traits;

// The receiver of deliver: {table; target}. Words 0 and 1 of its table are not used here.
template <typename Value>
struct fut_result_receiver_ops {
    std::intptr_t zero;
    void* reserved;
    void(__cdecl* finish)(void* target);
    void(__cdecl* value)(void* target, Value value);
    void(__cdecl* error)(void* target, const char* text);
};
template <typename Value>
struct fut_result_receiver {
    const fut_result_receiver_ops<Value>* ops;
    void* target;
};

// The operations table of a future of T, in its fixed order. Word 0 is the table's version (2).
// Every function takes the handle first.
template <typename T, typename Traits = fut_abi_traits<T>>
struct fut_abi_ops {
    using value = typename Traits::value;
    using receiver = typename Traits::receiver;

    std::intptr_t version;
    void*(__cdecl* clone)(void* handle);
    void(__cdecl* free)(void* handle);
    void(__cdecl* set_value)(void* handle, value v);
    void(__cdecl* set_error)(void* handle, const char* message);
    const char*(__cdecl* get)(void* handle, receiver r);
    const char*(__cdecl* wait)(void* handle, receiver r);
    void(__cdecl* add_continuation)(void* handle, const fut_continuation* record, fut_on_add_fn on_add,
                                    void* on_add_arg);
    std::int32_t(__cdecl* remove_continuation)(void* handle, const fut_continuation* record);
    void(__cdecl* deliver)(void* handle, fut_result_receiver<value> r);
    void(__cdecl* add_continuation_or_report)(void* handle, const fut_continuation* record,
                                              fut_on_add_fn on_add, void* on_add_arg,
                                              vantor_abi::bool_out reporter);
    const char*(__cdecl* error_text)(void* handle);
};

// A future as it crosses the boundary. Whoever holds the pair owns the handle and frees it
// through its table.
template <typename T, typename Traits = fut_abi_traits<T>>
struct xapi_fut {
    const fut_abi_ops<T, Traits>* ops = nullptr;
    void* handle = nullptr;
};

inline constexpr std::intptr_t fut_abi_version = 2;

namespace fut_abi_detail {

// Logs a failure that a table operation swallows.
void log_failure(const char* operation, const char* text) noexcept;
// The empty text that get and wait return when they hand nothing over.
const char* empty_text() noexcept;

}  // namespace fut_abi_detail

// The plug-in's handle is a heap cell holding one reference to a future's state: a fut<T>.
// Operation 1: a new cell with another reference to the same state; null for a null handle or
// when memory runs out.
template <typename T>
void* __cdecl fut_handle_clone(void* handle) noexcept
{
    if (handle == nullptr) {
        return nullptr;
    }
    try {
        return new fut<T>(*static_cast<fut<T>*>(handle));
    } catch (...) {
        fut_abi_detail::log_failure("clone", "out of memory");
        return nullptr;
    }
}

// Operation 2: drops the cell's reference and frees the cell; a null handle is ignored.
template <typename T>
void __cdecl fut_handle_free(void* handle) noexcept
{
    delete static_cast<fut<T>*>(handle);
}

// Waits for a source future of T, then hands its value (operation 3), or its exception's text
// (operation 4), to a host-side future through that future's own table. The task takes over the
// host-side handle and frees it (operation 2) when destroyed. Its own future completes with 1.
template <typename T, typename Traits = fut_abi_traits<T>>
class pxtask1 final : public ptask<int> {
public:
    pxtask1(const executor_handle& executor, fut<T> source, xapi_fut<T, Traits> target)
        : ptask<int>(executor), source_(std::move(source)), target_(target)
    {
        if (target_.ops == nullptr) {
            throw internal_error(__LINE__);
        }
        bool already_failed = false;
        attach_to(*source_.state(), already_failed);
        if (already_failed) {
            detach_from(*source_.state());
        }
    }

protected:
    ~pxtask1() override
    {
        if (target_.ops != nullptr && target_.handle != nullptr) {
            target_.ops->free(target_.handle);
        }
    }

    void on_source_failed() override { detach_from(*source_.state()); }

    void run() override
    {
        complete_with([this] {
            const fut_state<T>& source = *source_.state();
            if (const char* text = source.error_text(); text != nullptr) {
                target_.ops->set_error(target_.handle, text);
                return;
            }
            try {
                target_.ops->set_value(target_.handle, Traits::to_value(source.value()));
            } catch (const exception& e) {
                // The host-side future learns why it gets no value; the task's own future too.
                target_.ops->set_error(target_.handle, e.what());
                throw;
            }
        });
    }

private:
    fut<T> source_;
    xapi_fut<T, Traits> target_;
};

}  // namespace vantor
