#pragma once
// The common body of the bound-call tasks: a callable with copied arguments, where an argument
// that is a fut passes its value and makes the task wait for it.
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "vantor/core/fut.h"
#include "vantor/core/ptask.h"

namespace vantor {

namespace ptask_detail {

// How a bound argument reaches the call: a copied value as itself, a future as its value.
template <typename A>
struct bound_arg {
    static constexpr bool is_fut = false;
    static A& value(A& a) noexcept { return a; }
};
template <typename X>
struct bound_arg<fut<X>> {
    static constexpr bool is_fut = true;
    static X value(fut<X>& f) { return f.get(); }
};

template <typename Call, typename... A>
using call_result_t = std::invoke_result_t<Call&, decltype(bound_arg<A>::value(std::declval<A&>()))...>;

// What the task's future holds: the call's result, or the int 1 for a call without a value.
template <typename Call, typename... A>
using task_result_t = std::conditional_t<std::is_void_v<call_result_t<Call, A...>>, int,
                                         std::remove_cvref_t<call_result_t<Call, A...>>>;

// A method of a target held by `Target` (a refc_obj or a pcallmptr_), as a callable.
template <typename Target, typename Method>
struct member_call {
    Target target;
    Method method;

    template <typename... P>
    decltype(auto) operator()(P&&... p)
    {
        return std::invoke(method, target.get(), std::forward<P>(p)...);
    }
};

// The common body of every bound-call task. The constructor attaches the task to every future
// argument; when one has failed already, it detaches from the others at once, so that the task
// runs as soon as its creator releases it.
template <typename Call, typename... A>
class bound_call_task : public ptask<task_result_t<Call, A...>> {
public:
    bound_call_task(const executor_handle& executor, Call call, A... args)
        : ptask<task_result_t<Call, A...>>(executor), call_(std::move(call)), args_(std::move(args)...)
    {
        bool already_failed = false;
        try {
            for_each_source([&](fut_state_base& s) { this->attach_to(s, already_failed); });
        } catch (...) {
            // Sources already attached must not keep a record of a task that is not built.
            detach_all();
            throw;
        }
        if (already_failed) {
            detach_all();
        }
    }

protected:
    void on_source_failed() override { detach_all(); }

    void run() override
    {
        bool failed = false;
        for_each_source([&](fut_state_base& s) {
            if (!failed) {
                failed = this->forward_error(s);
            }
        });
        if (failed) {
            return;
        }
        this->complete_with([this]() -> decltype(auto) {
            return std::apply(
                [this](A&... a) -> decltype(auto) { return std::invoke(call_, bound_arg<A>::value(a)...); },
                args_);
        });
    }

private:
    template <typename F>
    void for_each_source(F&& f)
    {
        std::apply(
            [&](A&... a) {
                (
                    [&](auto& arg) {
                        if constexpr (bound_arg<std::remove_cvref_t<decltype(arg)>>::is_fut) {
                            f(*arg.state());
                        }
                    }(a),
                    ...);
            },
            args_);
    }

    void detach_all() noexcept
    {
        for_each_source([this](fut_state_base& s) { this->detach_from(s); });
    }

    Call call_;
    std::tuple<A...> args_;
};

}  // namespace ptask_detail

}  // namespace vantor
