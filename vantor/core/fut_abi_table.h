#pragma once
// The plug-in's operations table over its own futures of T, handed to the host with each
// xapi_fut the plug-in gives out. The host may call every operation from any thread; none lets
// an exception out: results are null, an empty text, 0 or the receiver's error operation.
#include <cstdint>
#include <utility>

#include "vantor/core/fut_abi.h"

namespace vantor {
namespace fut_abi_detail {

template <typename T, typename Traits>
struct table {
    using value = typename Traits::value;
    using receiver = typename Traits::receiver;

    static fut<T>* cell(void* handle) noexcept { return static_cast<fut<T>*>(handle); }

    // Operation 3: converts and completes a pending future; ignored otherwise.
    static void __cdecl set_value(void* handle, value v) noexcept
    {
        try {
            if (handle != nullptr && cell(handle)->is_pending()) {
                cell(handle)->set_value(Traits::from_value(v));
            }
        } catch (const exception& e) {
            log_failure("set value", e.what());
        } catch (...) {
            log_failure("set value", "");
        }
    }

    // Operation 4: fails a pending future with the message.
    static void __cdecl set_error(void* handle, const char* message) noexcept
    {
        try {
            if (handle != nullptr) {
                cell(handle)->set_exception(exception(message != nullptr ? message : ""));
            }
        } catch (...) {
            log_failure("set error", "");
        }
    }

    // Hands the value of a done future to the receiver: null; anything else: the empty text.
    static const char* pass_value(void* handle, const receiver& r) noexcept
    {
        try {
            if (handle != nullptr && cell(handle)->is_done()) {
                Traits::pass(r, cell(handle)->state()->value());
                return nullptr;
            }
        } catch (const exception& e) {
            log_failure("get", e.what());
        } catch (...) {
            log_failure("get", "");
        }
        return empty_text();
    }

    // Operation 5: the non-blocking read.
    static const char* __cdecl get(void* handle, receiver r) noexcept { return pass_value(handle, r); }

    // Operation 6: the blocking read.
    static const char* __cdecl wait(void* handle, receiver r) noexcept
    {
        if (handle == nullptr) {
            return empty_text();
        }
        try {
            cell(handle)->state()->wait_settled(-1);
        } catch (const exception& e) {
            log_failure("wait", e.what());
            return empty_text();
        } catch (...) {
            log_failure("wait", "");
            return empty_text();
        }
        return pass_value(handle, r);
    }

    // Operation 7.
    static void __cdecl add_continuation(void* handle, const fut_continuation* record, fut_on_add_fn on_add,
                                         void* on_add_arg) noexcept
    {
        add(handle, record, on_add, on_add_arg);
    }

    // Operation 8: 1 when the record was in the set of a pending future and is now removed.
    static std::int32_t __cdecl remove_continuation(void* handle, const fut_continuation* record) noexcept
    {
        if (handle == nullptr || record == nullptr) {
            return 0;
        }
        return cell(handle)->state()->remove_continuation(*record) ? 1 : 0;
    }

    // Operation 9: done gives the receiver's value operation, failed its error operation with
    // the exception's text, pending its error operation with "fut not set"; its finish
    // operation always comes last.
    static void __cdecl deliver(void* handle, fut_result_receiver<value> r) noexcept
    {
        if (r.ops == nullptr) {
            return;
        }
        try {
            if (handle == nullptr) {
                throw fut_not_set_error();
            }
            const fut_state<T>& s = *cell(handle)->state();
            switch (s.kind()) {
                case fut_kind::done:
                    r.ops->value(r.target, Traits::to_value(s.value()));
                    break;
                case fut_kind::failed:
                    r.ops->error(r.target, s.error_text());
                    break;
                case fut_kind::pending:
                    r.ops->error(r.target, fut_not_set_error().what());
                    break;
            }
        } catch (const exception& e) {
            report_error(r, e.what());
        } catch (...) {
            report_error(r, "");
        }
        try {
            r.ops->finish(r.target);
        } catch (...) {
            log_failure("deliver", "finish failed");
        }
    }

    // Operation 10: as operation 7, and the reporter is set when the record was not taken
    // because the future has settled already, so that the caller runs its continuation itself.
    // (Reporting only a failed future would leave the continuation of a done one never run.)
    static void __cdecl add_continuation_or_report(void* handle, const fut_continuation* record,
                                                   fut_on_add_fn on_add, void* on_add_arg,
                                                   vantor_abi::bool_out reporter) noexcept
    {
        if (add(handle, record, on_add, on_add_arg) == added::settled && reporter.ops != nullptr) {
            reporter.ops->set(reporter.handle, 1);
        }
    }

    // Operation 11: the stored exception's text of a failed future, else null.
    static const char* __cdecl error_text(void* handle) noexcept
    {
        return handle != nullptr ? cell(handle)->state()->error_text() : nullptr;
    }

    enum class added { yes, no, settled };

    static added add(void* handle, const fut_continuation* record, fut_on_add_fn on_add,
                     void* on_add_arg) noexcept
    {
        if (handle == nullptr || record == nullptr) {
            return added::no;
        }
        try {
            fut_state<T>& s = *cell(handle)->state();
            if (s.add_continuation(*record, on_add, on_add_arg, nullptr)) {
                return added::yes;
            }
            return s.kind() == fut_kind::pending ? added::no : added::settled;
        } catch (const exception& e) {
            log_failure("add continuation", e.what());
        } catch (...) {
            log_failure("add continuation", "");
        }
        return added::no;
    }

    static void report_error(const fut_result_receiver<value>& r, const char* text) noexcept
    {
        try {
            r.ops->error(r.target, text);
        } catch (...) {
            log_failure("deliver", "error report failed");
        }
    }

    static constexpr fut_abi_ops<T, Traits> ops{
        fut_abi_version,
        &fut_handle_clone<T>,
        &fut_handle_free<T>,
        &set_value,
        &set_error,
        &get,
        &wait,
        &add_continuation,
        &remove_continuation,
        &deliver,
        &add_continuation_or_report,
        &error_text,
    };
};

}  // namespace fut_abi_detail

// The plug-in's table for futures of T.
template <typename T, typename Traits = fut_abi_traits<T>>
const fut_abi_ops<T, Traits>& fut_abi_ops_of() noexcept
{
    return fut_abi_detail::table<T, Traits>::ops;
}

// Hands a future to the host: a new handle on the same state, with the plug-in's table.
template <typename T, typename Traits = fut_abi_traits<T>>
xapi_fut<T, Traits> make_xapi_fut(const fut<T>& f)
{
    return {&fut_abi_ops_of<T, Traits>(), new fut<T>(f)};
}

}  // namespace vantor
