#pragma once
// The bound-call tasks: call a free function, or a method of a counted object, with copied
// arguments on an executor and complete the task's future with the result (1 for a call without
// a value). An argument that is a fut is replaced by its value: the task waits until all such
// futures have settled, and fails with the first failed one's exception (in argument order)
// without calling.
#include <utility>

#include "vantor/core/fut.h"
#include "vantor/core/ptask.h"
#include "vantor/core/ptask_bound.h"

namespace vantor {

// A plain pointer holder as the target of a member task that holds no reference (the caller
// keeps the object alive until the task has run).
template <typename C>
struct pcallmptr_ {
    C* ptr = nullptr;
    C* get() const noexcept { return ptr; }
};

// A free function (or any callable) Fn with N bound arguments A1..AN; an argument of type fut<X>
// passes its X. Made with new; the creator takes the future (take_fut), which also drops its
// reference and so posts the task.
template <typename Fn>
class pcalltask0 final : public ptask_detail::bound_call_task<Fn> {
    using ptask_detail::bound_call_task<Fn>::bound_call_task;
};
template <typename Fn, typename A1>
class pcalltask1 final : public ptask_detail::bound_call_task<Fn, A1> {
    using ptask_detail::bound_call_task<Fn, A1>::bound_call_task;
};
template <typename Fn, typename A1, typename A2>
class pcalltask2 final : public ptask_detail::bound_call_task<Fn, A1, A2> {
    using ptask_detail::bound_call_task<Fn, A1, A2>::bound_call_task;
};
template <typename Fn, typename A1, typename A2, typename A3>
class pcalltask3 final : public ptask_detail::bound_call_task<Fn, A1, A2, A3> {
    using ptask_detail::bound_call_task<Fn, A1, A2, A3>::bound_call_task;
};
template <typename Fn, typename A1, typename A2, typename A3, typename A4>
class pcalltask4 final : public ptask_detail::bound_call_task<Fn, A1, A2, A3, A4> {
    using ptask_detail::bound_call_task<Fn, A1, A2, A3, A4>::bound_call_task;
};
template <typename Fn, typename A1, typename A2, typename A3, typename A4, typename A5>
class pcalltask5 final : public ptask_detail::bound_call_task<Fn, A1, A2, A3, A4, A5> {
    using ptask_detail::bound_call_task<Fn, A1, A2, A3, A4, A5>::bound_call_task;
};
template <typename Fn, typename A1, typename A2, typename A3, typename A4, typename A5, typename A6,
          typename A7>
class pcalltask7 final : public ptask_detail::bound_call_task<Fn, A1, A2, A3, A4, A5, A6, A7> {
    using ptask_detail::bound_call_task<Fn, A1, A2, A3, A4, A5, A6, A7>::bound_call_task;
};

// A method of the object that Target holds (refc_obj<C>, which keeps it alive until the task is
// destroyed on the executor, or pcallmptr_<C>), with N bound arguments.
template <typename Target, typename Method, typename... A>
class pcallmtask_base
    : public ptask_detail::bound_call_task<ptask_detail::member_call<Target, Method>, A...> {
public:
    pcallmtask_base(const executor_handle& executor, Target target, Method method, A... args)
        : ptask_detail::bound_call_task<ptask_detail::member_call<Target, Method>, A...>(
              executor, ptask_detail::member_call<Target, Method>{std::move(target), method},
              std::move(args)...)
    {
    }
};
template <typename Target, typename Method>
class pcallmtask0 final : public pcallmtask_base<Target, Method> {
    using pcallmtask_base<Target, Method>::pcallmtask_base;
};
template <typename Target, typename Method, typename A1>
class pcallmtask1 final : public pcallmtask_base<Target, Method, A1> {
    using pcallmtask_base<Target, Method, A1>::pcallmtask_base;
};
template <typename Target, typename Method, typename A1, typename A2>
class pcallmtask2 final : public pcallmtask_base<Target, Method, A1, A2> {
    using pcallmtask_base<Target, Method, A1, A2>::pcallmtask_base;
};
template <typename Target, typename Method, typename A1, typename A2, typename A3>
class pcallmtask3 final : public pcallmtask_base<Target, Method, A1, A2, A3> {
    using pcallmtask_base<Target, Method, A1, A2, A3>::pcallmtask_base;
};
template <typename Target, typename Method, typename A1, typename A2, typename A3, typename A4>
class pcallmtask4 final : public pcallmtask_base<Target, Method, A1, A2, A3, A4> {
    using pcallmtask_base<Target, Method, A1, A2, A3, A4>::pcallmtask_base;
};

namespace ptask_detail {

template <typename Fn, typename... A>
struct pcalltask_of;
template <typename Fn>
struct pcalltask_of<Fn> {
    using type = pcalltask0<Fn>;
};
template <typename Fn, typename A1>
struct pcalltask_of<Fn, A1> {
    using type = pcalltask1<Fn, A1>;
};
template <typename Fn, typename A1, typename A2>
struct pcalltask_of<Fn, A1, A2> {
    using type = pcalltask2<Fn, A1, A2>;
};
template <typename Fn, typename A1, typename A2, typename A3>
struct pcalltask_of<Fn, A1, A2, A3> {
    using type = pcalltask3<Fn, A1, A2, A3>;
};
template <typename Fn, typename A1, typename A2, typename A3, typename A4>
struct pcalltask_of<Fn, A1, A2, A3, A4> {
    using type = pcalltask4<Fn, A1, A2, A3, A4>;
};
template <typename Fn, typename A1, typename A2, typename A3, typename A4, typename A5>
struct pcalltask_of<Fn, A1, A2, A3, A4, A5> {
    using type = pcalltask5<Fn, A1, A2, A3, A4, A5>;
};
template <typename Fn, typename A1, typename A2, typename A3, typename A4, typename A5, typename A6,
          typename A7>
struct pcalltask_of<Fn, A1, A2, A3, A4, A5, A6, A7> {
    using type = pcalltask7<Fn, A1, A2, A3, A4, A5, A6, A7>;
};

template <typename Target, typename Method, typename... A>
struct pcallmtask_of;
template <typename Target, typename Method>
struct pcallmtask_of<Target, Method> {
    using type = pcallmtask0<Target, Method>;
};
template <typename Target, typename Method, typename A1>
struct pcallmtask_of<Target, Method, A1> {
    using type = pcallmtask1<Target, Method, A1>;
};
template <typename Target, typename Method, typename A1, typename A2>
struct pcallmtask_of<Target, Method, A1, A2> {
    using type = pcallmtask2<Target, Method, A1, A2>;
};
template <typename Target, typename Method, typename A1, typename A2, typename A3>
struct pcallmtask_of<Target, Method, A1, A2, A3> {
    using type = pcallmtask3<Target, Method, A1, A2, A3>;
};
template <typename Target, typename Method, typename A1, typename A2, typename A3, typename A4>
struct pcallmtask_of<Target, Method, A1, A2, A3, A4> {
    using type = pcallmtask4<Target, Method, A1, A2, A3, A4>;
};

}  // namespace ptask_detail

// Posts fn(args...) to `executor` with copied arguments and returns its future: builds the
// matching pcalltaskN, takes its future and drops the creator's reference.
template <typename Fn, typename... A>
auto post_call(const executor_handle& executor, Fn fn, A... args)
{
    using task = typename ptask_detail::pcalltask_of<Fn, A...>::type;
    return (new task(executor, std::move(fn), std::move(args)...))->take_fut();
}

// Posts (target->*method)(args...) to `executor`, as post_call.
template <typename Target, typename Method, typename... A>
auto post_mcall(const executor_handle& executor, Target target, Method method, A... args)
{
    using task = typename ptask_detail::pcallmtask_of<Target, Method, A...>::type;
    return (new task(executor, std::move(target), method, std::move(args)...))->take_fut();
}

// The pattern of every operation that posts a call and returns its future.
inline fut<bool> post_bool_call(const executor_handle& executor, bool (*function)())
{
    return post_call(executor, function);
}

}  // namespace vantor
